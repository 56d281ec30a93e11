"""The wizard of a receiver setup: the receiver destination page, the
3rd-party application page with its open-file dialog, and where the receiver
ends up."""

import os
import unittest

from qorwine import WinePrefix
from wizardlib import (BACK, CANCEL, DEST_BROWSE, DEST_FOLDER, DEST_GROUP, INSTRUCTIONS, NEXT,
                       PRODUCT_ENTRIES, THIRD_BROWSE, THIRD_FOLDER, THIRD_GROUP,
                       TITLE_COMPLETE, TITLE_DESTINATION, TITLE_READY, Wizard, build_setup,
                       instructions)

INSTALL_NAME = "GameX Receiver"
APP_KEY = "Software\\Vendor\\GameX"
SLOTS = {
    "TVIID_INST_NAME": INSTALL_NAME,
    "TVIID_RCV_REG_KEY": "GameXRcv",
    "TVIID_APP_REG_KEY": APP_KEY,
    "TVIID_APP_LOC_ITEM": "InstallPath",
    "TVIID_APP_NAME": "GameX",
    "TVIID_APP_EXE": "gamex.exe",
}
ENTRIES = PRODUCT_ENTRIES + [("GameXRcv.dll", "[RECEIVE]\\GameXRcv.dll")]
TITLE_RECEIVER = "Choose %s Installation Destination" % INSTALL_NAME
# Page 3 and its Browse dialog name the application whose folder they ask for.
TITLE_THIRD = "Select GameX Folder"
TITLE_OPEN = "Select folder containing GameX"
PAGE3_TEXT = instructions(141, 142, disp=INSTALL_NAME, third="GameX")


