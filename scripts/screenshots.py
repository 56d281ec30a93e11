"""Walks the setup wizard of a receiver setup under Wine and saves one PNG
per page, plus the folder browser, into OUTDIR. Run by scripts/screenshots.sh,
which provides the display and the build locations in the environment."""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import qorwine  # noqa: E402
from wizardlib import (DEST_BROWSE, NEXT, PRODUCT_ENTRIES, THIRD_BROWSE,  # noqa: E402
                       TITLE_BROWSE, TITLE_COMPLETE, TITLE_COPYING, TITLE_DESTINATION,
                       TITLE_READY, Wizard, build_setup)

MARGIN = 8


def capture(prefix, rect, path):
    """Saves the screen area of a window rectangle (plus a margin) as PNG."""
    time.sleep(0.6)  # let the window finish painting
    left, top = max(rect[0] - MARGIN, 0), max(rect[1] - MARGIN, 0)
    width, height = rect[2] - rect[0] + 2 * MARGIN, rect[3] - rect[1] + 2 * MARGIN
    subprocess.run(["import", "-display", prefix.env["DISPLAY"], "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (width, height, left, top), "+repage", path], check=True)
    print("saved", path)


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    slots = {
        "TVIID_INST_NAME": "GameX Receiver",
        "TVIID_RCV_REG_KEY": "GameXRcv",
        "TVIID_RCV_DEF_DIR": "C:\\Games\\GameX\\Trovix",
        "TVIID_APP_REG_KEY": "Software\\Vendor\\GameX",
        "TVIID_APP_LOC_ITEM": "InstallPath",
        "TVIID_APP_NAME": "GameX",
        "TVIID_APP_EXE": "gamex.exe",
    }
    entries = PRODUCT_ENTRIES + [("GameXRcv.dll", "[RECEIVE]\\GameXRcv.dll")]
    with qorwine.WinePrefix() as p:
        # Wine then draws the window frames itself: there is no window manager.
        p.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
        p.reg_add("HKLM\\Software\\Vendor\\GameX", "InstallPath", "C:\\Games\\GameX\\Trovix")
        # The browser opens in the product folder when it exists.
        os.makedirs(p.unixpath("C:\\Program Files") + "/QOR/Trovix", exist_ok=True)
        game = p.unixpath("C:\\Games\\GameX")
        os.makedirs(game, exist_ok=True)
        with open(os.path.join(game, "gamex.exe"), "wb") as f:
            f.write(b"MZ")
        # Enough entries for the copy page to stay up while it is pictured.
        setup = build_setup(p, slots, entries, extra_files=250)
        shot = lambda name, win=None: capture(p, w.page(win).rect, os.path.join(outdir, name))

        with Wizard(p, setup) as w:
            w.wait_page(TITLE_DESTINATION)
            shot("wizard-1-destination.png")

            w.click(DEST_BROWSE)
            browser = w.dialog(TITLE_BROWSE)
            # Two levels up by double clicks on "[..]": the path box follows.
            for _ in range(2):
                w.cmd("dblclick", browser, 1121, 0)
                time.sleep(0.5)
            shot("folder-browser.png", browser)
            w.click(2, browser)
            w.gone(browser)

            w.click(NEXT)
            w.wait_page("Choose GameX Receiver Installation Destination")
            shot("wizard-2-receiver-destination.png")

            w.click(NEXT)
            w.wait_page("Select GameX Folder")
            w.click(THIRD_BROWSE)
            w.pickfile(w.dialog("Select folder containing GameX"), "C:\\Games\\GameX\\gamex.exe")
            w.gone("Select folder containing Trovix")
            shot("wizard-3-application-folder.png")

            w.click(NEXT)
            w.wait_page(TITLE_READY)
            shot("wizard-4-ready.png")

            w.click(NEXT)
            w.wait_page(TITLE_COPYING)
            time.sleep(1.5)
            page = w.page()
            capture(p, page.rect, os.path.join(outdir, "wizard-5-copying.png"))

            w.wait_page(TITLE_COMPLETE, 120)
            shot("wizard-6-finished.png")
            w.check(1032, False)
            w.click(2)
            w.exit_code()


if __name__ == "__main__":
    main(sys.argv[1])
