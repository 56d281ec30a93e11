"""The version rule for files that exist before the install, with real
versioned programs: a newer existing file stays, the same or an older one is
replaced, and neither is recorded in the uninstall log."""

import os
import shutil
import unittest

from qorwine import WinePrefix, signed32
from installkit import (PRODUCT, SetupBuilder, fixture, require_built, log_sections, read_bytes,
                        workdir)

require_built()
require_built([fixture("Versioned-2.0.0.0.exe")])


def data_of(name):
    with open(fixture(name), "rb") as f:
        return f.read()


class VersionRule(unittest.TestCase):
    def test_existing_files_by_version(self):
        v15, v20, v21 = (data_of("Versioned-%s.0.0.exe" % v) for v in ("1.5", "2.0", "2.1"))
        # The existing 2.0 copies carry trailing bytes (the version resource is
        # unaffected), so a replacement by the same version can be told apart.
        old20 = v20 + b"existing copy"
        text_old, text_new = b"old text\r\n", b"new text\r\n"
        # name: (existing content, archived content, expected afterwards)
        cases = {
            "newer_stays.exe": (old20, v15, old20),
            "same_replaced.exe": (old20, v20, v20),
            "older_replaced.exe": (old20, v21, v21),
            "both_unversioned.txt": (text_old, text_new, text_new),
            "unversioned_by_versioned.exe": (text_old, v15, v15),
            "versioned_vs_unversioned.exe": (old20, text_new, old20),
        }
        b = SetupBuilder(workdir(self))
        b.add("[TROVIX]\\fresh.exe", data=v15)
        for name, (_, archived, _) in cases.items():
            b.add("[TROVIX]\\" + name, data=archived)
        setup = b.build("Versions.exe")
        with WinePrefix() as p:
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            for name, (existing, _, _) in cases.items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(existing)
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            for name, (_, _, expected) in cases.items():
                self.assertEqual(read_bytes(p, PRODUCT + "\\" + name), expected, name)
            # Only the log itself and the new file are recorded; the folder
            # existed, so no Dirs entry either.
            log = log_sections(p)
            self.assertEqual(log["Trovix Files"][:2], [
                PRODUCT + "\\TrovixInstall.inf=", PRODUCT + "\\fresh.exe="])
            self.assertEqual(len(log["Trovix Files"]), 3)  # and the tag file
            self.assertEqual(log["Trovix Dirs"], ["C:\\Program Files\\QOR\\Scout="])
            # No temporary copies are left behind, in the temporary folder or
            # beside the files they were made for.
            leftovers = [f for base in ("C:\\users", PRODUCT)
                         for root, _, files in os.walk(p.unixpath(base)) for f in files
                         if f.upper().startswith(("QI", "QZF")) and f.lower().endswith(".tmp")]
            self.assertEqual(leftovers, [])

    def test_read_only_existing_file_is_replaced(self):
        b = SetupBuilder(workdir(self))
        b.add("[TROVIX]\\locked.dat", data=b"new contents\r\n")
        setup = b.build("ReadOnly.exe")
        with WinePrefix() as p:
            folder = p.unixpath(PRODUCT)
            os.makedirs(folder)
            path = os.path.join(folder, "locked.dat")
            with open(path, "wb") as f:
                f.write(b"old")
            os.chmod(path, 0o444)  # Wine reports this as the read-only attribute
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            self.assertEqual(read_bytes(p, PRODUCT + "\\locked.dat"), b"new contents\r\n")
            self.assertNotIn(PRODUCT + "\\locked.dat=", log_sections(p)["Trovix Files"])


if __name__ == "__main__":
    unittest.main()