def make_program(prefix, folder, name="gamex.exe"):
    path = prefix.unixpath(folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(b"MZ stand-in")


class ReceiverWizardTest(unittest.TestCase):

    def assertThirdPartyPage(self, page, shown, next_enabled):
        self.assertEqual(page.caption, TITLE_THIRD)
        self.assertEqual(page.text(INSTRUCTIONS), PAGE3_TEXT)
        self.assertEqual(page.text(THIRD_GROUP), "Select the &Folder Containing GameX:")
        self.assertEqual(page.text(THIRD_FOLDER), shown)
        for cid in (THIRD_GROUP, THIRD_FOLDER, THIRD_BROWSE):
            self.assertTrue(page.visible(cid), cid)
        for cid in (DEST_GROUP, DEST_FOLDER, DEST_BROWSE):
            self.assertFalse(page.visible(cid), cid)
        self.assertTrue(page.enabled(BACK))
        self.assertEqual(page.enabled(NEXT), next_enabled)

    def choose_program(self, w, path):
        w.click(THIRD_BROWSE)
        w.pickfile(w.dialog(TITLE_OPEN), path)

    def test_found_folder_walks_all_six_pages(self):
        with WinePrefix() as p:
            p.reg_add("HKLM\\" + APP_KEY, "InstallPath", "C:\\Games\\GameX")
            make_program(p, "C:\\Games\\GameX")
            setup = build_setup(p, SLOTS, ENTRIES)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                page = w.wait_page(TITLE_RECEIVER)
                # Without a stamped default folder the receiver folder is fixed:
                # no Browse, and the maker's subfolder is added.
                self.assertEqual(page.text(DEST_FOLDER), "C:\\Games\\GameX\\QOR")
                self.assertTrue(page.visible(DEST_GROUP))
                self.assertFalse(page.visible(DEST_BROWSE))
                self.assertEqual(page.text(INSTRUCTIONS),
                                 instructions(155, 158, disp=INSTALL_NAME))
                self.assertTrue(page.enabled(BACK))
                self.assertTrue(page.enabled(NEXT))

                w.click(NEXT)
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\", False)
                # Back to page 2 and on again: page 2 never leaves Next disabled.
                w.click(BACK)
                self.assertTrue(w.wait_page(TITLE_RECEIVER).enabled(NEXT))
                w.click(NEXT)
                w.wait_page(TITLE_THIRD)

                self.choose_program(w, "C:\\Games\\GameX\\gamex.exe")
                w.no_msgbox("Incorrect File Selected")
                self.assertThirdPartyPage(w.page(), "C:\\Games\\GameX\\", True)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(BACK)
                w.wait_page(TITLE_THIRD)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.walk_to_finished()
                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)
            self.assertTrue(os.path.isfile(p.unixpath("C:\\Games\\GameX\\QOR\\GameXRcv.dll")))
            self.assertEqual(
                p.reg_query("HKLM\\Software\\QOR\\Trovix\\3rdPartyApps\\gamex.exe", "Path"),
                "C:\\Games\\GameX")

    def test_stamped_default_folder_offers_browse_on_page_2(self):
        slots = dict(SLOTS, TVIID_RCV_DEF_DIR="C:\\Games\\Default")
        with WinePrefix() as p:
            p.reg_add("HKLM\\" + APP_KEY, "InstallPath", "C:\\Games\\GameX\\")
            make_program(p, "C:\\Games\\GameX")
            setup = build_setup(p, slots, ENTRIES)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                page = w.wait_page(TITLE_RECEIVER)
                # Found and used as it is: one backslash less, no subfolder.
                self.assertEqual(page.text(DEST_FOLDER), "C:\\Games\\GameX")
                self.assertTrue(page.visible(DEST_BROWSE))
                self.assertEqual(page.text(INSTRUCTIONS),
                                 instructions(155, 156, 157, disp=INSTALL_NAME))

                # Browse on page 2 moves the receiver, not the product.
                w.click(DEST_BROWSE)
                browser = w.dialog("Select the Installation Folder")
                w.settext(browser, 1013, "C:\\Games\\Other")
                w.click(1, browser)
                w.msgbox("Create Folder?", "yes")
                self.assertEqual(w.wait_page(TITLE_RECEIVER).text(DEST_FOLDER),
                                 "C:\\Games\\Other")
                w.click(BACK)
                page = w.wait_page(TITLE_DESTINATION)
                self.assertEqual(page.text(DEST_FOLDER), "C:\\Program Files\\QOR\\Trovix")
                w.click(NEXT)
                w.wait_page(TITLE_RECEIVER)
                w.click(NEXT)
                w.wait_page(TITLE_THIRD)
                self.choose_program(w, "C:\\Games\\GameX\\gamex.exe")
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\Games\\GameX\\", True)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.walk_to_finished()
                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)
            self.assertTrue(os.path.isfile(p.unixpath("C:\\Games\\Other\\GameXRcv.dll")))
            self.assertTrue(os.path.isfile(
                p.unixpath("C:\\Program Files\\QOR\\Trovix\\QorXfer.dll")))

    def test_folder_not_found_with_default_keeps_the_default_folder(self):
        slots = dict(SLOTS, TVIID_RCV_DEF_DIR="C:\\Games\\Default")
        with WinePrefix() as p:
            make_program(p, "C:\\Games\\X")
            setup = build_setup(p, slots, ENTRIES)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                page = w.wait_page(TITLE_RECEIVER)
                self.assertEqual(page.text(DEST_FOLDER), "C:\\Games\\Default")
                w.click(NEXT)
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\", False)
                self.choose_program(w, "C:\\Games\\X\\gamex.exe")
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\Games\\X\\", True)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.walk_to_finished()
                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)
            self.assertTrue(os.path.isfile(p.unixpath("C:\\Games\\Default\\GameXRcv.dll")))

    def test_folder_not_found_asks_on_page_3(self):
        with WinePrefix() as p:
            make_program(p, "C:\\Games\\X")
            make_program(p, "C:\\Games\\Y", "other.exe")
            make_program(p, "C:\\Games\\Z", "readme.exe")
            make_program(p, "C:\\Games\\Z")
            setup = build_setup(p, SLOTS, ENTRIES)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\", False)
                self.assertFalse(w.try_click(NEXT)["ok"])
                w.click(BACK)
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_THIRD)

                # A wrongly named file: message 146, its folder is taken anyway.
                self.choose_program(w, "C:\\Games\\Y\\other.exe")
                box = w.msgbox("Incorrect File Selected", "ok")
                self.assertEqual(box["text"], "You must select gamex.exe from the GameX folder.")
                self.assertTrue(box["icon"])
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\Games\\Y\\", False)

                # Wrong name again, but the folder holds the program: Next opens.
                self.choose_program(w, "C:\\Games\\Z\\readme.exe")
                w.msgbox("Incorrect File Selected", "ok")
                self.assertThirdPartyPage(w.wait_page(TITLE_THIRD), "C:\\Games\\Z\\", True)

                self.choose_program(w, "C:\\Games\\X\\GAMEX.EXE")
                w.no_msgbox("Incorrect File Selected")
                self.assertThirdPartyPage(w.page(), "C:\\Games\\X\\", True)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.walk_to_finished()
                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)
            self.assertTrue(os.path.isfile(p.unixpath("C:\\Games\\X\\QOR\\GameXRcv.dll")))
            self.assertEqual(
                p.reg_query("HKLM\\Software\\Corvane OnLine\\Setup\\GameXRcv", "Directory"),
                "C:\\Games\\X\\QOR")
            self.assertEqual(
                p.reg_query("HKLM\\Software\\QOR\\Trovix\\3rdPartyApps\\gamex.exe", "Path"),
                "C:\\Games\\X")

    def test_without_application_name_page_3_names_the_program(self):
        slots = dict(SLOTS)
        del slots["TVIID_APP_NAME"]
        with WinePrefix() as p:
            setup = build_setup(p, slots, ENTRIES)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                page = w.wait_page("Select gamex.exe Folder")
                self.assertEqual(page.text(INSTRUCTIONS),
                                 instructions(141, 142, disp=INSTALL_NAME, third="gamex.exe"))
                self.assertEqual(page.text(THIRD_GROUP), "Select the &Folder Containing gamex.exe:")
                self.assertFalse(page.enabled(NEXT))
                w.click(THIRD_BROWSE)
                browse = w.dialog("Select folder containing gamex.exe")
                w.click(2, browse)  # IDCANCEL
                w.gone(browse)
                w.click(CANCEL)
                w.msgbox("Cancel Installation", "yes")
                self.assertEqual(w.exit_code(), -1)


if __name__ == "__main__":
    unittest.main()
