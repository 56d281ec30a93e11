"""docs/packaging.md, run: every `sh` block of the guide in order, in one
shell, with the native qorpack and the built stub and uninstaller, as a new
user would type them; then the product setup it ends with is installed under
Wine, and a non-ASCII name and slot value arrive intact."""

import os
import re
import subprocess
import unittest

import qorwine
from qorwine import WinePrefix, signed32
from installkit import PRODUCT, exists, require_built, workdir
from wizardlib import INSTRUCTIONS, NEXT, TITLE_DESTINATION, TITLE_READY, Wizard

require_built()

GUIDE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                     "packaging.md")


def guide_blocks():
    with open(GUIDE, encoding="utf-8") as f:
        text = f.read()
    return re.findall(r"^```sh\n(.*?)^```$", text, flags=re.M | re.S)


class PackagingGuide(unittest.TestCase):
    def test_the_guide_runs_and_its_setup_installs(self):
        blocks = guide_blocks()
        self.assertGreaterEqual(len(blocks), 8)
        d = workdir(self)
        env = dict(os.environ, QOR_BIN=qorwine.BIN, LC_ALL="C.UTF-8",
                   PATH=qorwine.NATIVE_BIN + os.pathsep + os.environ["PATH"])
        for i, block in enumerate(blocks):
            r = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=d, env=env,
                               capture_output=True, text=True, timeout=300)
            self.assertEqual(r.returncode, 0, "block %d of the guide failed:\n%s\n%s%s" %
                             (i + 1, block, r.stdout, r.stderr))

        with WinePrefix() as p:
            r = p.run(os.path.join(d, "LumiwaveSetup.exe"), "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            for name in ("TrovixUninstall.exe", "Lumiwave.exe", "QorDL.exe",
                         "data\\defaults.ini", "data\\level1.dat"):
                self.assertTrue(exists(p, PRODUCT + "\\" + name), name)
            # The name reaches the disk as written: Wine keeps Windows names as
            # UTF-8 on the host, so é must be é, not the two bytes of its UTF-8.
            folder = os.path.join(p.unixpath(PRODUCT), "data")
            self.assertIn("Café.txt", os.listdir(folder))
            self.assertNotIn("CafÃ©.txt", os.listdir(folder))
        # The wizard shows the install name as stamped (the driver hands the
        # dialog's 8-bit text over as Latin-1): é, not the two bytes of its UTF-8.
        with WinePrefix() as p, Wizard(p, os.path.join(d, "LumiwaveSetup.exe")) as w:
            w.wait_page(TITLE_DESTINATION)
            w.click(NEXT)
            text = w.wait_page(TITLE_READY).text(INSTRUCTIONS)
            self.assertIn("Lumiwave Caf\u00e9", text)
            self.assertNotIn("\u00c3", text)

        # The slot holds the install name in the setup's code page (1252).
        with open(os.path.join(d, "LumiwaveSetup.exe"), "rb") as f:
            self.assertIn(b"Lumiwave Caf\xe9\x00", f.read())



if __name__ == "__main__":
    unittest.main()
