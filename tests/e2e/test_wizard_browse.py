"""The destination Browse button: the folder browser over the classic
open-file dialog, the path check, and creating a new destination."""

import os
import unittest

from qorwine import WinePrefix
from wizardlib import (CANCEL, DEST_BROWSE, DEST_FOLDER, FB_CURRENT_FOLDER, FB_HIDDEN, FB_PATH,
                       NEXT, TITLE_BROWSE, TITLE_DESTINATION, TITLE_READY, Page, Wizard,
                       build_setup, read_bytes)

START = "C:\\Program Files\\QOR\\Trovix"
INVALID = "Invalid path.\nMake sure it looks something like:\n" + START


class BrowseTest(unittest.TestCase):

    def open_browser(self, w):
        w.click(DEST_BROWSE)
        return w.dialog(TITLE_BROWSE)

    def type_and_ok(self, w, browser, text):
        w.settext(browser, FB_PATH, text)
        w.click(1, browser)

    def test_invalid_paths_are_refused_and_cancel_changes_nothing(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                browser = self.open_browser(w)
                page = Page(w.cmd("dump", browser))
                self.assertEqual(page.text(FB_PATH), "")
                for cid in FB_HIDDEN:
                    self.assertFalse(page.visible(cid), cid)

                for typed in ("", "Program Files\\QOR", "C"):
                    self.type_and_ok(w, browser, typed)
                    box = w.msgbox("Invalid Path", "ok")
                    self.assertEqual(box["text"], INVALID)
                    self.assertTrue(box["icon"])
                    w.gone(box["hwnd"])
                    self.assertEqual(w.cmd("dump", browser)["caption"], TITLE_BROWSE)

                w.settext(browser, FB_PATH, "C:\\Elsewhere")
                w.click(2, browser)
                w.gone(browser)
                w.no_msgbox("Invalid Path", 0.5)
                w.no_msgbox("Create Folder?", 0.5)
                self.assertEqual(w.page().text(DEST_FOLDER), START)
                self.assertFalse(os.path.exists(p.unixpath("C:\\Elsewhere")))

                # A new folder that the user declines to create changes nothing.
                browser = self.open_browser(w)
                self.type_and_ok(w, browser, "C:\\Declined\\")
                box = w.msgbox("Create Folder?", "no")
                self.assertEqual(box["text"], "The folder C:\\Declined does not exist.  Create it?")
                self.assertFalse(box["icon"])
                self.assertEqual(w.wait_page(TITLE_DESTINATION).text(DEST_FOLDER), START)
                self.assertFalse(os.path.exists(p.unixpath("C:\\Declined")))

                w.click(CANCEL)
                w.msgbox("Cancel Installation", "yes")
                self.assertEqual(w.exit_code(), -1)

    def test_new_folder_is_created_logged_and_used(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                browser = self.open_browser(w)
                # Typed with a trailing backslash: the browser keeps it, the
                # wizard drops one.
                self.type_and_ok(w, browser, "C:\\Apps\\Trovix\\")
                box = w.msgbox("Create Folder?", "yes")
                self.assertEqual(box["text"],
                                 "The folder C:\\Apps\\Trovix does not exist.  Create it?")
                page = w.wait_page(TITLE_DESTINATION)
                self.assertEqual(page.text(DEST_FOLDER), "C:\\Apps\\Trovix")
                self.assertTrue(os.path.isdir(p.unixpath("C:\\Apps\\Trovix")))
                log = read_bytes(p.unixpath("C:\\Apps\\Trovix\\TrovixInstall.inf"))
                self.assertEqual(log.decode("latin-1"), "\r\n".join([
                    "[Trovix Dirs]", "C:\\Apps=", "C:\\Apps\\Trovix=", "[Trovix Files]",
                    "C:\\Apps\\Trovix\\TrovixInstall.inf=", ""]))

                # An existing folder is taken without a question.
                browser = self.open_browser(w)
                self.type_and_ok(w, browser, "C:\\windows")
                w.gone(browser)
                w.no_msgbox("Create Folder?", 1.0)
                self.assertEqual(w.page().text(DEST_FOLDER), "C:\\windows")

                # And back to the new one, which now exists: the install goes there.
                browser = self.open_browser(w)
                self.type_and_ok(w, browser, "C:\\Apps\\Trovix")
                w.gone(browser)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.walk_to_finished()
                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)
            self.assertTrue(os.path.isfile(p.unixpath("C:\\Apps\\Trovix\\QorXfer.dll")))
            self.assertFalse(os.path.exists(p.unixpath(START)))

    def test_double_click_in_folder_list_fills_the_path_box(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            with Wizard(p, setup, "-trovixdir=c:\\windows") as w:
                self.assertEqual(w.wait_page(TITLE_DESTINATION).text(DEST_FOLDER), "c:\\windows")
                browser = self.open_browser(w)
                items = w.cmd("listbox", browser, 1121)["items"]
                self.assertTrue(items)
                w.cmd("dblclick", browser, 1121, 0)
                for _ in range(50):
                    page = Page(w.cmd("dump", browser))
                    if page.text(FB_PATH):
                        break
                    w.cmd("sleep", 100)
                self.assertNotEqual(page.text(FB_PATH), "")
                self.assertEqual(page.text(FB_PATH), page.text(FB_CURRENT_FOLDER))
                w.click(2, browser)
                w.gone(browser)
                w.click(CANCEL)
                w.msgbox("Cancel Installation", "yes")
                self.assertEqual(w.exit_code(), -1)


if __name__ == "__main__":
    unittest.main()
