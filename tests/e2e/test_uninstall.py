"""TrovixUninstall.exe under Wine: a fresh prefix is snapshotted, a setup
installs into it, the uninstaller removes it again, and the difference from
the snapshot must be empty (the uninstaller's copy in the temp folder aside).
The recorder stand-ins keep their records outside the prefix (QOR_RECORDS),
so the product folder holds only what the setup put there."""

import os
import shutil
import tempfile
import unittest

import qorwine
from qorwine import WinePrefix, signed32
from installkit import (INST_TAGS, PRODUCT, RECORDER, exists, SetupBuilder, add_product_entries,
                        log_text, read_bytes, require_built, workdir)
from uninstallkit import (FINISH, RECEIVERS, REPORT, TEXT, UNINSTALL_EXE, YES, UninstallDialog,
                          difference, snapshot, temp_copies)
from wizardlib import TITLE_DESTINATION, Wizard, build_setup

require_built()
require_built([qorwine.bin_path("TrovixUninstall.exe")])
RCV = "GameRcv"
INST = "Trovix for Game"
GAME = "C:\\Games\\X"


class Uninstall(unittest.TestCase):
    def setUp(self):
        self.records = tempfile.mkdtemp(prefix="qorrec.")
        self.addCleanup(shutil.rmtree, self.records, True)
        os.environ["QOR_RECORDS"] = "Z:" + self.records.replace("/", "\\")
        self.addCleanup(os.environ.pop, "QOR_RECORDS", None)

    def record(self, name):
        path = os.path.join(self.records, name + ".ran.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def product_setup(self):
        return add_product_entries(SetupBuilder(workdir(self))).build("Setup.exe")

    def receiver_setup(self, rcv=RCV, inst=INST, app="GameX"):
        b = add_product_entries(SetupBuilder(workdir(self)))
        b.add("[RECEIVE]\\Rcv.dat", data=b"receiver data\r\n")
        b.add("[RECEIVE]%s\\%s.exe" % (INST_TAGS, rcv), source=RECORDER)
        return b.build(rcv + ".exe", {"TVIID_INST_NAME": inst, "TVIID_RCV_REG_KEY": rcv,
                                      "TVIID_APP_REG_KEY": app})

    def install(self, p, setup):
        r = p.run(setup, "-silent", timeout=120)
        self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
        qorwine.wait_for(lambda: self.record("QorDL") and self.record("QorRcv"), 20)
        p.wait_server()

    def uninstall(self, p, *args, code=0):
        r = p.run(UNINSTALL_EXE, *args, timeout=300)
        if code is not None:
            self.assertEqual(signed32(r.returncode), code, r.stderr[-2000:])
        p.wait_server(timeout=120)  # the temp copy finishes after the original

    def assertClean(self, p, before, allowed=()):
        self.assertEqual([d for d in difference(before, snapshot(p)) if d not in allowed], [])

    # 1 and 5 ---------------------------------------------------------------
    def test_silent_install_then_silent_uninstall_leaves_nothing(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            before = snapshot(p)
            self.install(p, setup)
            self.uninstall(p, "-silent")
            self.assertClean(p, before)
            # Its copy in the temp folder is the only trace (until a restart).
            self.assertLessEqual(len(temp_copies(p)), 1)

    def test_uninstall_commands_ran_hidden_with_their_arguments_from_their_files(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            self.install(p, setup)
            self.uninstall(p, "-silent")
            # The recorder could only run from its own file, so before it went.
            for name in ("QorDL", "QorRcv"):
                self.assertEqual(self.record(name),
                                 "-register (show command 0)\r\n-unregister (show command 0)\r\n")
            self.assertFalse(os.path.exists(p.unixpath(PRODUCT)))

    # 2 ---------------------------------------------------------------------
    def test_wizard_install_with_start_menu_and_desktop_then_interactive_uninstall(self):
        with WinePrefix() as p:
            setup = build_setup(p)
            before = snapshot(p)
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                self.assertEqual(w.install_and_finish(desktop=True), 0)
            p.wait_server()
            self.assertIn("[Trovix Desktop URLs]", log_text(p))
            self.assertIn("[Trovix Start Menu Shortcuts]", log_text(p))

            with UninstallDialog(p) as u:
                page = u.wait_dialog()
                self.assertEqual(page.text(TEXT),
                                 "Remove Trovix and all of its components from this computer?")
                u.click(YES)
                page = u.wait_final()
                self.assertEqual(page.text(TEXT), "Trovix has been removed from this computer.")
                self.assertFalse(page.visible(REPORT))
                self.assertEqual(u.exit_code(), 0)
                u.click(FINISH)
            p.wait_server(timeout=120)
            # The setup stub and its payload in C:\setup were there before.
            self.assertClean(p, before)

    # 3 ---------------------------------------------------------------------
    def test_receiver_alone_then_the_rest(self):
        product, receiver = self.product_setup(), self.receiver_setup()
        with WinePrefix() as p:
            p.reg_add("HKLM\\Software\\Corvane OnLine\\Setup\\GameX", "Directory", GAME)
            os.makedirs(p.unixpath(GAME))
            before = snapshot(p)
            self.install(p, product)
            product_log = read_bytes(p, PRODUCT + "\\TrovixInstall.inf")
            product_state = snapshot(p)
            self.install(p, receiver)
            self.assertIn("[Dependents]", log_text(p))

            self.uninstall(p, "-silent", "-productid=" + RCV)
            self.assertEqual(self.record("GameRcv"),
                             "-register (show command 0)\r\n-unregister (show command 0)\r\n")
            # Exactly the receiver is gone: files, registry and log entries of
            # the product are as the product's own install left them.
            self.assertEqual(read_bytes(p, PRODUCT + "\\TrovixInstall.inf"), product_log)
            self.assertEqual(difference(product_state, snapshot(p)), [])

            self.uninstall(p, "-silent")
            self.assertClean(p, before)

    def test_empty_productid_with_one_dependent_removes_that_receiver(self):
        with WinePrefix() as p:
            p.reg_add("HKLM\\Software\\Corvane OnLine\\Setup\\GameX", "Directory", GAME)
            os.makedirs(p.unixpath(GAME))
            self.install(p, self.receiver_setup())
            self.uninstall(p, "-silent", "-productid=")
            self.assertFalse(os.path.exists(p.unixpath(GAME + "\\QOR")))
            self.assertNotIn(RCV, log_text(p))
            self.assertTrue(os.path.exists(p.unixpath(PRODUCT + "\\QorDL.exe")))

    def test_several_dependents_the_dialog_asks_and_silent_refuses(self):
        with WinePrefix() as p:
            for app, folder in (("GameX", GAME), ("GameY", "C:\\Games\\Y")):
                p.reg_add("HKLM\\Software\\Corvane OnLine\\Setup\\" + app, "Directory", folder)
                os.makedirs(p.unixpath(folder))
            self.install(p, self.receiver_setup())
            self.install(p, self.receiver_setup("OtherRcv", "Trovix for Other", "GameY"))
            installed = snapshot(p)
            self.uninstall(p, "-silent", "-productid=", code=-1)
            self.assertEqual(difference(installed, snapshot(p)), [])

            with UninstallDialog(p, "-productid=") as u:
                page = u.wait_dialog()
                self.assertTrue(page.visible(RECEIVERS))
                self.assertEqual(page.text(YES), "&Next >")
                # The list holds the receivers in log order, by their install names.
                u.cmd("dblclick", u.hwnd, RECEIVERS, 1)
                qorwine.wait_for(lambda: "Other" in u.page().text(TEXT), 20)
                self.assertEqual(u.page().text(TEXT), "Remove Trovix for Other from this "
                                 "computer?  Trovix itself stays installed.")
                u.click(YES)
                page = u.wait_final()
                self.assertEqual(page.text(TEXT), "Trovix for Other has been removed from this "
                                 "computer.")
                u.click(FINISH)
                self.assertEqual(u.exit_code(), 0)
            self.assertFalse(os.path.exists(p.unixpath("C:\\Games\\Y\\QOR")))
            self.assertTrue(os.path.exists(p.unixpath(GAME + "\\QOR\\Rcv.dat")))
            self.assertNotIn("OtherRcv", log_text(p))

    def test_refusals_change_nothing_and_exit_minus_one(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            self.install(p, setup)
            installed = snapshot(p)
            # No receiver to remove; then a receiver the log does not know.
            self.uninstall(p, "-silent", "-productid=", code=-1)
            self.uninstall(p, "-silent", "-productid=Nobody", code=-1)
            self.assertEqual(difference(installed, snapshot(p)), [])
            # No log at all: nothing removed.
            os.remove(p.unixpath(PRODUCT + "\\TrovixInstall.inf"))
            installed = snapshot(p)
            self.uninstall(p, "-silent", code=-1)
            self.assertEqual(difference(installed, snapshot(p)), [])

    # 4 ---------------------------------------------------------------------
    def test_objects_that_were_there_before_survive(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            os.makedirs(p.unixpath("C:\\Program Files") + "/QOR")
            with open(p.unixpath("C:\\Program Files\\QOR") + "/Keep.txt", "wb") as f:
                f.write(b"mine\r\n")
            p.reg_add("HKLM\\Software\\QOR", "Keep", "1")
            before = snapshot(p)
            self.install(p, setup)
            self.assertNotIn("C:\\Program Files\\QOR=", log_text(p))
            self.uninstall(p, "-silent")
            self.assertClean(p, before)

    # 6 ---------------------------------------------------------------------
    def test_a_file_of_the_user_keeps_its_folder_and_is_named(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            before = snapshot(p)
            self.install(p, setup)
            with open(p.unixpath(PRODUCT) + "/notes.txt", "wb") as f:
                f.write(b"my notes\r\n")
            with UninstallDialog(p) as u:
                u.wait_dialog()
                u.click(YES)
                page = u.wait_final()
                self.assertTrue(page.visible(REPORT))
                self.assertIn("These items were left in place:", page.text(TEXT))
                self.assertIn(PRODUCT + " - kept: it holds notes.txt", page.text(REPORT))
                self.assertEqual(u.exit_code(), 0)
                u.click(FINISH)
            p.wait_server(timeout=120)
            self.assertEqual(difference(before, snapshot(p)),
                             ["+ C:\\Program Files\\QOR", "+ " + PRODUCT,
                              "+ " + PRODUCT + "\\notes.txt"])

    # 7 ---------------------------------------------------------------------
    def test_hostile_log_touches_nothing_the_rules_forbid(self):
        with WinePrefix() as p:
            sentinels = ["C:\\sentinel.txt", "C:\\windows\\system32\\x.dll",
                         "C:\\Program Files\\kept.txt"]
            for s in sentinels:
                with open(p.unixpath(s), "wb") as f:
                    f.write(b"keep\r\n")
            p.reg_add("HKLM\\Software\\QorTest", "Keep", "1")
            before = snapshot(p)
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            shutil.copyfile(qorwine.bin_path("TrovixUninstall.exe"),
                            os.path.join(folder, "TrovixUninstall.exe"))
            lines = ["[Trovix Files]", "sentinel.txt=", "..\\..\\sentinel.txt=", "C:\\=",
                     "C:\\sentinel.txt\\..\\sentinel.txt=", "C:\\windows\\system32\\x.dll=",
                     "C:\\Program Files\\QOR\\..\\kept.txt=",
                     PRODUCT + "\\TrovixInstall.inf=", PRODUCT + "\\TrovixUninstall.exe=",
                     "C:\\" + "a" * (1 << 20) + "="]
            lines += ["%s\\f%06d=" % (PRODUCT, i) for i in range(100000)]
            lines += ["[Trovix Dirs]", "C:\\Program Files=", "C:\\Program Files\\QOR=",
                      PRODUCT + "=", "C:\\windows=", "C:\\=", "QOR=",
                      "[Trovix Registry Keys]", "Software=", "HKEY_LOCAL_MACHINE\\Software\\QorTest=",
                      "[Trovix Registry Items]", "Software\\QorTest=", "Keep=",
                      "[Trovix Start Menu Folders]", "=", "..=", "..\\..=",
                      "[Trovix Desktop URLs]", "..\\..\\..\\sentinel=",
                      "[Uninstall Command Line]",
                      "C:\\windows\\system32\\cmd.exe=C:\\windows\\system32\\cmd.exe /c del C:\\sentinel.txt",
                      PRODUCT + "\\TrovixUninstall.exe=C:\\windows\\system32\\cmd.exe /c del x"]
            with open(os.path.join(folder, "TrovixInstall.inf"), "wb") as f:
                f.write(("\r\n".join(lines) + "\r\n").encode("latin-1") + b"[Junk\x00\xff]\r\n\x00\x01")
            self.uninstall(p, "-silent")
            # The product folder and its parent went; nothing else moved.
            self.assertEqual(difference(before, snapshot(p)), [])
            for s in sentinels:
                self.assertEqual(read_bytes(p, s), b"keep\r\n")

    # Hostile logs and links, second round ----------------------------------
    def put(self, p, winpath, data=b"keep\r\n"):
        path = p.unixpath(winpath)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def plant(self, p, lines, raw=None):
        """The uninstaller and a log of lines in the product folder, as someone
        who can write there leaves them."""
        folder = p.unixpath(PRODUCT)
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(qorwine.bin_path("TrovixUninstall.exe"),
                        os.path.join(folder, "TrovixUninstall.exe"))
        with open(os.path.join(folder, "TrovixInstall.inf"), "wb") as f:
            f.write(raw if raw is not None else
                    ("\r\n".join(lines) + "\r\n").encode("latin-1"))

    def test_links_and_junctions_on_the_way_are_never_followed(self):
        with WinePrefix() as p:
            self.put(p, "C:\\windows\\system32\\symsent.dll")
            os.makedirs(p.unixpath("C:\\victimdir"))
            os.makedirs(p.unixpath(PRODUCT))
            # Unix links to folders are reparse points under Wine, as a
            # symbolic link or a junction is on Windows.
            os.symlink(p.unixpath("C:\\windows\\system32"), p.unixpath(PRODUCT) + "/link")
            os.symlink(p.unixpath("C:\\victimdir"), p.unixpath(PRODUCT) + "/dirlink")
            # A unix link to a file is no reparse point under Wine; where it
            # leads is asked of the file opened there.
            self.put(p, "C:\\windows\\system32\\filesent.dll")
            os.symlink(p.unixpath("C:\\windows\\system32\\filesent.dll"),
                       p.unixpath(PRODUCT) + "/filelink.dll")
            cmd = PRODUCT + "\\link\\cmd.exe"
            cases = [  # (log lines, what must still be there)
                (["[Trovix Files]", PRODUCT + "\\link\\symsent.dll="],
                 "C:\\windows\\system32\\symsent.dll"),
                (["[Trovix Dirs]", PRODUCT + "\\dirlink="], "C:\\victimdir"),
                (["[Trovix Files]", PRODUCT + "\\filelink.dll="],
                 "C:\\windows\\system32\\filesent.dll"),
                (["[Trovix Files]", cmd + "=", "[Uninstall Command Line]",
                  cmd + "=" + cmd + " /c echo ran> C:\\cmdran.txt"],
                 "C:\\windows\\system32\\cmd.exe"),
            ]
            for lines, kept in cases:
                with self.subTest(kept=kept):
                    self.plant(p, lines)
                    self.uninstall(p, "-silent", code=None)
                    self.assertTrue(os.path.exists(p.unixpath(kept)))
            self.assertFalse(os.path.exists(p.unixpath("C:\\cmdran.txt")))

    def test_a_planted_or_stale_new_log_is_never_written_through(self):
        with WinePrefix() as p:
            fresh = p.unixpath(PRODUCT) + "/TrovixInstall.inf.new"
            cases = [  # how the name is taken before the run, whether it stays
                ("link", lambda: os.symlink(p.unixpath("C:\\victim.cfg"), fresh), True),
                ("stale", lambda: self.put(p, PRODUCT + "\\TrovixInstall.inf.new", b"old"), False),
            ]
            for name, take, stays in cases:
                with self.subTest(name):
                    if os.path.lexists(fresh):
                        os.remove(fresh)
                    self.put(p, "C:\\victim.cfg", b"victim\r\n")
                    self.put(p, GAME + "\\QOR\\r.dat")
                    self.plant(p, ["[Trovix Files]", PRODUCT + "\\TrovixInstall.inf=",
                                   "[Dependents]", "Rcv=", "[Rcv Files]", GAME + "\\QOR\\r.dat="])
                    take()
                    self.uninstall(p, "-silent", "-productid=Rcv")
                    self.assertEqual(read_bytes(p, "C:\\victim.cfg"), b"victim\r\n")
                    self.assertEqual(log_text(p), "[Trovix Files]\r\n%s\\TrovixInstall.inf=\r\n"
                                     % PRODUCT)
                    # A planted link is left alone: removing it would reach its target.
                    self.assertEqual(os.path.lexists(fresh), stays)

    def test_only_recorded_programs_run_and_never_through_a_command_interpreter(self):
        with WinePrefix() as p:
            other, own, bat = ("C:\\users\\Public\\Other.exe", PRODUCT + "\\Own.exe",
                               PRODUCT + "\\x.bat")
            for exe in (other, own):
                os.makedirs(os.path.dirname(p.unixpath(exe)), exist_ok=True)
                shutil.copyfile(RECORDER, p.unixpath(exe))
            self.plant(p, ["[Trovix Files]", own + "=", bat + "=", "[Uninstall Command Line]",
                           other + "=" + other + " -from-a-hostile-log",
                           bat + "=" + bat + " & echo cmd-injection> C:\\injected.txt",
                           own + "=" + own + " -unregister"])
            self.put(p, bat, b"@echo off\r\n")
            self.uninstall(p, "-silent", code=None)
            cases = [("Other", None), ("Own", "-unregister (show command 0)\r\n")]
            for name, ran in cases:
                self.assertEqual(self.record(name), ran, name)
            self.assertFalse(os.path.exists(p.unixpath("C:\\injected.txt")))
            self.assertTrue(os.path.exists(p.unixpath(other)))

    def test_per_user_shell_folders_lift_no_protection(self):
        with WinePrefix() as p:
            shell = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
            cases = [("Startup", "C:\\windows\\Fonts\\fontsent.ttf"),
                     ("Programs", "C:\\windows\\inf\\infsent.inf")]
            for value, sentinel in cases:
                p.reg_add(shell, value, sentinel[:sentinel.rindex("\\")])
                self.put(p, sentinel)
            self.plant(p, ["[Trovix Files]"] + [s + "=" for _, s in cases])
            self.uninstall(p, "-silent")
            for _, sentinel in cases:
                self.assertEqual(read_bytes(p, sentinel), b"keep\r\n", sentinel)

    def test_an_unreadable_log_ends_with_minus_one_and_removes_nothing(self):
        with WinePrefix() as p:
            cases = [("empty", b""), ("junk", bytes(range(256)) * 4),
                     ("other sections only", b"[Dependents]\r\nRcv=\r\n[Rcv Files]\r\nC:\\x=\r\n")]
            for name, raw in cases:
                with self.subTest(name):
                    self.plant(p, [], raw=raw)
                    before = snapshot(p)
                    self.uninstall(p, "-silent", code=-1)
                    self.assertEqual(difference(before, snapshot(p)), [])

    def test_what_is_left_keeps_the_log_the_uninstaller_and_the_entry_for_a_later_run(self):
        entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix"
        held = PRODUCT + "\\Held.exe"
        with WinePrefix() as p:
            before = snapshot(p)
            p.reg_add("HKLM\\" + entry, "UninstallString", UNINSTALL_EXE)
            self.plant(p, ["[Trovix Dirs]", "C:\\Program Files\\QOR=", PRODUCT + "=",
                           "[Trovix Files]", PRODUCT + "\\TrovixInstall.inf=", UNINSTALL_EXE + "=",
                           held + "=", PRODUCT + "\\a.txt=",
                           "[Trovix Registry Keys]", entry + "=",
                           "[Trovix Registry Items]", entry + "\\UninstallString="])
            self.put(p, PRODUCT + "\\a.txt")
            shutil.copyfile(RECORDER, p.unixpath(held))
            # A running program's file cannot be removed until it ends.
            proc = p.start(held, "-linger")
            qorwine.wait_for(lambda: self.record("Held"), 20)
            self.uninstall(p, "-silent", code=-1)
            log = log_text(p)
            self.assertIn(held + "=", log)
            self.assertIn(entry + "\\UninstallString=", log)
            self.assertNotIn("a.txt", log)
            self.assertFalse(exists(p, PRODUCT + "\\a.txt"))
            self.assertTrue(exists(p, UNINSTALL_EXE))
            self.assertEqual(p.reg_query("HKLM\\" + entry, "UninstallString"), UNINSTALL_EXE)
            proc.kill()
            proc.wait()
            proc.stdout.close()
            proc.stderr.close()
            p.wait_server(timeout=120)
            # Once the program is gone, a second run finishes the work.
            self.uninstall(p, "-silent")
            self.assertClean(p, before)

    def test_a_temp_copy_killed_before_its_signal_counts_as_failed(self):
        sleeper = PRODUCT + "\\Sleeper.exe"
        with WinePrefix() as p:
            # The copy is still at work when it is killed: it waits for an
            # uninstall command that lingers (a count of entries alone can be
            # worked through before the kill on an idle machine).
            self.plant(p, ["[Trovix Files]", sleeper + "=",
                           "[Uninstall Command Line]", sleeper + "=" + sleeper + " -linger"])
            shutil.copyfile(RECORDER, p.unixpath(sleeper))
            original = p.start(UNINSTALL_EXE, "-silent")
            qorwine.wait_for(lambda: self.record("Sleeper"), 60)

            def copy_pid():
                for pid in filter(str.isdigit, os.listdir("/proc")):
                    try:
                        with open("/proc/%s/cmdline" % pid, "rb") as f:
                            cmd = f.read()
                        with open("/proc/%s/environ" % pid, "rb") as f:
                            env = f.read().split(b"\0")
                    except OSError:
                        continue
                    if (b"TrovixUninstall-" in cmd and
                            ("WINEPREFIX=" + p.path).encode() in env):
                        return int(pid)
                return None
            qorwine.wait_for(copy_pid, 60)
            os.kill(copy_pid(), 9)
            # Not communicate(): a Wine process started meanwhile may hold the pipes.
            original.wait(timeout=120)
            original.stdout.close()
            original.stderr.close()
            self.assertEqual(signed32(original.returncode), -1)

    def test_keys_holding_values_the_log_does_not_record_are_kept(self):
        with WinePrefix() as p:
            cases = [  # recorded key, a value another product added there
                ("Software\\QOR", "OtherProductPath"),
                ("Software\\Corvane OnLine\\Setup\\Trovix", "Added"),
                ("Software\\QOR\\Trovix\\Receivers\\TrovixRcv", "Added"),
            ]
            lines, items = ["[Trovix Registry Keys]"], ["[Trovix Registry Items]"]
            for key, other in cases:
                p.reg_add("HKLM\\" + key, "Mine", "1")
                p.reg_add("HKLM\\" + key, other, "theirs")
                lines.append(key + "=")
                items.append(key + "\\Mine=")
            self.plant(p, lines + items)
            self.uninstall(p, "-silent")
            for key, other in cases:
                self.assertEqual(p.reg_query("HKLM\\" + key, other), "theirs", key)
                self.assertIsNone(p.reg_query("HKLM\\" + key, "Mine"), key)


if __name__ == "__main__":
    unittest.main()
