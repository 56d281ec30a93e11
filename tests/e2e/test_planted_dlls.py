"""Libraries planted beside a setup are never loaded.

Windows takes any library that is not one of its known DLLs from a program's
own folder first. Wine prefers its built-in libraries, so the tests emulate
Windows with native-first overrides for such libraries, plant a copy of each
next to the setup (it leaves NAME.dll.loaded when loaded, and fails the load),
and check that a silent and a wizard install load none of them and install
exactly what they install without them.

version.dll, uxtheme.dll and msimg32.dll are planted but not made
native-first: Wine's own user32 imports the first, and Wine's own libraries
load the others with an explicit legacy search path that ignores the
program's default DLL directories (Windows' user32 and comctl32 do neither),
so under those overrides every windowed program under Wine would load them.
The setup's side, no import of VERSION and loading it from the system folder
by full path, is checked statically (setup_pe_image) and by the control here,
a program that does search for it."""

import glob
import os
import shutil
import unittest

from qorwine import BIN, WinePrefix, signed32
from installkit import (PRODUCT, PRODUCT_LOG, SetupBuilder, add_product_entries, read_bytes,
                        require_built, workdir)
from wizardlib import CANCEL, DEST_BROWSE, TITLE_BROWSE, TITLE_DESTINATION, Wizard, build_setup

PLANTED = ["version", "uxtheme", "dwmapi", "propsys", "cryptbase", "userenv", "profapi",
           "linkinfo", "ntshrui", "cscapi", "msimg32"]
# Loaded by Wine's user32 itself (see above).
WINE_OWN = ("version", "uxtheme", "msimg32")
PLANTED_DIR = os.path.join(BIN, "fixtures", "planted")
require_built()
require_built([os.path.join(PLANTED_DIR, n + ".dll") for n in PLANTED] +
              [os.path.join(PLANTED_DIR, "LoadByName.exe")])


class PlantedPrefix(WinePrefix):
    """A prefix whose library search, like Windows', takes these from the
    program's folder when they are there."""

    def __init__(self, native_first=None):
        super().__init__()
        self.native_first = native_first or [n for n in PLANTED if n not in WINE_OWN]

    @property
    def env(self):
        e = super().env
        e["WINEDLLOVERRIDES"] = "mscoree,mshtml=;%s=n,b" % ",".join(self.native_first)
        return e


def plant(folder):
    for name in PLANTED:
        shutil.copy(os.path.join(PLANTED_DIR, name + ".dll"), folder)


def markers(folder):
    return sorted(os.path.basename(m) for m in glob.glob(os.path.join(folder, "*.loaded")))


class PlantedLibraries(unittest.TestCase):
    def test_the_planting_is_seen_by_a_program_that_searches(self):
        # The control: without it a passing test below could mean the overrides
        # do nothing.
        with PlantedPrefix(native_first=PLANTED) as p:
            folder = os.path.join(p.drive_c, "downloads")
            os.makedirs(folder)
            plant(folder)
            shutil.copy(os.path.join(PLANTED_DIR, "LoadByName.exe"), folder)
            r = p.run(os.path.join(folder, "LoadByName.exe"), "version.dll", cwd=folder)
            self.assertNotEqual(r.returncode, 0)
            self.assertEqual(markers(folder), ["version.dll.loaded"])

    def test_silent_install_loads_none(self):
        setup = add_product_entries(SetupBuilder(workdir(self))).build("TrovixSetup.exe")
        with PlantedPrefix() as p:
            folder = os.path.join(p.drive_c, "downloads")
            os.makedirs(folder)
            plant(folder)
            shutil.copy(setup, folder)
            r = p.run(os.path.join(folder, "TrovixSetup.exe"), "-silent", cwd=folder, timeout=120)
            self.assertEqual(markers(folder), [])
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            self.assertEqual(read_bytes(p, PRODUCT + "\\TrovixInstall.inf"), PRODUCT_LOG)

    def test_wizard_install_with_the_folder_browser_loads_none(self):
        with PlantedPrefix() as p:
            setup = build_setup(p)
            folder = os.path.join(p.drive_c, "setup")
            plant(folder)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(DEST_BROWSE)
                browse = w.dialog(TITLE_BROWSE)
                w.click(CANCEL, browse)
                w.gone(browse)
                self.assertEqual(w.install_and_finish(), 0)
            self.assertEqual(markers(folder), [])
            self.assertTrue(os.path.isfile(p.unixpath(PRODUCT + "\\TrovixInstall.inf")))


    def test_uninstaller_and_its_temp_copy_load_none(self):
        setup = add_product_entries(SetupBuilder(workdir(self))).build("TrovixSetup.exe")
        with PlantedPrefix() as p:
            self.assertEqual(signed32(p.run(setup, "-silent", timeout=120).returncode), 0)
            product = p.unixpath(PRODUCT)
            # The original runs from the product folder, its copy from the temp folder.
            temps = (glob.glob(os.path.join(p.drive_c, "users", "*", "Temp")) +
                     glob.glob(os.path.join(p.drive_c, "users", "*", "AppData", "Local", "Temp")))
            self.assertTrue(temps)
            for folder in [product] + temps:
                plant(folder)
            r = p.run(PRODUCT + "\\TrovixUninstall.exe", "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            for folder in [product] + temps:
                if os.path.isdir(folder):
                    self.assertEqual(markers(folder), [], folder)
            self.assertFalse(os.path.exists(os.path.join(product, "QorXfer.dll")))


if __name__ == "__main__":
    unittest.main()
