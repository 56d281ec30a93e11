"""Unattended installs as deployment tools run them, under Wine: a receiver
whose folder cannot be found and relative folders are refused before anything
is written; -suppressmsgboxes answers every message without a window; -log=
records what happened; a file held by another program is replaced at the next
restart (exit code 3010 when silent)."""

import os
import unittest

from qorwine import WinePrefix, signed32, wait_for
from wizardlib import CANCEL, DESKTOP_ICON, LAUNCH, NEXT, TITLE_COMPLETE, TITLE_DESTINATION, TITLE_READY, Wizard, build_setup
from installkit import (PRODUCT, SCOUT_TAG, SETUP_KEY, SetupBuilder, add_product_entries, exists,
                        finish, fixture, read_bytes, require_built, workdir)

require_built()
require_built([fixture("Holder.exe")])

PREREQ_CAPTION = "Installation Aborted"
RESTART_CAPTION = "Restart Required"
RESTART_TEXT = ("Some files of Trovix were in use and will be replaced when the computer "
                "restarts.  Restart the computer to finish the installation.")
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
RECEIVER_SLOTS = {"TVIID_INST_NAME": "StarGame Receiver", "TVIID_RCV_REG_KEY": "StarRcv",
                  "TVIID_APP_REG_KEY": "Software\\StarGame", "TVIID_APP_LOC_ITEM": "Path",
                  "TVIID_APP_NAME": "StarGame", "TVIID_APP_EXE": "StarGame.exe"}


def read_log(p, winpath):
    with open(p.unixpath(winpath), "rb") as f:
        data = f.read()
    return data


def log_lines(p, winpath):
    """The log's lines without their time stamps (every line ends in CR LF)."""
    data = read_log(p, winpath)
    assert data.endswith(b"\r\n"), data[-200:]
    lines = data.decode("latin-1").split("\r\n")[:-1]
    for line in lines:
        assert "\n" not in line and "\r" not in line, line
    return [line[20:] for line in lines]  # "YYYY-MM-DD HH:MM:SS "


