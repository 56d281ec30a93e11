"""Helpers for the wizard tests: building setups with qorpack, and a Wizard
object that walks the setup's dialog through `qordriver serve` in the same
Wine prefix.

A typical test:

    with qorwine.WinePrefix() as p:
        setup = build_setup(p, "product")
        with Wizard(p, setup) as w:
            page = w.wait_page(TITLE_DESTINATION)
            w.click(NEXT)
            ...
            self.assertEqual(w.exit_code(), 0)
"""

import json
import os
import subprocess
import time

import qorwine
from installkit import pack_setup

# Control ids of dialog 130.
NEXT, CANCEL, BACK = 1004, 2, 1005
PICTURE, INSTRUCTIONS = 1012, 1025
DEST_GROUP, DEST_FOLDER, DEST_BROWSE = 1010, 1006, 1001
THIRD_GROUP, THIRD_FOLDER, THIRD_BROWSE = 1011, 1007, 1002
PROGRESS_LABEL, PROGRESS_BAR = 1027, 1026
LAUNCH, DESKTOP_ICON = 1032, 1033
# Folder browser dialog 134.
FB_PATH, FB_FOLDER_LIST, FB_CURRENT_FOLDER = 1013, 1121, 1088
FB_HIDDEN = (1090, 1152, 1088, 1120, 1089, 1136)

# Page titles and the texts the tests compare against.
TITLE_DESTINATION = "Choose Trovix Installation Destination"
TITLE_READY = "Start Copying Files"
TITLE_COPYING = "Copying Files"
TITLE_COMPLETE = "Installation Complete"
TITLE_BROWSE = "Select the Installation Folder"
PRODUCT_URL = "http://www.example.com/trovix/"
SEP = "\r\n\r\n"

TEXT = {
    115: "Setup will install Trovix files in the following folder.",
    116: "To install to this folder, click on the Next button.",
    117: "To install to a different folder, click on the Browse button, and select another folder.",
    118: "You may cancel the installation by clicking on the Cancel button.",
    119: "Setup has installed <DISP NAME>.",
    120: "You can access Trovix by selecting your Start button, then look in the Programs | QOR | "
         "Trovix folder.",
    121: "Setup is ready to install <DISP NAME>.",
    122: "If you wish to change or review any of your settings click on the Back button.",
    123: "If you are satisfied with your selections, click on the Next button.",
    131: "Copying files, please wait...",
    141: "<DISP NAME> needs to know the location of <3RD PARTY NAME> to work correctly.",
    142: "Please select the folder that contains <3RD PARTY NAME>.",
    155: "Setup will install <DISP NAME> files in the following folder.",
    156: "To install to this folder, click on the Next button.",
    157: "To install to a different folder, click on the Browse button, and select another folder.",
    158: "These files must be installed in the specified folder.",
    160: "Select the options below if you want to launch Trovix now, and/or if you want Desktop "
         "access to Trovix.",
    161: "Click the Finished button to complete Setup.",
}


def instructions(*ids, disp="Trovix", third=None):
    """The instruction text the wizard composes from string ids."""
    parts = []
    for i in ids:
        t = TEXT[i].replace("<DISP NAME>", disp, 1)
        if third is not None:
            t = t.replace("<3RD PARTY NAME>", third, 1)
        parts.append(t)
    return SEP.join(parts)


# The payload of the shipped product: six entries, all in the product folder.
PRODUCT_ENTRIES = [
    ("TrovixUninstall.exe", "[TROVIX]\\TrovixUninstall.exe"),
    ("QorXfer.dll", "[TROVIX]\\QorXfer.dll"),
    ("QorDL.exe", "[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe"),
    ("QorRcv.exe", "[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorRcv.exe"),
    ("Lumen.dat", "[TROVIX]\\Lumen.dat"),
    ("Corvane.inf", "[TROVIX]\\Corvane.inf"),
]


def _stand_in(name):
    """Bytes for a payload file: the example companion programs where built,
    otherwise a small text."""
    built = {
        "TrovixUninstall.exe": qorwine.bin_path(os.path.join("examples", "TrovixUninstall.exe")),
        "QorDL.exe": qorwine.bin_path(os.path.join("examples", "QorDL.exe")),
        "QorRcv.exe": qorwine.bin_path(os.path.join("examples", "QorDL.exe")),
    }.get(name)
    if built and os.path.exists(built):
        with open(built, "rb") as f:
            return f.read()
    return ("stand-in for %s\r\n" % name).encode() * 3


def build_setup(prefix, slots=None, entries=None, extra_files=0, name="Setup.exe"):
    """Builds a setup in the prefix's C:\\setup folder from the stub and a
    payload; returns its Windows path. slots: {marker: value}. entries: list
    of (file name, stored name); receiver entries may be added. extra_files:
    that many more small product files (for a copy that lasts a while)."""
    stage = os.path.join(prefix.drive_c, "setup")
    payload = os.path.join(stage, "payload")
    os.makedirs(payload, exist_ok=True)
    entries = list(PRODUCT_ENTRIES if entries is None else entries)
    for i in range(extra_files):
        entries.append(("extra%03d.dat" % i, "[TROVIX]\\data\\extra%03d.dat" % i))
    lines = []
    for src, stored in entries:
        path = os.path.join(payload, src)
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(_stand_in(src) if not src.startswith("extra") else os.urandom(20000))
        lines.append("%s => %s" % (src, stored))
    out = pack_setup(os.path.join(payload, "payload.manifest"), lines,
                     os.path.join(stage, name), slots)
    return prefix.winpath(out)


