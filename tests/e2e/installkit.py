"""Shared pieces of the install-run end-to-end tests: building setups from a
list of (stored name, content) pairs with the native qorpack, the product
payload of six entries, and the uninstall log such a payload leaves.

The payload programs that carry install commands are the example recorder
(examples/companions/Recorder.cpp): each run appends "ARGS (show command N)"
to "<its path less .exe>.ran.txt" next to itself.
"""

import os
import shutil
import sys
import tempfile

from qorwine import BIN, NATIVE_BIN, bin_path, qorpack, wait_for

STUB = bin_path("TrovixInstall.exe")
RECORDER = bin_path(os.path.join("examples", "QorDL.exe"))
UNINSTALLER = bin_path(os.path.join("examples", "TrovixUninstall.exe"))
DRIVER = bin_path("qordriver.exe")

PRODUCT = "C:\\Program Files\\QOR\\Trovix"
SCOUT_TAG = "C:\\Program Files\\QOR\\Scout\\Trovix.tag"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
SETUP_KEY = "HKLM\\Software\\Corvane OnLine\\Setup"
CONFIG_KEY = "HKLM\\Software\\QOR\\Trovix"

INST_TAGS = "[InstCmd=-register][UninstCmd=-unregister]"


def fixture(name):
    """A program built by tests/e2e/fixtures (e.g. Versioned-2.0.0.0.exe)."""
    return os.path.join(BIN, "fixtures", name)


# The exit code ctest takes for "skipped" (SKIP_RETURN_CODE of these tests).
SKIPPED = 77


def require_built(paths=None):
    """Ends the test program with SKIPPED, naming the first of paths (default:
    every program the install tests use) that is not built. ctest then shows
    the test as skipped rather than passed, and `make test` counts it against
    the run: a test that did not run has not passed."""
    for path in paths or (STUB, RECORDER, UNINSTALLER, DRIVER,
                          os.path.join(NATIVE_BIN, "qorpack")):
        if not os.path.exists(path):
            sys.stderr.write("skipped: not built: %s\n" % path)
            sys.exit(SKIPPED)


