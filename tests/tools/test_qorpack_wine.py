"""qorpack.exe under Wine writes the same bytes as the native qorpack for the
same sources and time stamps: a setup built through the engine (--jobs 1) and
through the parallel writer, an archive grown with add, and its listing and
extraction of the native build. Run by ctest in the win32 tree."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.environ.get("QOR_SOURCE_DIR", ""), "tests", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qorwine  # noqa: E402
from installkit import require_built  # noqa: E402
from test_qorpack_cli import make_payload, make_stub, read_archive  # noqa: E402

EXE = qorwine.bin_path("qorpack.exe")
NATIVE = os.path.join(qorwine.NATIVE_BIN, "qorpack")
require_built([EXE, NATIVE, qorwine.bin_path("TrovixInstall.exe")])


class QorpackUnderWine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorpack-wine.")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def native(self, *args):
        subprocess.run([NATIVE, *args], check=True, capture_output=True, timeout=120)

    def test_same_bytes_as_native(self):
        d = self.dir
        make_stub(os.path.join(d, "stub.exe"))
        make_payload(os.path.join(d, "p"))
        files = sorted(os.path.relpath(os.path.join(r, f), d)
                       for r, _, fs in os.walk(os.path.join(d, "p")) for f in fs)
        with open(os.path.join(d, "m.txt"), "w") as f:
            for rel in files:
                f.write("%s => [TROVIX]\\%s\n" % (rel.replace("/", "\\"), rel.replace("/", "\\")))
        self.native("build", "--stub", os.path.join(d, "stub.exe"), "--manifest",
                    os.path.join(d, "m.txt"), "--out", os.path.join(d, "native.exe"),
                    "--slot", "TVIID_INST_NAME=Demo")
        self.native("add", os.path.join(d, "native.qzf"), "-C", os.path.join(d, "p"), ".")
        with qorwine.WinePrefix() as w:
            def qp(*args):
                r = w.run(EXE, *args, timeout=120)
                self.assertEqual(r.returncode, 0, "qorpack.exe %s: %s" % (args, r.stderr))
                return r
            for jobs in ("1", "2"):
                out = "wine%s.exe" % jobs
                qp("build", "--stub", w.winpath(os.path.join(d, "stub.exe")), "--manifest",
                   w.winpath(os.path.join(d, "m.txt")), "--out", w.winpath(os.path.join(d, out)),
                   "--slot", "TVIID_INST_NAME=Demo", "--jobs", jobs)
                with open(os.path.join(d, out), "rb") as a, \
                        open(os.path.join(d, "native.exe"), "rb") as b:
                    self.assertEqual(a.read(), b.read(), "build --jobs " + jobs)
            qp("add", w.winpath(os.path.join(d, "wine.qzf")), "-C", w.winpath(os.path.join(d, "p")),
               ".")
            with open(os.path.join(d, "wine.qzf"), "rb") as a, \
                    open(os.path.join(d, "native.qzf"), "rb") as b:
                self.assertEqual(a.read(), b.read(), "add")
            listing = qp("list", w.winpath(os.path.join(d, "native.exe"))).stdout
            for name, *_ in read_archive(os.path.join(d, "native.exe"))[1]:
                self.assertIn(name, listing)
            qp("extract", w.winpath(os.path.join(d, "native.exe")), "-C",
               w.winpath(os.path.join(d, "out")))
            for rel in files:
                with open(os.path.join(d, rel), "rb") as a, \
                        open(os.path.join(d, "out", "[TROVIX]", rel), "rb") as b:
                    self.assertEqual(a.read(), b.read(), rel)

    def test_folder_lines_as_native(self):
        # A manifest line whose source ends in a separator names a folder.
        d = self.dir
        make_stub(os.path.join(d, "stub.exe"))
        make_payload(os.path.join(d, "p"))
        with open(os.path.join(d, "m.txt"), "w") as f:
            f.write("p/ => [TROVIX]\\p\n")
        self.native("build", "--stub", os.path.join(d, "stub.exe"), "--manifest",
                    os.path.join(d, "m.txt"), "--out", os.path.join(d, "native.exe"))
        with qorwine.WinePrefix() as w:
            r = w.run(EXE, "build", "--stub", w.winpath(os.path.join(d, "stub.exe")),
                      "--manifest", w.winpath(os.path.join(d, "m.txt")), "--out",
                      w.winpath(os.path.join(d, "wine.exe")), timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(d, "wine.exe"), "rb") as a, \
                open(os.path.join(d, "native.exe"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_stamps_the_real_stub(self):
        setup = os.path.join(self.dir, "setup.exe")
        shutil.copy(qorwine.bin_path("TrovixInstall.exe"), setup)
        with qorwine.WinePrefix() as w:
            r = w.run(EXE, "stamp", w.winpath(setup), "--slot", "TVIID_RCV_REG_KEY=GameXRcv",
                      "--slot", "TVIID_APP_EXE=game.exe", timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)
            r = w.run(EXE, "stamp", w.winpath(setup), "--slot", "TVIID_APP_NAME=" + "n" * 32,
                      timeout=120)
            self.assertNotEqual(r.returncode, 0)
        info = subprocess.run([NATIVE, "info", setup], capture_output=True, text=True,
                              check=True).stdout
        self.assertIn('TVIID_RCV_REG_KEY  ( 32)  "GameXRcv"', info)
        self.assertIn('TVIID_APP_EXE      ( 32)  "game.exe"', info)
        self.assertIn("TVIID_APP_NAME     ( 32)  still holds its marker", info)
        # A receiver setup may stamp all seven slots: with no marker left the
        # block is still found (by its section), read and stamped again.
        rest = ["TVIID_INST_NAME=Game X Receiver", "TVIID_RCV_DEF_DIR=C:\\Games\\X",
                "TVIID_APP_REG_KEY=Software\\X|GameX", "TVIID_APP_LOC_ITEM=Path",
                "TVIID_APP_NAME=Game X"]
        subprocess.run([NATIVE, "stamp", setup] + [a for r in rest for a in ("--slot", r)],
                       capture_output=True, check=True)
        subprocess.run([NATIVE, "stamp", setup, "--slot", "TVIID_APP_EXE=gamex.exe"],
                       capture_output=True, check=True)
        info = subprocess.run([NATIVE, "info", setup], capture_output=True, text=True,
                              check=True).stdout
        self.assertNotIn("marker", info)
        self.assertIn('TVIID_APP_REG_KEY  (128)  "Software\\X|GameX"', info)
        self.assertIn('TVIID_APP_EXE      ( 32)  "gamex.exe"', info)


if __name__ == "__main__":
    unittest.main(verbosity=2)
