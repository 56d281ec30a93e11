"""Wine plumbing for the end-to-end tests.

Each test case takes a fresh prefix made from the build tree's template
(hard links for system binaries, copies for everything Wine may write), runs
Windows programs in it with a time-out on the run's Xvfb display, and throws it
away afterwards. ctest passes the locations in the environment:

  QOR_BIN            bin folder of the win32 tree (TrovixInstall.exe, qordriver.exe, ...)
  QOR_NATIVE_BIN     bin folder of the native tree (qorpack)
  QOR_WINE_TEMPLATE  template prefix (made on demand)
  QOR_XVFB_STATE     file holding "DISPLAY_NUMBER PID" of the run's Xvfb
  QOR_SOURCE_DIR     the source tree
  QOR_WINE_BITS      32 (win32 tree, win32 prefix) or 64 (win64 tree under wine64)
Set QOR_KEEP_PREFIX=1 to keep prefixes for a post-mortem.
"""

import os
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("QOR_SOURCE_DIR") or os.path.normpath(os.path.join(HERE, "..", ".."))
SCRIPTS = os.path.join(SOURCE_DIR, "scripts")
BIN = os.environ.get("QOR_BIN") or os.path.join(SOURCE_DIR, "build", "win32", "bin")
NATIVE_BIN = os.environ.get("QOR_NATIVE_BIN") or os.path.join(SOURCE_DIR, "build", "native", "bin")
TEMPLATE = os.environ.get("QOR_WINE_TEMPLATE") or os.path.join(
    tempfile.gettempdir(), "qor-wine-template")
WINE_BITS = 64 if os.environ.get("QOR_WINE_BITS") == "64" else 32
WINEARCH = "win64" if WINE_BITS == 64 else "win32"
# The `wine` wrapper prefers the 32-bit loader when both are installed.
WINE = (shutil.which("wine64") or "/usr/lib/wine/wine64") if WINE_BITS == 64 else "wine"


def bin_path(name):
    """Path of a program built by the win32 tree."""
    return os.path.join(BIN, name)


def display():
    state = os.environ.get("QOR_XVFB_STATE")
    if state and os.path.exists(state):
        with open(state) as f:
            return ":" + f.read().split()[0]
    return os.environ.get("DISPLAY", "")


def qorpack(*args, check=True, cwd=None):
    """Runs the native qorpack; returns the CompletedProcess (text output)."""
    exe = os.path.join(NATIVE_BIN, "qorpack")
    r = subprocess.run([exe, *map(str, args)], capture_output=True, text=True, cwd=cwd,
                       timeout=300)
    if check and r.returncode != 0:
        raise AssertionError("qorpack %s failed (%d):\n%s%s" %
                             (" ".join(map(str, args)), r.returncode, r.stdout, r.stderr))
    return r


def signed32(code):
    """The Linux exit status of a Windows program as the signed value it returned."""
    return code - 256 if code > 127 else code