class SetupBuilder:
    """Collects entries and builds one setup with `qorpack build`."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.srcdir = os.path.join(workdir, "src")
        os.makedirs(self.srcdir, exist_ok=True)
        self.lines = []

    def add(self, stored, source=None, data=None):
        """Adds an entry from a file (source) or from bytes (data)."""
        n = len(self.lines)
        if data is not None:
            path = os.path.join(self.srcdir, "%02d.bin" % n)
            with open(path, "wb") as f:
                f.write(data)
        else:
            path = os.path.join(self.srcdir, "%02d_%s" % (n, os.path.basename(source)))
            shutil.copyfile(source, path)
        self.lines.append("%s => %s" % (path, stored))
        return self

    def build(self, name="Setup.exe", slots=None):
        return pack_setup(os.path.join(self.workdir, name + ".manifest"), self.lines,
                          os.path.join(self.workdir, name), slots)


def pack_setup(manifest, lines, out, slots=None):
    """Writes the "SOURCE => STORED NAME" lines to manifest (relative sources
    are taken from its folder), builds the setup out from the stub with
    `qorpack build`, stamping slots ({marker: value}); returns out."""
    with open(manifest, "w") as f:
        f.write("\n".join(lines) + "\n")
    args = ["build", "--stub", STUB, "--manifest", manifest, "--out", out]
    for k, v in (slots or {}).items():
        args += ["--slot", "%s=%s" % (k, v)]
    qorpack(*args)
    return out


# Contents of our own for the six product entries (the sizes of the two data
# files match the shipped ones; nothing depends on it).
LUMEN = b"Lumen test data for the product-only payload....!!\r\n"
CORVANE = b"; Corvane test data\r\n[Product]\r\nName=Trovix\r\nPublisher=Corvane OnLine\r\nTest=1\r\n"
XFER = bytes((i * 7 + 3) % 251 for i in range(40000))


def add_product_entries(builder):
    builder.add("[TROVIX]\\TrovixUninstall.exe", source=UNINSTALLER)
    builder.add("[TROVIX]\\QorXfer.dll", data=XFER)
    builder.add("[TROVIX]%s\\QorDL.exe" % INST_TAGS, source=RECORDER)
    builder.add("[TROVIX]%s\\QorRcv.exe" % INST_TAGS, source=RECORDER)
    builder.add("[TROVIX]\\Lumen.dat", data=LUMEN)
    builder.add("[TROVIX]\\Corvane.inf", data=CORVANE)
    return builder


PRODUCT_FILES = {
    "TrovixUninstall.exe": None,  # compared with UNINSTALLER
    "QorXfer.dll": XFER,
    "QorDL.exe": None,
    "QorRcv.exe": None,
    "Lumen.dat": LUMEN,
    "Corvane.inf": CORVANE,
}

# What a silent install of the six entries into C:\Program Files\QOR\Trovix
# leaves on a machine with only C:\Program Files: the interactive install's log
# less the Start Menu and Desktop sections, which the wizard's last page writes.
PRODUCT_LOG_LINES = [
    "[Trovix Dirs]",
    "C:\\Program Files\\QOR=",
    "C:\\Program Files\\QOR\\Trovix=",
    "C:\\Program Files\\QOR\\Scout=",
    "[Trovix Files]",
    "C:\\Program Files\\QOR\\Trovix\\TrovixInstall.inf=",
    "C:\\Program Files\\QOR\\Trovix\\TrovixUninstall.exe=",
    "C:\\Program Files\\QOR\\Trovix\\QorXfer.dll=",
    "C:\\Program Files\\QOR\\Trovix\\QorDL.exe=",
    "C:\\Program Files\\QOR\\Trovix\\QorRcv.exe=",
    "C:\\Program Files\\QOR\\Trovix\\Lumen.dat=",
    "C:\\Program Files\\QOR\\Trovix\\Corvane.inf=",
    "C:\\Program Files\\QOR\\Scout\\Trovix.tag=",
    "[Uninstall Command Line]",
    "C:\\Program Files\\QOR\\Trovix\\QorDL.exe=C:\\Program Files\\QOR\\Trovix\\QorDL.exe -unregister",
    "C:\\Program Files\\QOR\\Trovix\\QorRcv.exe=C:\\Program Files\\QOR\\Trovix\\QorRcv.exe -unregister",
    "[Trovix Registry Keys]",
    "Software\\Corvane OnLine=",
    "Software\\Corvane OnLine\\Setup=",
    "Software\\Corvane OnLine\\Setup\\Trovix=",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix=",
    "Software\\QOR=",
    "Software\\QOR\\Trovix=",
    "Software\\QOR\\Trovix\\Config=",
    "Software\\QOR\\Trovix\\Config\\Receivers=",
    "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv=",
    "Software\\QOR\\Trovix\\Downloader=",
    "[Trovix Registry Items]",
    "Software\\Corvane OnLine\\Setup\\Trovix\\Directory=",
    "Software\\Corvane OnLine\\Setup\\Trovix\\Full Name=",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix\\DisplayName=",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix\\UninstallString=",
    "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv\\LatestVersion=",
]
PRODUCT_LOG = ("\r\n".join(PRODUCT_LOG_LINES) + "\r\n").encode("latin-1")


def read_bytes(prefix, winpath):
    with open(prefix.unixpath(winpath), "rb") as f:
        return f.read()


def exists(prefix, winpath):
    return os.path.exists(prefix.unixpath(winpath))


def log_text(prefix, folder=PRODUCT):
    return read_bytes(prefix, folder + "\\TrovixInstall.inf").decode("latin-1")


def log_sections(prefix, folder=PRODUCT):
    """The uninstall log as {section: [lines]} (section order kept in 'order')."""
    sections, order, cur = {}, [], None
    for line in log_text(prefix, folder).split("\r\n"):
        if line.startswith("[") and line.endswith("]"):
            cur = line[1:-1]
            order.append(cur)
            sections[cur] = []
        elif line and cur is not None:
            sections[cur].append(line)
    sections["order"] = order
    return sections


def wait_records(prefix, folder, names, timeout=20):
    """Waits for the recorder's .ran.txt of each program name in folder;
    returns {name: text} of those that appeared."""
    def complete(path):
        # The recorder may have created its file and not yet written the line.
        return exists(prefix, path) and read_bytes(prefix, path).endswith(b"\r\n")

    def all_there():
        return all(complete("%s\\%s.ran.txt" % (folder, n)) for n in names)
    wait_for(all_there, timeout=timeout)
    out = {}
    for n in names:
        p = "%s\\%s.ran.txt" % (folder, n)
        if exists(prefix, p):
            out[n] = read_bytes(prefix, p).decode("latin-1")
    return out


def finish(proc, timeout=60):
    """Waits for a process from WinePrefix.start (not for its pipes, which
    programs it started may still hold) and closes the pipes; its exit code."""
    code = proc.wait(timeout=timeout)
    for pipe in (proc.stdout, proc.stderr):
        if pipe:
            pipe.close()
    return code


def workdir(testcase):
    d = tempfile.mkdtemp(prefix="qorinst.")
    testcase.addCleanup(shutil.rmtree, d, True)
    return d


def system_reg_values(prefix, key):
    """Values of HKLM\\key as saved in the prefix's system.reg ({name: raw text
    after '='}), or None when the key is not there. Waits for the prefix's
    wineserver to write the registry out first. Shows what reg.exe cannot,
    such as a REG_SZ of no bytes at all ("hex(1):")."""
    prefix.wait_server()
    wanted = "[" + key.replace("\\", "\\\\") + "]"
    values, inside = None, False
    with open(os.path.join(prefix.path, "system.reg"), encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                inside = line.split("]")[0] + "]" == wanted
                if inside:
                    values = {}
                continue
            if inside and line.startswith('"') and "=" in line:
                name, raw = line.split("=", 1)
                values[name.strip('"')] = raw
    return values
