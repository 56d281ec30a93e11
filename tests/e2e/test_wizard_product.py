"""The wizard of a product-only setup: its pages, Back, Cancel, the finished
page's Start Menu entries, the Desktop internet shortcut and the launch, and
the uninstall log a wizard install leaves."""

import os
import re
import subprocess
import unittest

import qorwine
from qorwine import WinePrefix
from installkit import PRODUCT_LOG_LINES
from wizardlib import (BACK, CANCEL, DESKTOP_ICON, DEST_BROWSE, DEST_FOLDER, DEST_GROUP,
                       INSTRUCTIONS, LAUNCH, NEXT, PICTURE, PROGRESS_BAR, PROGRESS_LABEL,
                       PRODUCT_URL, THIRD_BROWSE, THIRD_FOLDER, THIRD_GROUP, TITLE_COMPLETE,
                       TITLE_COPYING, TITLE_DESTINATION, TITLE_READY, Wizard, build_setup, instructions,
                       read_bytes, register_recording_browser, settle)

PRODUCT_FOLDER = "C:\\Program Files\\QOR\\Trovix"
START_MENU = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\QOR\\Trovix"
DESKTOP_URL = "C:\\users\\Public\\Desktop\\Start Trovix.url"

# What an interactive install of the shipped payload into a fresh machine
# leaves in TrovixInstall.inf, with the Desktop icon chosen: the silent
# install's log and the finished page's Start Menu and Desktop sections.
EXAMPLE_LOG = "\r\n".join(PRODUCT_LOG_LINES + [
    "[Trovix Start Menu Folders]",
    "QOR=",
    "QOR\\Trovix=",
    "[Trovix Start Menu URLs]",
    "Start Trovix=QOR\\Trovix",
    "[Trovix Start Menu Shortcuts]",
    "Configure Trovix=QOR\\Trovix",
    "Uninstall Trovix=QOR\\Trovix",
    "[Trovix Desktop URLs]",
    "Start Trovix=",
]) + "\r\n"


def screen_pixels(prefix, x, y, width, height):
    """{(dx, dy): (r, g, b)} of a screen area, read with ImageMagick's import."""
    out = subprocess.run(
        ["import", "-display", prefix.env["DISPLAY"], "-window", "root", "-crop",
         "%dx%d+%d+%d" % (width, height, x, y), "+repage", "-depth", "8", "txt:-"],
        capture_output=True, text=True, check=True).stdout
    pixels = {}
    for line in out.splitlines():
        m = re.match(r"(\d+),(\d+): \((\d+),(\d+),(\d+)", line)
        if m:
            pixels[(int(m[1]), int(m[2]))] = tuple(int(v) for v in m.groups()[2:5])
    return pixels


def lnkinfo(path):
    """The independent reading of a .lnk file by liblnk's lnkinfo."""
    return subprocess.run(["lnkinfo", path], capture_output=True, text=True, check=True).stdout