class WinePrefix:
    """A fresh Wine prefix for one test case. Use as a context manager."""

    def __init__(self, windows_version=None):
        self.windows_version = windows_version
        self.path = None

    # -- lifetime -------------------------------------------------------
    def __enter__(self):
        subprocess.run([os.path.join(SCRIPTS, "wine-template.sh"), TEMPLATE], check=True,
                       stdout=subprocess.DEVNULL, timeout=300)
        base = tempfile.mkdtemp(prefix="qore2e.")
        self.path = os.path.join(base, "prefix")
        subprocess.run([os.path.join(SCRIPTS, "wine-prefix.sh"), TEMPLATE, self.path], check=True,
                       timeout=120)
        if self.windows_version:
            self.set_windows_version(self.windows_version)
        return self

    def __exit__(self, *exc):
        self.kill()
        if not os.environ.get("QOR_KEEP_PREFIX"):
            shutil.rmtree(os.path.dirname(self.path), ignore_errors=True)
        return False

    @property
    def env(self):
        e = dict(os.environ)
        e.update(WINEPREFIX=self.path, WINEARCH=WINEARCH, WINELOADER=WINE, WINEDEBUG=os.environ.get("QOR_WINEDEBUG", "-all"),
                 WINEDLLOVERRIDES="mscoree,mshtml=")
        d = display()
        if d:
            e["DISPLAY"] = d
        else:
            e.pop("DISPLAY", None)
        return e

    def kill(self):
        # -k returns before the server has gone. Wait for it: the next prefix
        # may get this one's inode, and so its server's socket, and a program
        # started there would talk to the dying server and end with code 1.
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_server(self, timeout=30):
        """Waits for the prefix's wineserver to exit (registry flushed to disk)."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)

    # -- programs -------------------------------------------------------
    def run(self, exe, *args, timeout=60, cwd=None):
        """Runs a Windows program to its end. Returns a CompletedProcess whose
        returncode is the Linux exit status (a Windows -1 arrives as 255)."""
        # Output goes through files, not pipes: a Wine process starting at the
        # same moment can inherit a pipe and hold it open long after this
        # program ended, and waiting for the pipe's end would then stall.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            cmd = [WINE, exe, *map(str, args)]
            proc = subprocess.Popen(cmd, env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
            try:
                proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(
                cmd, proc.returncode, out.read().decode("utf-8", "replace"),
                err.read().decode("utf-8", "replace"))

    def start(self, exe, *args, cwd=None):
        """Starts a Windows program and returns its Popen (stdout/stderr piped)."""
        return subprocess.Popen([WINE, exe, *map(str, args)], env=self.env, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                errors="replace")

    def driver(self, *args, timeout=60):
        """Runs qordriver.exe with the given command; returns (exit code, dict of its
        "key: value" lines; repeated keys collect into lists)."""
        r = self.run(bin_path("qordriver.exe"), *args, timeout=timeout)
        out = {}
        for line in r.stdout.splitlines():
            if ": " in line:
                k, v = line.split(": ", 1)
                v = v.replace("\\r", "\r").replace("\\n", "\n").replace("\\\\", "\\")
                if k in out:
                    out[k] = out[k] if isinstance(out[k], list) else [out[k]]
                    out[k].append(v)
                else:
                    out[k] = v
        return r.returncode, out

    # -- paths ----------------------------------------------------------
    @property
    def drive_c(self):
        return os.path.join(self.path, "drive_c")

    def unixpath(self, winpath):
        """C:\\A\\b.txt -> the Linux path in this prefix, matching existing names
        case-insensitively as Windows would."""
        p = winpath.replace("/", "\\")
        if len(p) >= 2 and p[1] == ":":
            drive = p[0].lower()
            root = self.drive_c if drive == "c" else "/" if drive == "z" else None
            if root is None:
                raise ValueError("no mapping for drive of " + winpath)
            parts = [x for x in p[2:].split("\\") if x]
        else:
            raise ValueError("not an absolute Windows path: " + winpath)
        cur = root
        for part in parts:
            cand = os.path.join(cur, part)
            if not os.path.exists(cand) and os.path.isdir(cur):
                for name in os.listdir(cur):
                    if name.lower() == part.lower():
                        cand = os.path.join(cur, name)
                        break
            cur = cand
        return cur

    def winpath(self, unixpath):
        """A Linux path -> its Windows path in this prefix (C: for drive_c, else Z:)."""
        p = os.path.abspath(unixpath)
        if p == self.drive_c or p.startswith(self.drive_c + os.sep):
            return "C:" + (p[len(self.drive_c):].replace("/", "\\") or "\\")
        return "Z:" + p.replace("/", "\\")

    # -- registry -------------------------------------------------------
    def reg(self, *args, timeout=60):
        return self.run("reg", *args, timeout=timeout)

    def reg_query(self, key, value=None):
        """The data of a value (as reg.exe prints it), or None when the key or value
        is missing. With value None, returns a dict of all values of the key."""
        args = ["query", key] + (["/v", value] if value is not None else [])
        r = self.reg(*args)
        if r.returncode != 0:
            return None
        found = {}
        for line in r.stdout.splitlines():
            if not line.startswith("    "):
                continue
            fields = line.strip().split("    ")
            if len(fields) >= 2 and fields[1].startswith("REG_"):
                found[fields[0]] = fields[2] if len(fields) > 2 else ""
        if value is None:
            return found
        for k, v in found.items():
            if k.lower() == value.lower() or (value == "" and k == "(Default)"):
                return v
        return None

    def reg_key_exists(self, key):
        return self.reg("query", key).returncode == 0

    def reg_add(self, key, value=None, data=None, type="REG_SZ"):
        args = ["add", key]
        if value is not None:
            args += ["/v", value]
        if data is not None:
            args += ["/t", type, "/d", data]
        args += ["/f"]
        r = self.reg(*args)
        if r.returncode != 0:
            raise AssertionError("reg add failed: %s %s" % (args, r.stderr))

    def reg_delete(self, key, value=None):
        args = ["delete", key] + (["/v", value] if value is not None else []) + ["/f"]
        return self.reg(*args).returncode == 0

    def set_windows_version(self, version):
        """Sets the Windows version Wine reports (e.g. 'win98', 'winxp')."""
        self.reg_add("HKCU\\Software\\Wine", "Version", version)


def wait_for(predicate, timeout=20.0, interval=0.1):
    """Polls predicate until it is true or the time runs out; returns its last value."""
    end = time.time() + timeout
    while True:
        v = predicate()
        if v or time.time() > end:
            return v
        time.sleep(interval)
