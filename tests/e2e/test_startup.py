"""Start-up of TrovixInstall.exe end to end: stamped configuration, the
prerequisite message and the exit codes.

A receiver setup whose 3rd-party application cannot be found must show string
129 ("<RCV> requires an installed copy of <PROD>. ...") with every placeholder
filled, caption string 130, and end with exit code -1 (255 in the Linux
shell), with and without -silent. The other cases check that the driver is
reached and the prerequisite message stays away.

These setups carry no payload archive, so every run that gets past the
prerequisite check ends with -1: the silent install cannot open its archive
(RunSilent answers 2), and the wizard is cancelled by the test (ShowWizard
answers 2). (The placeholders that stood in for both before they existed
answered 2 as well, with the same exit code.)
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import qorwine
from qorwine import WinePrefix, bin_path, NATIVE_BIN, qorpack, signed32
from wizardlib import Wizard

PREREQ_CAPTION = "Installation Aborted"
PREREQ_TEXT = ("<RCV> requires an installed copy of <PROD>.  "
               "You must install <PROD> before you install <RCV>.")
WIZARD_FIRST_CAPTION = "Choose Trovix Installation Destination"
CANCEL_CAPTION = "Cancel Installation"

# Slot layout of the stamped block (contract/StampedSlots.h).
SLOTS = [("TVIID_INST_NAME", 40), ("TVIID_RCV_REG_KEY", 32), ("TVIID_RCV_DEF_DIR", 64),
         ("TVIID_APP_REG_KEY", 128), ("TVIID_APP_LOC_ITEM", 32), ("TVIID_APP_NAME", 32),
         ("TVIID_APP_EXE", 32)]


def unstamped_block():
    return b"".join(m.encode() + b"\0" * (cap - len(m)) for m, cap in SLOTS)


def stamp_bytes(path, values):
    """Writes values into the slots of an unstamped setup by searching its
    marker block (used when no native qorpack is at hand)."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    block = unstamped_block()
    at = data.find(block)
    assert at >= 0 and data.find(block, at + 1) < 0, "exactly one slot block expected"
    off = at
    for marker, cap in SLOTS:
        if marker in values:
            v = values[marker].encode("latin-1")
            assert len(v) <= cap - 1, marker
            data[off:off + cap] = v + b"\0" * (cap - len(v))
        off += cap
    with open(path, "wb") as f:
        f.write(data)


