"""Silent install of the product-only payload, end to end under Wine: what it
places, records, registers and starts, and what a second run changes."""

import os
import time
import unittest

from qorwine import WinePrefix, qorpack, signed32
from installkit import (CONFIG_KEY, INST_TAGS, PRODUCT, PRODUCT_FILES, PRODUCT_LOG, RECORDER,
                        SCOUT_TAG, SETUP_KEY, UNINSTALLER, UNINSTALL_KEY, SetupBuilder,
                        add_product_entries, exists, finish, require_built, log_text, read_bytes,
                        system_reg_values, wait_records, workdir)

require_built()


class ProductInstall(unittest.TestCase):
    def build_product(self, extra=()):
        b = add_product_entries(SetupBuilder(workdir(self)))
        for stored, source in extra:
            b.add(stored, source=source)
        return b.build("TrovixSetup.exe")

    def test_fresh_install_places_records_registers_and_starts(self):
        setup = self.build_product()
        with WinePrefix() as p:
            self.assertTrue(os.path.isdir(p.unixpath("C:\\Program Files")))
            self.assertFalse(exists(p, "C:\\Program Files\\QOR"))
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])

            # Every entry at its place, with its own content.
            for name, data in PRODUCT_FILES.items():
                got = read_bytes(p, PRODUCT + "\\" + name)
                if data is None:
                    src = UNINSTALLER if name == "TrovixUninstall.exe" else RECORDER
                    with open(src, "rb") as f:
                        data = f.read()
                self.assertEqual(got, data, name)

            # The install commands ran, hidden; the setup did not wait for them.
            records = wait_records(p, PRODUCT, ["QorDL", "QorRcv"])
            self.assertEqual(records.get("QorDL"), "-register (show command 0)\r\n")
            self.assertEqual(records.get("QorRcv"), "-register (show command 0)\r\n")

            # The log, byte for byte.
            self.assertEqual(read_bytes(p, PRODUCT + "\\TrovixInstall.inf"), PRODUCT_LOG)

            # The tag file: CR LF after the section line, no line break at the end.
            self.assertEqual(read_bytes(p, SCOUT_TAG),
                             b"[Installation]\r\nDirectory=C:\\Program Files\\QOR\\Trovix")

            # Registry values.
            self.assertEqual(p.reg_query(SETUP_KEY + "\\Trovix"),
                             {"Directory": PRODUCT, "Full Name": "Trovix"})
            self.assertEqual(p.reg_query(UNINSTALL_KEY + "\\Trovix"),
                             {"DisplayName": "Trovix",
                              "UninstallString": PRODUCT + "\\TrovixUninstall.exe"})
            # An empty REG_SZ (its terminating zero only); the downloader key is
            # recorded, never created.
            self.assertEqual(
                system_reg_values(p, "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv"),
                {"LatestVersion": '""'})
            self.assertFalse(p.reg_key_exists(CONFIG_KEY + "\\Downloader"))
            # A product-only setup writes no receiver entries.
            self.assertNotIn("Dependents", log_text(p))
            self.assertIsNone(p.reg_query(CONFIG_KEY + "\\3rdPartyApps"))

    def test_fresh_install_makes_no_temporary_file(self):
        # Entries are inflated straight from the payload: with the temporary
        # folder pointing nowhere, a fresh install still places every file.
        setup = self.build_product()
        with WinePrefix() as p:
            for name in ("TEMP", "TMP"):
                p.reg_add("HKCU\\Environment", name, "C:\\no-such-temp-folder")
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            for name in PRODUCT_FILES:
                self.assertTrue(exists(p, PRODUCT + "\\" + name), name)
            self.assertEqual(read_bytes(p, PRODUCT + "\\TrovixInstall.inf"), PRODUCT_LOG)
            self.assertFalse(exists(p, "C:\\no-such-temp-folder"))

    def test_second_run_records_nothing_twice(self):
        setup = self.build_product()
        with WinePrefix() as p:
            self.assertEqual(signed32(p.run(setup, "-silent", timeout=120).returncode), 0)
            wait_records(p, PRODUCT, ["QorDL", "QorRcv"])
            # Something of the user's that the second run must keep.
            p.reg_add(SETUP_KEY + "\\Trovix", "Extra", "kept")
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            # Same log, same bytes: every object existed before the second run.
            self.assertEqual(read_bytes(p, PRODUCT + "\\TrovixInstall.inf"), PRODUCT_LOG)
            self.assertEqual(read_bytes(p, SCOUT_TAG),
                             b"[Installation]\r\nDirectory=C:\\Program Files\\QOR\\Trovix")
            self.assertEqual(p.reg_query(SETUP_KEY + "\\Trovix", "Extra"), "kept")
            # The install commands ran again.
            wait = time.time() + 20
            text = ""
            while time.time() < wait:
                text = read_bytes(p, PRODUCT + "\\QorDL.ran.txt").decode()
                if text.count("-register") == 2:
                    break
                time.sleep(0.2)
            self.assertEqual(text.count("-register"), 2)

    def test_install_command_is_not_waited_for(self):
        # A program that stays alive for 30 s after recording its start.
        setup = self.build_product(
            [("[TROVIX][InstCmd=-linger]\\Sleeper.exe", RECORDER)])
        with WinePrefix() as p:
            # Waits for the setup's process only: the lingering program holds
            # the same output pipes open.
            start = time.time()
            proc = p.start(setup, "-silent")
            code = finish(proc, 120)
            took = time.time() - start
            self.assertEqual(signed32(code), 0)
            self.assertLess(took, 25, "the setup waited for its install command")
            recs = wait_records(p, PRODUCT, ["Sleeper"])
            self.assertEqual(recs.get("Sleeper"), "-linger (show command 0)\r\n")

    def test_only_twenty_install_commands_run(self):
        b = SetupBuilder(workdir(self))
        names = ["Cmd%02d" % i for i in range(22)]
        for n in names[:20]:
            b.add("[TROVIX][InstCmd=-register]\\%s.exe" % n, source=RECORDER)
        setup = b.build("Many.exe")
        # build refuses a payload with more commands than the setup runs;
        # archives made otherwise (here: added to) can still hold them.
        for n in names[20:]:
            qorpack("add", setup, RECORDER, "--as", "[TROVIX][InstCmd=-register]\\%s.exe" % n)
        with WinePrefix() as p:
            self.assertEqual(signed32(p.run(setup, "-silent", timeout=120).returncode), 0)
            recs = wait_records(p, PRODUCT, names[:20])
            self.assertEqual(sorted(recs), names[:20])
            time.sleep(2)  # the dropped ones would have had time to start
            self.assertFalse(exists(p, PRODUCT + "\\Cmd20.ran.txt"))
            self.assertFalse(exists(p, PRODUCT + "\\Cmd21.ran.txt"))
            # All 22 were placed all the same.
            self.assertTrue(exists(p, PRODUCT + "\\Cmd21.exe"))

    def test_install_command_path_with_spaces_is_not_split(self):
        # With the path unquoted, "C:\Program Files\..." would start
        # C:\Program.exe with "Files\...\QorDL.exe -register" as arguments.
        setup = self.build_product()
        with WinePrefix() as p:
            with open(p.unixpath("C:\\") + "/Program.exe", "wb") as out, \
                    open(RECORDER, "rb") as src:
                out.write(src.read())
            self.assertEqual(signed32(p.run(setup, "-silent", timeout=120).returncode), 0)
            recs = wait_records(p, PRODUCT, ["QorDL", "QorRcv"])
            self.assertEqual(len(recs), 2)
            self.assertFalse(exists(p, "C:\\Program.ran.txt"))

    def test_lower_case_tag_keeps_its_text_in_the_path(self):
        # The tag is found regardless of case but removed only as spelled.
        b = SetupBuilder(workdir(self))
        b.add("[TROVIX]\\TrovixUninstall.exe", source=UNINSTALLER)
        b.add("[TROVIX]\\Sub[instcmd=-register]Dir\\Rec.exe", source=RECORDER)
        setup = b.build("Lower.exe")
        with WinePrefix() as p:
            self.assertEqual(signed32(p.run(setup, "-silent", timeout=120).returncode), 0)
            placed = PRODUCT + "\\Sub[instcmd=-register]Dir\\Rec.exe"
            self.assertTrue(exists(p, placed))
            recs = wait_records(p, PRODUCT + "\\Sub[instcmd=-register]Dir", ["Rec"])
            self.assertEqual(recs.get("Rec"), "-register (show command 0)\r\n")
            log = log_text(p)
            self.assertIn("\r\n" + PRODUCT + "\\Sub[instcmd=-register]Dir=\r\n", log)
            self.assertIn("\r\n" + placed + "=\r\n", log)


if __name__ == "__main__":
    unittest.main()
