"""Silent receiver setups under Wine: where the receiver folder comes from, how
it is completed, and what the receiver registers and records."""

import os
import unittest

from qorwine import WinePrefix, signed32
from installkit import (CONFIG_KEY, INST_TAGS, PRODUCT, RECORDER, SETUP_KEY, UNINSTALL_KEY,
                        SetupBuilder, add_product_entries, exists, require_built, log_sections,
                        read_bytes, system_reg_values, wait_records, workdir)

require_built()
RCV = "GameRcv"
INST = "Trovix for Game"
RCV_DATA = b"receiver data\r\n"


class ReceiverInstall(unittest.TestCase):
    def build_receiver(self, **slots):
        b = add_product_entries(SetupBuilder(workdir(self)))
        b.add("[RECEIVE]\\Rcv.dat", data=RCV_DATA)
        b.add("[RECEIVE]%s\\GameRcv.exe" % INST_TAGS, source=RECORDER)
        stamped = {"TVIID_INST_NAME": INST, "TVIID_RCV_REG_KEY": RCV}
        stamped.update({"TVIID_" + k: v for k, v in slots.items()})
        return b.build("Receiver.exe", stamped)

    def install(self, p, setup, *args):
        r = p.run(setup, "-silent", *args, timeout=120)
        self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])

    def assert_receiver_at(self, p, folder):
        self.assertEqual(read_bytes(p, folder + "\\Rcv.dat"), RCV_DATA)
        recs = wait_records(p, folder, ["GameRcv"])
        self.assertEqual(recs.get("GameRcv"), "-register (show command 0)\r\n")

    def test_folder_from_publisher_setup_entry(self):
        setup = self.build_receiver(APP_REG_KEY="GameX")
        with WinePrefix() as p:
            p.reg_add(SETUP_KEY + "\\GameX", "Directory", "C:\\Games\\X\\")
            os.makedirs(os.path.join(p.drive_c, "Games", "X"))
            self.install(p, setup)
            folder = "C:\\Games\\X\\QOR"
            self.assert_receiver_at(p, folder)

            log = log_sections(p)
            # The receiver's entries and registry go to its own sections; the
            # log itself stays in the product folder.
            self.assertEqual(log[RCV + " Dirs"], [folder + "="])
            self.assertEqual(log[RCV + " Files"], [folder + "\\Rcv.dat=", folder + "\\GameRcv.exe="])
            self.assertIn("%s\\GameRcv.exe=%s\\GameRcv.exe -unregister" % (folder, folder),
                          log["Uninstall Command Line"])
            self.assertEqual(log["Dependents"], [RCV + "="])
            self.assertEqual(log[RCV + " Registry Keys"], [
                "Software\\Corvane OnLine\\Setup\\" + RCV + "=",
                "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + INST + "=",
            ])
            self.assertEqual(log[RCV + " Registry Items"], [
                "Software\\Corvane OnLine\\Setup\\%s\\Directory=" % RCV,
                "Software\\Corvane OnLine\\Setup\\%s\\Full Name=" % RCV,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\\DisplayName=" % INST,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\\UninstallString="
                % INST,
            ])
            # Registration order: product, receiver, product configuration.
            order = log["order"]
            self.assertLess(order.index("Trovix Registry Items"), order.index(RCV + " Registry Keys"))
            self.assertLess(order.index(RCV + " Registry Items"), order.index("Dependents"))

            self.assertEqual(p.reg_query(SETUP_KEY + "\\" + RCV),
                             {"Directory": folder, "Full Name": INST})
            self.assertEqual(p.reg_query(UNINSTALL_KEY + "\\" + INST), {
                "DisplayName": INST,
                "UninstallString": PRODUCT + "\\TrovixUninstall.exe -productid=",
            })
            # The product is installed alongside, as usual.
            self.assertEqual(p.reg_query(SETUP_KEY + "\\Trovix", "Directory"), PRODUCT)
            # No application executable stamped: no 3rdPartyApps entry.
            self.assertFalse(p.reg_key_exists(CONFIG_KEY + "\\3rdPartyApps"))

    def test_folder_from_application_key_and_3rd_party_entry(self):
        setup = self.build_receiver(APP_REG_KEY="Software\\Example\\Game Y|GameMissing",
                                    APP_LOC_ITEM="InstallPath", APP_EXE="gamey.exe")
        with WinePrefix() as p:
            p.reg_add("HKLM\\Software\\Example\\Game Y", "InstallPath", "C:\\Game Y")
            self.install(p, setup)
            self.assert_receiver_at(p, "C:\\Game Y\\QOR")
            # The 3rd-party folder is chosen only in the wizard: unattended,
            # its "Path" is recorded and set empty.
            self.assertEqual(system_reg_values(p, "Software\\QOR\\Trovix\\3rdPartyApps\\gamey.exe"),
                             {"Path": '""'})
            log = log_sections(p)
            self.assertIn("Software\\QOR\\Trovix\\3rdPartyApps\\gamey.exe=",
                          log[RCV + " Registry Keys"])
            self.assertIn("Software\\QOR\\Trovix\\3rdPartyApps\\gamey.exe\\Path=",
                          log[RCV + " Registry Items"])

    def test_folder_ending_in_QOR_is_not_extended_and_case_counts(self):
        setup = self.build_receiver(APP_REG_KEY="GameZ|GameLower")
        with WinePrefix() as p:
            p.reg_add(SETUP_KEY + "\\GameZ", "Directory", "C:\\Games\\Z\\QOR")
            self.install(p, setup)
            self.assert_receiver_at(p, "C:\\Games\\Z\\QOR")
            self.assertFalse(exists(p, "C:\\Games\\Z\\QOR\\QOR"))
        with WinePrefix() as p:
            # "\qor" is not "\QOR": the maker's folder is added below it.
            p.reg_add(SETUP_KEY + "\\GameLower", "Directory", "C:\\Games\\L\\qor")
            self.install(p, setup)
            self.assertEqual(p.reg_query(SETUP_KEY + "\\" + RCV, "Directory"),
                             "C:\\Games\\L\\qor\\QOR")

    def test_receiver_default_folder_is_used_as_it_is(self):
        setup = self.build_receiver(APP_REG_KEY="GameW", RCV_DEF_DIR="C:\\Default Rcv\\")
        with WinePrefix() as p:
            # Not found: the stamped default, less its trailing backslash.
            self.install(p, setup)
            self.assert_receiver_at(p, "C:\\Default Rcv")
            self.assertEqual(p.reg_query(SETUP_KEY + "\\" + RCV, "Directory"), "C:\\Default Rcv")
            self.assertFalse(exists(p, "C:\\Default Rcv\\QOR"))
        with WinePrefix() as p:
            # Found: used without the maker's subfolder.
            p.reg_add(SETUP_KEY + "\\GameW", "Directory", "C:\\Games\\W\\")
            self.install(p, setup)
            self.assert_receiver_at(p, "C:\\Games\\W")
            self.assertFalse(exists(p, "C:\\Default Rcv"))

    def test_quoted_folders_with_spaces_on_the_command_line(self):
        setup = self.build_receiver(APP_REG_KEY="GameNone")
        with WinePrefix() as p:
            # The driver joins its arguments with spaces, so the setup sees
            # -trovixdir="C:\My Apps\Trovix Home" -receivedir="C:\My Games\Rcv Dir".
            code, out = p.driver("run", "--timeout", "100", p.winpath(setup), "-silent",
                                 '-trovixdir="C:\\My', 'Apps\\Trovix', 'Home"',
                                 '-receivedir="C:\\My', 'Games\\Rcv', 'Dir"', timeout=120)
            self.assertEqual(code, 0, out)
            self.assertEqual(out.get("exit"), "0")
            # Options are taken in lower case.
            product = "c:\\my apps\\trovix home"
            receiver = "c:\\my games\\rcv dir\\QOR"
            self.assertEqual(p.reg_query(SETUP_KEY + "\\Trovix", "Directory"), product)
            self.assertEqual(p.reg_query(SETUP_KEY + "\\" + RCV, "Directory"), receiver)
            self.assertTrue(exists(p, product + "\\TrovixInstall.inf"))
            self.assert_receiver_at(p, receiver)
            self.assertEqual(read_bytes(p, "C:\\Program Files\\QOR\\Scout\\Trovix.tag"),
                             b"[Installation]\r\nDirectory=" + product.encode())
            log = log_sections(p, product)
            self.assertEqual(log["Trovix Dirs"][:2], ["c:\\my apps=", product + "="])
            self.assertFalse(exists(p, PRODUCT))

    def test_entry_with_both_prefixes_needs_a_relative_receiver_folder_which_is_refused(self):
        # An entry named "[TROVIX]\\[RECEIVE]\\..." gives a path only with a
        # relative receiver folder (the decoding is checked by the stored-name
        # table). A relative folder would be taken from wherever the setup
        # runs, so it is refused before anything is written.
        b = add_product_entries(SetupBuilder(workdir(self)))
        b.add("[TROVIX]\\[RECEIVE]\\Both.dat", data=RCV_DATA)
        b.add("NoPrefix.dat", data=RCV_DATA)
        setup = b.build("Both.exe", {"TVIID_INST_NAME": INST, "TVIID_RCV_REG_KEY": RCV})
        with WinePrefix() as p:
            cwd = os.path.join(p.drive_c, "cwd")
            os.makedirs(cwd)
            r = p.run(setup, "-silent", "-suppressmsgboxes", "-receivedir=sub", timeout=120,
                      cwd=cwd)
            self.assertEqual(signed32(r.returncode), -1, r.stderr[-2000:])
            self.assertEqual(os.listdir(cwd), [])
            self.assertFalse(exists(p, PRODUCT))
            self.assertFalse(p.reg_key_exists(SETUP_KEY + "\\" + RCV))


if __name__ == "__main__":
    unittest.main()
