"""Silent installs that go wrong, under Wine: what the exit code says, what is
left behind, and which messages appear (with no owner window)."""

import os
import shutil
import struct
import time
import unittest

from qorwine import WinePrefix, signed32, wait_for
from wizardlib import (CANCEL, LAUNCH, NEXT, TITLE_COMPLETE, TITLE_DESTINATION, TITLE_READY,
                       Wizard, build_setup)
from installkit import (PRODUCT, PRODUCT_FILES, SCOUT_TAG, SETUP_KEY, STUB, SetupBuilder,
                        add_product_entries, exists, finish, fixture, require_built, log_sections,
                        read_bytes, system_reg_values, workdir)

require_built()
require_built([fixture("Holder.exe")])

TAG_TEXT = ("Unable to write Title Scout tag file.\nIf you use title scout, it will not be able "
            "to use Trovix to automatically update your system.")


def archive_offset(data):
    """Header offset of the archive appended to a setup (its last 4 bytes)."""
    return len(data) - struct.unpack("<I", data[-4:])[0]


class InstallFailures(unittest.TestCase):
    def product_setup(self):
        return add_product_entries(SetupBuilder(workdir(self))).build("TrovixSetup.exe")

    def patched(self, setup, patch):
        with open(setup, "rb") as f:
            data = bytearray(f.read())
        data = patch(data)
        out = setup[:-4] + "-patched.exe"
        with open(out, "wb") as f:
            f.write(data)
        return out

    def assert_failed_without_payload(self, p, r):
        self.assertEqual(signed32(r.returncode), -1, r.stderr[-2000:])
        for name in PRODUCT_FILES:
            self.assertFalse(exists(p, PRODUCT + "\\" + name), name)
        self.assertFalse(exists(p, SCOUT_TAG))
        self.assertFalse(p.reg_key_exists(SETUP_KEY + "\\Trovix"))

    def test_destination_that_cannot_be_created(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            with open(os.path.join(p.drive_c, "blocker"), "wb") as f:
                f.write(b"a file where a folder should go")
            r = p.run(setup, "-silent", "-trovixdir=c:\\blocker\\trovix", timeout=120)
            self.assertEqual(signed32(r.returncode), -1)
            self.assertFalse(p.reg_key_exists(SETUP_KEY + "\\Trovix"))
            self.assertFalse(exists(p, SCOUT_TAG))
            self.assertFalse(exists(p, "C:\\Program Files\\QOR"))

    def test_malformed_directory(self):
        def patch(data):
            data[archive_offset(data) + 9 + 4] = 0  # first entry's record type: invalid
            return data
        setup = self.patched(self.product_setup(), patch)
        with WinePrefix() as p:
            self.assert_failed_without_payload(p, p.run(setup, "-silent", timeout=120))

    def test_truncated_setups(self):
        setup = self.product_setup()
        with open(setup, "rb") as f:
            whole = f.read()
        off = archive_offset(whole)
        cuts = {
            "tail": lambda d: d[:-1000],             # last 4 bytes now arbitrary data
            "trailer": lambda d: d[:-21] + d[-4:],   # length kept, trailer gone
            # Cut inside the first entry's data, with a length that fits the cut.
            "payload": lambda d: d[:off + 5000] + struct.pack("<I", 5004),
        }
        for name, cut in cuts.items():
            with self.subTest(name), WinePrefix() as p:
                bad = self.patched(setup, lambda d: bytearray(cut(bytes(d))))
                self.assert_failed_without_payload(p, p.run(bad, "-silent", timeout=120))

    def test_bare_stub_installs_nothing(self):
        # A stub with no payload appended ends in bytes that are no archive
        # length; it must not report an empty install as a success.
        stub = os.path.join(workdir(self), "Bare.exe")
        shutil.copyfile(STUB, stub)
        with WinePrefix() as p:
            self.assert_failed_without_payload(p, p.run(stub, "-silent", timeout=120))

    def test_corrupt_entry_data_fails_that_entry_only(self):
        def patch(data):
            # Flip bytes inside the deflate data of the second entry (QorXfer.dll,
            # whose data begins after the first entry's record and data).
            off = archive_offset(data) + 9
            rec_len, _, csize = struct.unpack_from("<IBI", data, off)
            second = off + rec_len + csize
            rec2, _, csize2 = struct.unpack_from("<IBI", data, second)
            mid = second + rec2 + csize2 // 2
            for i in range(mid, mid + 64):
                data[i] ^= 0x5A
            return data
        setup = self.patched(self.product_setup(), patch)
        with WinePrefix() as p:
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), -1, r.stderr[-2000:])
            # Every other entry was still placed; nothing was registered.
            for name in ("TrovixUninstall.exe", "QorDL.exe", "QorRcv.exe", "Lumen.dat",
                         "Corvane.inf"):
                self.assertTrue(exists(p, PRODUCT + "\\" + name), name)
            self.assertNotEqual(read_bytes(p, PRODUCT + "\\QorXfer.dll"), PRODUCT_FILES["QorXfer.dll"])
            self.assertIn(PRODUCT + "\\QorXfer.dll=", log_sections(p)["Trovix Files"])
            self.assertFalse(p.reg_key_exists(SETUP_KEY + "\\Trovix"))

    def test_unwritable_tag_file_is_reported_and_install_succeeds(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            # A folder in the tag file's place: it cannot be opened for writing.
            os.makedirs(os.path.join(p.unixpath("C:\\Program Files"), "QOR", "Scout", "Trovix.tag"))
            proc = p.start(setup, "-silent")
            code, box = p.driver("msgbox", "--caption", "Unable to write file", "--press", "ok",
                                 "--timeout", "60", timeout=90)
            self.assertEqual(code, 0, box)
            self.assertEqual(box.get("text"), TAG_TEXT)
            self.assertEqual(box.get("owner"), "no")
            self.assertEqual(signed32(finish(proc)), 0)
            # Registered before the tag file was tried (read from the saved hive).
            values = system_reg_values(p, "Software\\Corvane OnLine\\Setup\\Trovix") or {}
            self.assertEqual(values.get("Directory"), '"C:\\\\Program Files\\\\QOR\\\\Trovix"')

    def test_file_in_use_waits_for_the_restart_and_the_run_goes_on(self):
        b = SetupBuilder(workdir(self))
        b.add("[TROVIX]\\busy.dat", data=b"new\r\n")
        b.add("[TROVIX]\\after.dat", data=b"placed after the failure\r\n")
        setup = b.build("Busy.exe")
        with WinePrefix() as p:
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            with open(os.path.join(folder, "busy.dat"), "wb") as f:
                f.write(b"old")
            holder = p.start(fixture("Holder.exe"), PRODUCT + "\\busy.dat", "40")
            self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(folder, "busy.dat.held")),
                                     timeout=30))
            proc = p.start(setup, "-silent")
            # Held by another program: no copy failure to report, the new
            # file replaces it at the next restart ("installed, restart
            # needed"); the run went on with the next entry.
            code, box = p.driver("nomsgbox", "--caption", "Installation Error", "--timeout", "5")
            self.assertEqual(code, 0, box)
            # 3010; the Linux shell sees its low byte only.
            self.assertEqual(finish(proc), 3010 & 0xFF)
            self.assertEqual(read_bytes(p, PRODUCT + "\\busy.dat"), b"old")
            self.assertEqual(read_bytes(p, PRODUCT + "\\after.dat"), b"placed after the failure\r\n")
            holder.kill()
            finish(holder)


    def test_wizard_run_owns_its_messages(self):
        # With the dialog up, the run's message boxes belong to it; a file in
        # use is replaced at the restart, which the wizard says once.
        entries = [("busy.dat", "[TROVIX]\\busy.dat"), ("Lumen.dat", "[TROVIX]\\Lumen.dat")]
        with WinePrefix() as p:
            setup = build_setup(p, entries=entries)
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            with open(os.path.join(folder, "busy.dat"), "wb") as f:
                f.write(b"old")
            holder = p.start(fixture("Holder.exe"), PRODUCT + "\\busy.dat", "60")
            self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(folder, "busy.dat.held")),
                                     timeout=30))
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(NEXT)
                box = w.msgbox("Restart Required", "ok", timeout=60)
                self.assertTrue(box["text"].startswith("Some files of Trovix were in use"), box)
                self.assertTrue(box["owner"])
                self.assertTrue(box["icon"])
                w.wait_page(TITLE_COMPLETE, 60)
                w.no_msgbox("Installation Error")
            self.assertEqual(read_bytes(p, PRODUCT + "\\busy.dat"), b"old")
            holder.kill()
            finish(holder)

        with WinePrefix() as p:
            setup = build_setup(p, entries=entries[1:])
            os.makedirs(os.path.join(p.unixpath("C:\\Program Files"), "QOR", "Scout", "Trovix.tag"))
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(NEXT)
                box = w.msgbox("Unable to write file", "ok", timeout=60)
                self.assertEqual(box["text"], TAG_TEXT)
                self.assertTrue(box["owner"])
                self.assertTrue(box["icon"])
                w.wait_page(TITLE_COMPLETE, 60)
                w.check(LAUNCH, False)
                w.click(CANCEL)  # the Finished button
                self.assertEqual(w.exit_code(), 0)

if __name__ == "__main__":
    unittest.main()