class Deploying(unittest.TestCase):
    def receiver_setup(self):
        b = add_product_entries(SetupBuilder(workdir(self)))
        b.add("[RECEIVE]\\LumiBridge.dll", data=b"bridge\r\n")
        return b.build("Receiver.exe", RECEIVER_SLOTS)

    def product_setup(self, extra=()):
        b = add_product_entries(SetupBuilder(workdir(self)))
        for stored, data in extra:
            b.add(stored, data=data)
        return b.build("Product.exe")

    def assert_nothing_written(self, p):
        self.assertFalse(exists(p, "C:\\Program Files\\QOR"))
        self.assertFalse(os.path.exists(os.path.join(p.drive_c, "QOR")))
        self.assertFalse(p.reg_key_exists(SETUP_KEY + "\\Trovix"))

    # -- folders that cannot be used --------------------------------------
    def test_silent_receiver_without_its_application_is_refused(self):
        setup = self.receiver_setup()
        with WinePrefix() as p:
            proc = p.start(setup, "-silent")
            code, box = p.driver("msgbox", "--caption", PREREQ_CAPTION, "--press", "ok",
                                 "--timeout", "60", timeout=90)
            self.assertEqual(code, 0, box)
            self.assertEqual(box.get("text"), "StarGame Receiver requires an installed copy of "
                             "StarGame.  You must install StarGame before you install StarGame "
                             "Receiver.")
            self.assertEqual(signed32(finish(proc)), -1)
            self.assert_nothing_written(p)

            # The same without a window: answered, recorded, nothing written.
            r = p.run(setup, "-silent", "-suppressmsgboxes", "-log=C:\\rcv.log", timeout=120)
            self.assertEqual(signed32(r.returncode), -1)
            self.assert_nothing_written(p)
            lines = log_lines(p, "C:\\rcv.log")
            self.assertIn("message suppressed: " + PREREQ_CAPTION + ": StarGame Receiver requires",
                          "\n".join(lines))
            self.assertEqual(lines[-1], "result: not installed (exit code -1)")

    def test_relative_folders_are_refused(self):
        product = self.product_setup()
        receiver = self.receiver_setup()
        cases = [(product, "-trovixdir=foo"), (product, "-trovixdir=\\Trovix"),
                 (product, "-trovixdir=C:Trovix"), (receiver, "-receivedir=games\\star")]
        with WinePrefix() as p:
            cwd = os.path.join(p.drive_c, "work")
            os.makedirs(cwd)
            for setup, option in cases:
                with self.subTest(option):
                    r = p.run(setup, "-silent", "-suppressmsgboxes", option, cwd=cwd,
                              timeout=120)
                    self.assertEqual(signed32(r.returncode), -1)
                    self.assertEqual(os.listdir(cwd), [])
                    self.assert_nothing_written(p)
            # Without -suppressmsgboxes the refusal is the prerequisite message.
            proc = p.start(product, "-silent", "-trovixdir=foo", cwd=cwd)
            code, box = p.driver("msgbox", "--caption", PREREQ_CAPTION, "--press", "ok",
                                 "--timeout", "60", timeout=90)
            self.assertEqual(code, 0, box)
            self.assertEqual(signed32(finish(proc)), -1)
            self.assertEqual(os.listdir(cwd), [])
            self.assert_nothing_written(p)

    # -- files in use -------------------------------------------------------
    def held_upgrade(self, p, sharing, *args):
        """Installs over a product whose busy.dat another program holds;
        returns the exit code and checks what every case shares."""
        setup = self.product_setup([("[TROVIX]\\busy.dat", b"new\r\n"),
                                    ("[TROVIX]\\after.dat", b"placed after it\r\n")])
        folder = p.unixpath(PRODUCT)
        os.makedirs(folder)
        with open(os.path.join(folder, "busy.dat"), "wb") as f:
            f.write(b"old")
        holder = p.start(fixture("Holder.exe"), PRODUCT + "\\busy.dat", "60", sharing)
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(folder, "busy.dat.held")),
                                 timeout=30))
        # Run by a Windows caller, which sees the whole exit code (the Linux
        # shell sees only its low byte). A message box would keep the setup
        # from ending: the run would time out.
        code, out = p.driver("run", "--timeout", "100", p.winpath(setup), "-silent", *args,
                             timeout=150)
        self.assertEqual(code, 0, out)
        result = int(out["exit"])
        self.assertEqual(read_bytes(p, PRODUCT + "\\busy.dat"), b"old")
        self.assertEqual(read_bytes(p, PRODUCT + "\\after.dat"), b"placed after it\r\n")
        holder.kill()
        finish(holder)
        pending = p.reg_query(SESSION_MANAGER, "PendingFileRenameOperations") or ""
        self.assertIn(PRODUCT + "\\busy.dat", pending)
        # The new file waits beside the old one under its temporary name.
        waiting = [n for n in os.listdir(folder) if n.lower().endswith(".tmp")]
        self.assertEqual(len(waiting), 1, os.listdir(folder))
        with open(os.path.join(folder, waiting[0]), "rb") as f:
            self.assertEqual(f.read(), b"new\r\n")
        return result

    def test_file_held_with_read_sharing_is_replaced_at_restart(self):
        with WinePrefix() as p:
            self.assertEqual(self.held_upgrade(p, "read"), 3010)
            self.assertTrue(p.reg_key_exists(SETUP_KEY + "\\Trovix"))

    def test_file_held_without_sharing_is_replaced_at_restart(self):
        with WinePrefix() as p:
            self.assertEqual(self.held_upgrade(p, "none", "-suppressmsgboxes",
                                               "-log=C:\\held.log"), 3010)
            text = "\n".join(log_lines(p, "C:\\held.log"))
            self.assertIn("in use, replaced at the next restart: " + PRODUCT + "\\busy.dat", text)
            self.assertIn("result: installed, restart needed (exit code 3010)", text)

    def test_wizard_says_once_that_a_restart_finishes_the_install(self):
        entries = [("busy.dat", "[TROVIX]\\busy.dat"), ("Lumen.dat", "[TROVIX]\\Lumen.dat")]
        with WinePrefix() as p:
            setup = build_setup(p, entries=entries)
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            with open(os.path.join(folder, "busy.dat"), "wb") as f:
                f.write(b"old")
            holder = p.start(fixture("Holder.exe"), PRODUCT + "\\busy.dat", "60", "read")
            self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(folder, "busy.dat.held")),
                                     timeout=30))
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(NEXT)
                box = w.msgbox(RESTART_CAPTION, "ok", timeout=60)
                self.assertEqual(box["text"], RESTART_TEXT)
                self.assertTrue(box["owner"])
                w.wait_page(TITLE_COMPLETE, 60)
                w.no_msgbox(RESTART_CAPTION)
                w.check(LAUNCH, False)
                w.check(DESKTOP_ICON, False)
                w.click(CANCEL)  # "Finished" on the last page
                self.assertEqual(w.exit_code(), 0)
            holder.kill()
            finish(holder)

    # -- messages without a window, and the log -------------------------------
    def test_suppressed_messages_are_logged_and_answered(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            os.makedirs(os.path.join(p.unixpath("C:\\Program Files"), "QOR", "Scout", "Trovix.tag"))
            proc = p.start(setup, "-silent", "-suppressmsgboxes", "-log=C:\\tag.log")
            code, out = p.driver("nomsgbox", "--caption", "Unable to write file", "--timeout", "5")
            self.assertEqual(code, 0, out)
            self.assertEqual(signed32(finish(proc, 120)), 0)
            text = "\n".join(log_lines(p, "C:\\tag.log"))
            self.assertIn("message suppressed: Unable to write file: Unable to write Title Scout "
                          "tag file. If you use title scout", text)
            self.assertIn("tag file not written: " + SCOUT_TAG, text)

    def test_log_of_a_successful_install(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            cwd = os.path.join(p.drive_c, "logs here")
            os.makedirs(cwd)
            with open(os.path.join(cwd, "setup.log"), "wb") as f:
                f.write(b"an earlier run\r\n")
            # Relative: to the current folder. (Quotes for spaces are checked
            # where the command line is parsed: Wine would escape them here.)
            r = p.run(setup, "-silent", "-log=setup.log", cwd=cwd, timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            data = read_log(p, "C:\\logs here\\setup.log")
            self.assertTrue(data.startswith(b"an earlier run\r\n"))  # appended to
            with open(os.path.join(cwd, "setup.log"), "wb") as f:
                f.write(data[len(b"an earlier run\r\n"):])
            lines = log_lines(p, "C:\\logs here\\setup.log")
            self.assertTrue(lines[0].startswith("setup started: "), lines[0])
            self.assertIn("command line: -silent -log=setup.log", lines)
            self.assertIn("product folder: " + PRODUCT, lines)
            for name in ("TrovixUninstall.exe", "QorXfer.dll", "QorDL.exe", "QorRcv.exe",
                         "Lumen.dat", "Corvane.inf"):
                self.assertIn("placed: %s\\%s" % (PRODUCT, name), lines)
            text = "\n".join(lines)
            self.assertIn("registry: ", text)
            self.assertIn('command started: "%s\\QorDL.exe" -register' % PRODUCT, lines)
            self.assertIn("tag file written: " + SCOUT_TAG, lines)
            self.assertEqual(lines[-1], "result: installed (exit code 0)")

            # A quoted name with spaces: the same install again. The driver
            # joins its arguments with spaces, so the setup sees
            # -log="C:\logs here\Again.log".
            code, out = p.driver("run", "--timeout", "100", p.winpath(setup), "-silent",
                                 '-log="C:\\logs', 'here\\Again.log"', timeout=120)
            self.assertEqual(code, 0, out)
            self.assertEqual(out.get("exit"), "0")
            again = log_lines(p, "C:\\logs here\\Again.log")
            self.assertIn("replaced: %s\\Lumen.dat" % PRODUCT, again)
            self.assertEqual(again[-1], "result: installed (exit code 0)")

    def test_log_of_a_failed_install(self):
        setup = self.product_setup([("[TROVIX]\\sub\\x.dat", b"x\r\n")])
        with WinePrefix() as p:
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            with open(os.path.join(folder, "sub"), "wb") as f:
                f.write(b"a file where a folder should go")
            r = p.run(setup, "-silent", "-log=C:\\failed.log", timeout=120)
            self.assertEqual(signed32(r.returncode), -1)
            lines = log_lines(p, "C:\\failed.log")
            failed = [l for l in lines if l.startswith("failed: ")]
            self.assertEqual(len(failed), 1, lines)
            self.assertTrue(failed[0].startswith("failed: %s\\sub\\x.dat: " % PRODUCT), failed)
            self.assertGreater(len(failed[0]), len("failed: %s\\sub\\x.dat: " % PRODUCT))
            self.assertEqual(lines[-1], "result: not installed (exit code -1)")

    def test_log_that_cannot_be_written_changes_nothing(self):
        setup = self.product_setup()
        with WinePrefix() as p:
            r = p.run(setup, "-silent", "-log=C:\\no such folder\\x.log", timeout=120)
            self.assertEqual(signed32(r.returncode), 0)
            self.assertTrue(exists(p, PRODUCT + "\\Lumen.dat"))


if __name__ == "__main__":
    unittest.main()