def stamp_bytes_in_place(path, values):
    """Overwrites slots of an already stamped setup (located through the
    receiver name stamped by make_setup) with raw values, no zero required."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    at = data.find(b"TVIID_RCV_DEF_DIR\0")  # third slot, left unstamped
    assert at >= 0
    base = at - 72
    off = base
    for marker, cap in SLOTS:
        if marker in values:
            v = values[marker].encode("latin-1")
            assert len(v) <= cap, marker
            data[off:off + cap] = v + b"\0" * (cap - len(v))
        off += cap
    with open(path, "wb") as f:
        f.write(data)


def make_setup(directory, values):
    """A copy of TrovixInstall.exe with the given slots stamped."""
    path = os.path.join(directory, "Setup.exe")
    shutil.copyfile(bin_path("TrovixInstall.exe"), path)
    if values:
        if os.path.exists(os.path.join(NATIVE_BIN, "qorpack")):
            args = []
            for k, v in values.items():
                args += ["--slot", "%s=%s" % (k, v)]
            qorpack("stamp", path, *args)
        else:
            stamp_bytes(path, values)
    return path


RECEIVER = {
    "TVIID_INST_NAME": "GameX <Gold> Receiver",
    "TVIID_RCV_REG_KEY": "GameXRcv",
    "TVIID_APP_REG_KEY": "Software\\QorE2E\\GameX|GameXEntry",
    "TVIID_APP_LOC_ITEM": "InstallPath",
    "TVIID_APP_NAME": "GameX",
}


class StartedPrefix(WinePrefix):
    """A fresh prefix whose wineserver and desktop already run, so the setup
    and the driver never start together in a cold prefix.

    Programs run without pipes: a Wine process starting at the same moment
    can inherit a pipe and hold it open long after the program ended."""

    def __enter__(self):
        super().__enter__()
        try:
            self.driver("windows", timeout=120)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def start(self, exe, *args, stdout=subprocess.DEVNULL):
        """Starts a program with no pipes attached (see above)."""
        return subprocess.Popen([qorwine.WINE, exe, *map(str, args)], env=self.env,
                                stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=subprocess.DEVNULL)


class StartUpTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qorstartup.")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def finish(self, proc, timeout=60):
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            self.fail("setup did not end")
        return signed32(proc.returncode)

    def run_to_end(self, wine, setup, *args):
        """Runs a setup that must end on its own without any message box."""
        proc = wine.start(setup, *args)
        code, out = wine.driver("nomsgbox", "--caption", PREREQ_CAPTION, "--timeout", "3")
        self.assertEqual(code, 0, out)
        return self.finish(proc)

    def cancel_wizard_if_shown(self, wine, proc):
        """Ends a non-silent run: cancels the wizard when it appears."""
        deadline = time.time() + 30
        while proc.poll() is None and time.time() < deadline:
            code, out = wine.driver("msgbox", "--caption", WIZARD_FIRST_CAPTION, "--timeout", "2",
                                    "--press", "2")
            if code == 0:
                code, out = wine.driver("msgbox", "--caption", CANCEL_CAPTION, "--timeout", "10",
                                        "--press", "yes")
                self.assertEqual(code, 0, out)
                break
        return self.finish(proc)

    def check_prerequisite_message(self, *args, slots=RECEIVER):
        setup = make_setup(self.tmp, slots)
        with StartedPrefix() as wine:
            proc = wine.start(setup, *args)
            code, out = wine.driver("msgbox", "--caption", PREREQ_CAPTION, "--timeout", "30")
            self.assertEqual(code, 0, "no prerequisite message: %s" % out)
            # The zero-size main window shows (a taskbar button) unless silent.
            _, shown = wine.driver("windows")
            windows = shown.get("window", [])
            windows = windows if isinstance(windows, list) else [windows]
            self.assertEqual("TROVIXINSTALL | TrovixInstall" in windows, "-silent" not in args,
                             windows)
            code, out = wine.driver("msgbox", "--caption", PREREQ_CAPTION, "--timeout", "10",
                                    "--press", "ok")
            self.assertEqual(code, 0, out)
            self.assertEqual(out["caption"], PREREQ_CAPTION)
            expected = (PREREQ_TEXT.replace("<RCV>", RECEIVER["TVIID_INST_NAME"])
                        .replace("<PROD>", RECEIVER["TVIID_APP_NAME"]))
            self.assertEqual(out["text"], expected)
            self.assertEqual(out["owner"], "yes")  # the main window
            self.assertEqual(self.finish(proc), -1)

    def test_receiver_without_application_shows_prerequisite_message(self):
        self.check_prerequisite_message()

    def test_prerequisite_message_also_in_silent_mode(self):
        self.check_prerequisite_message("-silent")

    def test_prerequisite_message_is_an_error_box_with_ok_only(self):
        setup = make_setup(self.tmp, RECEIVER)
        with StartedPrefix() as wine:
            with Wizard(wine, wine.winpath(setup), "-silent") as w:
                box = w.msgbox(PREREQ_CAPTION, press="ok", timeout=30)
                self.assertTrue(box["icon"], box)
                self.assertEqual([b["id"] for b in box["buttons"]], [1], box)  # IDOK alone
                self.assertTrue(box["owner"], box)
                self.assertEqual(w.exit_code(), -1)

    def test_slot_without_terminating_zero_ends_at_its_capacity(self):
        setup = make_setup(self.tmp, RECEIVER)
        full_name = "N" * 40  # the whole install name slot, no zero after it
        stamp_bytes_in_place(setup, {"TVIID_INST_NAME": full_name})
        with StartedPrefix() as wine:
            proc = wine.start(setup, "-silent")
            code, out = wine.driver("msgbox", "--caption", PREREQ_CAPTION, "--timeout", "30",
                                    "--press", "ok")
            self.assertEqual(code, 0, out)
            self.assertTrue(out["text"].startswith(full_name + " requires "), out["text"])
            self.assertTrue(out["text"].endswith(" before you install " + full_name + "."))
            self.assertEqual(self.finish(proc), -1)

    def test_exit_code_reaches_a_windows_caller(self):
        setup = make_setup(self.tmp, RECEIVER)
        with StartedPrefix() as wine:
            with tempfile.TemporaryFile("w+") as log:
                runner = wine.start(bin_path("qordriver.exe"), "run", "--timeout", "40",
                                    wine.winpath(setup), "-SILENT", stdout=log)
                code, out = wine.driver("msgbox", "--caption", PREREQ_CAPTION, "--timeout",
                                        "30", "--press", "ok")
                self.assertEqual(code, 0, out)
                runner.wait(timeout=60)
                log.seek(0)
                self.assertIn("exit: -1", log.read())

    def test_application_found_through_its_registry_key(self):
        setup = make_setup(self.tmp, RECEIVER)
        with StartedPrefix() as wine:
            wine.reg_add("HKLM\\Software\\QorE2E\\GameX", "InstallPath", "C:\\Games\\GameX")
            self.assertEqual(self.run_to_end(wine, setup, "-silent"), -1)

    def test_application_found_through_a_later_setup_entry(self):
        setup = make_setup(self.tmp, RECEIVER)
        with StartedPrefix() as wine:
            wine.reg_add("HKLM\\Software\\Corvane OnLine\\Setup\\GameXEntry", "Directory",
                         "C:\\Games\\GameX")
            self.assertEqual(self.run_to_end(wine, setup, "-silent"), -1)

    def test_receive_dir_on_the_command_line_skips_the_check(self):
        setup = make_setup(self.tmp, RECEIVER)
        with StartedPrefix() as wine:
            self.assertEqual(self.run_to_end(wine, setup, "-silent", "-receivedir=C:\\Rcv"), -1)

    def test_application_program_stamped_means_the_wizard_will_ask(self):
        setup = make_setup(self.tmp, dict(RECEIVER, TVIID_APP_EXE="gamex.exe"))
        with StartedPrefix() as wine:
            proc = wine.start(setup)
            code, out = wine.driver("nomsgbox", "--caption", PREREQ_CAPTION, "--timeout", "3")
            self.assertEqual(code, 0, out)
            self.assertEqual(self.cancel_wizard_if_shown(wine, proc), -1)

    def test_silent_receiver_whose_folder_nobody_can_choose_is_refused(self):
        # Silent, the wizard cannot ask for the application's folder: the
        # receiver would land in "\QOR" of the current drive. Refused instead.
        self.check_prerequisite_message("-silent")

    def test_unstamped_setup_reaches_the_driver(self):
        # Product-only: no prerequisite applies. Silent: the install fails for
        # want of a payload, exit -1.
        setup = make_setup(self.tmp, {})
        with StartedPrefix() as wine:
            self.assertEqual(self.run_to_end(wine, setup, "-silent"), -1)

    def test_unstamped_setup_with_wizard(self):
        setup = make_setup(self.tmp, {})
        with StartedPrefix() as wine:
            proc = wine.start(setup)
            code, out = wine.driver("nomsgbox", "--caption", PREREQ_CAPTION, "--timeout", "3")
            self.assertEqual(code, 0, out)
            self.assertEqual(self.cancel_wizard_if_shown(wine, proc), -1)

    def test_no_display_is_a_failure_not_an_install(self):
        # Without a display Wine cannot create the main window, so nothing runs:
        # the exit code must say so instead of claiming an install.
        payload = os.path.join(self.tmp, "payload")
        os.makedirs(payload)
        with open(os.path.join(payload, "a.txt"), "w") as f:
            f.write("payload\n")
        manifest = os.path.join(payload, "setup.manifest")
        with open(manifest, "w") as f:
            f.write("a.txt => [TROVIX]\\a.txt\n")
        setup = os.path.join(self.tmp, "NoDisplay.exe")
        qorpack("build", "--stub", bin_path("TrovixInstall.exe"), "--manifest", manifest,
                "--out", setup)
        with WinePrefix() as wine:
            env = wine.env
            env.pop("DISPLAY", None)
            r = subprocess.run([qorwine.WINE, setup, "-silent"], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            self.assertEqual(signed32(r.returncode), -1)
            self.assertFalse(os.path.exists(wine.unixpath(r"C:\Program Files\QOR\Trovix")))


if __name__ == "__main__":
    unittest.main()
