"""Shared pieces of the uninstaller's end-to-end tests: a snapshot of what a
prefix holds outside Wine's own churn, its difference from another, and a
driver for the uninstaller's dialog.

A snapshot holds every file and folder under drive_c except the Windows folder
and the temp folders (with a digest of each file's bytes), and every key and
value of HKEY_LOCAL_MACHINE as the prefix's system.reg stores it, less the
time stamps. The only trace an uninstall may leave is its own copy in the temp
folder and the request to delete it at the next restart
("PendingFileRenameOperations").
"""

import hashlib
import os
import time

from wizardlib import Wizard

UNINSTALL_EXE = "C:\\Program Files\\QOR\\Trovix\\TrovixUninstall.exe"
TITLE = "Trovix Uninstall"
# Controls of the uninstaller's dialog.
TEXT, RECEIVERS, REPORT, PROGRESS_LABEL = 1101, 1102, 1103, 1104
YES, NO, FINISH = 1106, 1107, 1108
# Values the run may leave: the request to delete its own temp copy.
ALLOWED_VALUES = ('"PendingFileRenameOperations"',)
# Keys Wine rewrites on its own whenever a prefix starts (devices, display).
WINE_CHURN = ("hardware\\", "system\\currentcontrolset\\control\\class\\",
              "system\\currentcontrolset\\control\\video\\",
              "system\\currentcontrolset\\enum\\",
              "software\\microsoft\\windows nt\\currentversion\\networkcards")


def _digest(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            h.update(block)
    return h.hexdigest()


def snapshot(prefix):
    """{"C:\\\\path": digest or "<dir>", "HKLM\\\\key": sorted value lines}."""
    state = {}
    root = prefix.drive_c
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel == ".":
            dirs[:] = [d for d in dirs if d.lower() != "windows"]
        dirs[:] = [d for d in dirs if d.lower() != "temp"]
        for d in dirs:
            state["C:\\" + os.path.join(rel, d).replace("/", "\\").lstrip(".\\")] = "<dir>"
        for f in files:
            full = os.path.join(folder, f)
            if os.path.isfile(full):
                state["C:\\" + os.path.join(rel, f).replace("/", "\\").lstrip(".\\")] = _digest(full)
    prefix.wait_server()
    key, values = None, []
    with open(os.path.join(prefix.path, "system.reg"), encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                if key is not None:
                    state["HKLM\\" + key] = sorted(values)
                key, values = line[1:line.index("]")].replace("\\\\", "\\"), []
                if (key.lower() + "\\").startswith(WINE_CHURN):
                    key = None
            elif key is not None and line and not line.startswith("#"):
                if not line.startswith(ALLOWED_VALUES):
                    values.append(line)
    if key is not None:
        state["HKLM\\" + key] = sorted(values)
    return state


def difference(before, after):
    """Lines "+ name", "- name", "~ name" for what was added, removed, changed."""
    out = []
    for name in sorted(set(before) | set(after)):
        if name not in before:
            out.append("+ " + name)
        elif name not in after:
            out.append("- " + name)
        elif before[name] != after[name]:
            out.append("~ " + name)
    return out


def temp_copies(prefix):
    """Names of uninstaller copies left in the prefix's temp folders."""
    found = []
    for folder, _, files in os.walk(os.path.join(prefix.drive_c, "users")):
        found += [f for f in files if f.lower().startswith("trovixuninstall-")]
    return found


class UninstallDialog(Wizard):
    """The uninstaller started through the driver, its dialog walked by id."""

    def __init__(self, prefix, *args):
        super().__init__(prefix, UNINSTALL_EXE, *args)

    def wait_dialog(self, timeout=60):
        return self.wait_page(TITLE, timeout)

    def wait_final(self, timeout=180):
        """Waits for the last page (Finish shown); returns it. A dump reads the
        controls one by one while the page may change, so the page is read
        once more after Finish has shown: the last page changes no more."""
        end = time.time() + timeout
        while True:
            page = self.page()
            if page.visible(FINISH):
                return self.page()
            if time.time() > end:
                return page
            time.sleep(0.3)