def register_recording_browser(prefix):
    """Makes a recording program the handler of .html; returns the Linux path
    of the file in which it records its arguments."""
    folder = os.path.join(prefix.drive_c, "browser")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "browser.exe"), "wb") as f:
        f.write(_stand_in("QorDL.exe"))
    prefix.reg_add("HKCR\\.html", "", "qortest.html")
    prefix.reg_add("HKCR\\qortest.html\\shell\\open\\command", "", "C:\\browser\\browser.exe %1")
    return os.path.join(folder, "browser.ran.txt")


class Page:
    """A snapshot of a dialog: caption and controls by id."""

    def __init__(self, dump):
        self.caption = dump["caption"]
        self.hwnd = dump["hwnd"]
        self.rect = dump["rect"]
        self.client = dump["client"]
        self.controls = {}
        for c in dump["controls"]:
            self.controls.setdefault(c["id"], c)

    def visible(self, cid):
        return self.controls[cid]["visible"]

    def enabled(self, cid):
        return self.controls[cid]["enabled"]

    def text(self, cid):
        return self.controls[cid]["text"]

    def checked(self, cid):
        return self.controls[cid]["checked"] == 1


class Wizard:
    """The setup under test and a driver talking to it."""

    def __init__(self, prefix, setup, *args):
        self.prefix = prefix
        self.setup = setup
        self.args = args
        self.hwnd = None

    def __enter__(self):
        self.proc = subprocess.Popen(
            [qorwine.WINE, qorwine.bin_path("qordriver.exe"), "serve"], env=self.prefix.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True, encoding="latin-1")
        self.cmd("start", self.setup, *self.args)
        return self

    def __exit__(self, *exc):
        try:
            self.cmd("quit", check=False)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()
        return False

    # -- protocol ---------------------------------------------------------
    def cmd(self, *fields, check=True):
        line = "\t".join(str(f) for f in fields)
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        if not answer:
            raise AssertionError("driver ended during: %r" % (fields,))
        r = json.loads(answer)
        if check and not r.get("ok"):
            raise AssertionError("driver: %s failed: %s" % (fields, r.get("error")))
        return r

    # -- the wizard dialog ---------------------------------------------------
    def wait_page(self, title, timeout=30):
        """Waits until the wizard shows the page with this title; returns it."""
        r = self.cmd("wait", title, timeout)
        self.hwnd = r["hwnd"]
        return self.page()

    def page(self, win=None):
        return Page(self.cmd("dump", win or self.hwnd))

    def click(self, cid, win=None):
        return self.cmd("click", win or self.hwnd, cid)

    def try_click(self, cid, win=None):
        return self.cmd("click", win or self.hwnd, cid, check=False)

    def check(self, cid, on, win=None):
        return self.cmd("check", win or self.hwnd, cid, 1 if on else 0)

    def close(self, win=None):
        return self.cmd("close", win or self.hwnd)

    def msgbox(self, caption, press=None, timeout=20):
        args = ["msgbox", caption, timeout] + ([press] if press else [])
        return self.cmd(*args)

    def no_msgbox(self, caption="", seconds=1.5):
        return self.cmd("nomsgbox", caption, seconds)

    def dialog(self, caption, timeout=20):
        return self.cmd("wait", caption, timeout)["hwnd"]

    def gone(self, win, timeout=20):
        return self.cmd("waitgone", win, timeout)

    def exit_code(self, timeout=60):
        return self.cmd("exit", timeout)["code"]

    def settext(self, win, cid, text):
        return self.cmd("settext", win, cid, text)

    def pickfile(self, win, path):
        return self.cmd("pickfile", win, path)

    # -- whole walks -------------------------------------------------------
    def walk_to_finished(self, timeout=60):
        """From the ready page: Next, wait for the finished page."""
        self.click(NEXT)
        return self.wait_page(TITLE_COMPLETE, timeout)

    def install_and_finish(self, launch=False, desktop=False):
        """From the destination page: install into the folder shown, set the
        finished page's two boxes, press Finished; the setup's exit code."""
        self.click(NEXT)
        self.wait_page(TITLE_READY)
        self.walk_to_finished()
        self.check(LAUNCH, launch)
        self.check(DESKTOP_ICON, desktop)
        self.click(CANCEL)  # "Finished" on the last page
        return self.exit_code()


def wait_file(path, timeout=10.0):
    return qorwine.wait_for(lambda: os.path.exists(path), timeout)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def settle(seconds=0.5):
    time.sleep(seconds)