class ProductWizardTest(unittest.TestCase):
    maxDiff = None

    def assertDestinationPage(self, page):
        self.assertEqual(page.caption, TITLE_DESTINATION)
        self.assertEqual(page.text(INSTRUCTIONS), instructions(115, 116, 117, 118))
        self.assertEqual(page.text(DEST_FOLDER), PRODUCT_FOLDER)
        for cid in (DEST_GROUP, DEST_FOLDER, DEST_BROWSE):
            self.assertTrue(page.visible(cid), cid)
        for cid in (THIRD_GROUP, THIRD_FOLDER, THIRD_BROWSE, PROGRESS_LABEL, LAUNCH, DESKTOP_ICON):
            self.assertFalse(page.visible(cid), cid)
        self.assertTrue(page.enabled(NEXT))
        self.assertFalse(page.enabled(BACK))

    def assertReadyPage(self, page):
        self.assertEqual(page.caption, TITLE_READY)
        self.assertEqual(page.text(INSTRUCTIONS), instructions(121, 122, 123))
        for cid in (DEST_GROUP, DEST_FOLDER, DEST_BROWSE, THIRD_GROUP, THIRD_FOLDER,
                    THIRD_BROWSE, PROGRESS_LABEL):
            self.assertFalse(page.visible(cid), cid)
        self.assertTrue(page.enabled(BACK))
        self.assertTrue(page.enabled(NEXT))

    def test_pages_1_4_5_6_back_and_finish_with_both_options(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            record = register_recording_browser(p)
            with Wizard(p, setup) as w:
                page = w.wait_page(TITLE_DESTINATION)
                self.assertDestinationPage(page)
                # The picture is centred left of the instructions and above the
                # group frame, in client coordinates.
                x0, y0 = page.client[0], page.client[1]
                pic = page.controls[PICTURE]["rect"]
                text = page.controls[INSTRUCTIONS]["rect"]
                group = page.controls[DEST_GROUP]["rect"]
                self.assertEqual(pic[0] - x0, (text[0] - x0 - (pic[2] - pic[0])) // 2)
                self.assertEqual(pic[1] - y0, (group[1] - y0 - (pic[3] - pic[1])) // 2)

                w.click(NEXT)
                self.assertReadyPage(w.wait_page(TITLE_READY))
                w.click(BACK)
                self.assertDestinationPage(w.wait_page(TITLE_DESTINATION))
                w.click(NEXT)
                self.assertReadyPage(w.wait_page(TITLE_READY))

                page = w.walk_to_finished()
                self.assertEqual(page.text(INSTRUCTIONS), instructions(119, 120, 160, 161))
                self.assertEqual(page.text(CANCEL), "&Finished")
                self.assertTrue(page.enabled(CANCEL))
                self.assertFalse(page.enabled(NEXT))
                self.assertFalse(page.enabled(BACK))
                self.assertFalse(page.visible(PROGRESS_LABEL))
                for cid in (LAUNCH, DESKTOP_ICON):
                    self.assertTrue(page.visible(cid))
                    self.assertTrue(page.checked(cid))

                # The Start Menu entries exist as soon as the page shows; the
                # Desktop shortcut and the launch wait for Finished.
                for name in ("Start Trovix.url", "Configure Trovix.lnk", "Uninstall Trovix.lnk"):
                    self.assertTrue(os.path.isfile(p.unixpath(START_MENU + "\\" + name)), name)
                self.assertFalse(os.path.exists(p.unixpath(DESKTOP_URL)))
                self.assertFalse(os.path.exists(record))

                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)

            url = read_bytes(p.unixpath(DESKTOP_URL)).decode("latin-1")
            self.assertIn("URL=" + PRODUCT_URL, url)
            self.assertIn("IconFile=" + PRODUCT_FOLDER + "\\QorDL.exe", url)
            self.assertIn("IconIndex=2", url)
            # The shortcuts point at their programs and take icon 1 from them.
            for name, target in (("Configure Trovix.lnk", "QorDL.exe"),
                                 ("Uninstall Trovix.lnk", "TrovixUninstall.exe")):
                info = lnkinfo(p.unixpath(START_MENU + "\\" + name))
                self.assertRegex(info, r"Local path\s*: " + re.escape(PRODUCT_FOLDER + "\\" + target))
                self.assertRegex(info, r"Icon index\s*: 1\b")
            start_url = read_bytes(p.unixpath(START_MENU + "\\Start Trovix.url")).decode("latin-1")
            self.assertIn("URL=" + PRODUCT_URL, start_url)
            self.assertIn("IconIndex=1", start_url)
            self.assertTrue(qorwine.wait_for(lambda: os.path.exists(record), 15))
            self.assertTrue(qorwine.wait_for(
                lambda: PRODUCT_URL in read_bytes(record).decode("latin-1"), 5))

            log = read_bytes(p.unixpath(PRODUCT_FOLDER + "\\TrovixInstall.inf"))
            self.assertEqual(log.decode("latin-1"), EXAMPLE_LOG)

    def test_finish_with_options_cleared_creates_no_desktop_shortcut_and_launches_nothing(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            record = register_recording_browser(p)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                self.assertEqual(w.install_and_finish(), 0)
            settle(3)
            self.assertFalse(os.path.exists(p.unixpath(DESKTOP_URL)))
            self.assertFalse(os.path.exists(record))
            log = read_bytes(p.unixpath(PRODUCT_FOLDER + "\\TrovixInstall.inf")).decode("latin-1")
            self.assertTrue(log.endswith("Uninstall Trovix=QOR\\Trovix\r\n"))
            self.assertNotIn("Desktop", log)

    def test_copy_page_locks_navigation_and_paints_the_bar(self):
        with WinePrefix() as p:
            # Enough entries that the copy outlasts the screen capture below
            # (200 were done before it on a quiet machine).
            setup = build_setup(p, extra_files=800)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(NEXT)
                w.wait_page(TITLE_COPYING)
                # Past the product's own files, so some bytes are placed.
                page = None
                for _ in range(100):
                    page = w.page()
                    if "\\data\\extra01" in page.text(PROGRESS_LABEL):
                        break
                    settle(0.1)
                self.assertEqual(page.text(INSTRUCTIONS), instructions(131))
                for cid in (BACK, NEXT, CANCEL):
                    self.assertFalse(page.enabled(cid), cid)
                self.assertTrue(page.visible(PROGRESS_LABEL))
                self.assertTrue(page.text(PROGRESS_LABEL).startswith(
                    "Extracting " + PRODUCT_FOLDER + "\\"), page.text(PROGRESS_LABEL))
                self.assertFalse(page.visible(LAUNCH))
                self.assertFalse(page.visible(DESKTOP_ICON))
                self.assertFalse(page.visible(PROGRESS_BAR))  # only its place is used

                left, top, right, bottom = page.controls[PROGRESS_BAR]["rect"]
                pixels = screen_pixels(p, left, top, right - left, bottom - top)
                self.assertEqual(w.page().text(INSTRUCTIONS), instructions(131),
                                 "the copy ended before the capture: the pixels are another page's")
                # Sunken frame: shadow on the top and left, light at the bottom
                # and right.
                mid = (bottom - top) // 2
                self.assertLess(sum(pixels[(0, mid)]), sum(pixels[(right - left - 1, mid)]))
                self.assertLess(sum(pixels[(mid, 0)]), sum(pixels[(mid, bottom - top - 1)]))
                # Inside: one run of the fill colour, then the empty colour.
                row = [pixels[(x, mid)] for x in range(2, right - left - 2)]
                fill, empty = row[0], row[-1]
                self.assertNotEqual(fill, empty)
                filled = row.index(empty)
                self.assertTrue(all(c == fill for c in row[:filled]))
                self.assertTrue(all(c == empty for c in row[filled:]))

                # Neither the Cancel button nor the system menu's Close works now.
                self.assertFalse(w.try_click(CANCEL)["ok"])
                w.close()
                w.no_msgbox("Cancel Installation", 1.0)

                page = w.wait_page(TITLE_COMPLETE, 120)
                self.assertFalse(page.visible(PROGRESS_LABEL))
                w.check(LAUNCH, False)
                w.click(CANCEL)
                self.assertEqual(w.exit_code(), 0)

    def test_cancel_asks_and_no_changes_nothing_yes_ends_with_minus_one(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            with Wizard(p, setup) as w:
                before = w.wait_page(TITLE_DESTINATION)
                w.click(CANCEL)
                box = w.msgbox("Cancel Installation", "no")
                self.assertEqual(box["text"], "Do you wish to cancel the installation of Trovix?")
                self.assertEqual([b["id"] for b in box["buttons"]], [6, 7])  # Yes, No
                self.assertFalse(box["icon"])
                self.assertTrue(box["owner"])
                after = w.wait_page(TITLE_DESTINATION)
                self.assertEqual(after.controls, before.controls)

                # From the ready page, and through the system menu's Close.
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.close()
                w.msgbox("Cancel Installation", "yes")
                self.assertEqual(w.exit_code(), -1)
            self.assertFalse(os.path.exists(p.unixpath(PRODUCT_FOLDER)))


if __name__ == "__main__":
    unittest.main()
