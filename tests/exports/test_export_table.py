#!/usr/bin/env python3
"""Checks the export directory of TrovixInstall.exe against the list that
scripts/gen-exports.py derives from the class and flat-function declarations.

Usage: test_export_table.py PATH/TO/TrovixInstall.exe  (or QOR_BIN set)
With QOR_EXPORTS=flat (the x86-64 build) only the flat functions are expected,
under their published ordinals.
"""
import os
import subprocess
import sys
import unittest

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GEN = os.path.join(ROOT, "scripts", "gen-exports.py")
EXE = None


def derived_exports():
    out = subprocess.run([sys.executable, GEN, "--list"], check=True, stdout=subprocess.PIPE,
                         text=True).stdout
    rows = [line.split(" ", 1) for line in out.splitlines() if line.strip()]
    return [(int(ordinal), name) for ordinal, name in rows]


# The published interface, in ordinal order: what callers built against it
# rely on, whatever the declarations derive.
PUBLISHED = [
    "??0QorZipFile@@QAE@PBDW4QZF_MODE@0@@Z",
    "??1QorZipFile@@QAE@XZ",
    "??_FQorZipFile@@QAEXXZ",
    "?AddFile@QorZipFile@@QAE_NPBD0@Z",
    "?AddFiles@QorZipFile@@QAE_NKPAPBD@Z",
    "?Close@QorZipFile@@QAEXXZ",
    "?ExtractFile@QorZipFile@@QAE_NPBD0@Z",
    "?ExtractFileToDir@QorZipFile@@QAE_NPBD00@Z",
    "?ExtractFiles@QorZipFile@@QAE_NKPAPBD0@Z",
    "?ExtractFilesToDir@QorZipFile@@QAE_NPBDKPAPBD@Z",
    "?GetDefFileName@QorZipFile@@QAEXPBDPAD1@Z",
    "?GetExtractReadOnlyOverWrite@QorZipFile@@QBE?AW4QZF_EXTRACT_READONLY_OVERWRITE@1@XZ",
    "?GetFileAttributesA@QorZipFile@@QAEKK@Z",
    "?GetFileCompressedSize@QorZipFile@@QAEKK@Z",
    "?GetFileIndex@QorZipFile@@QAEKPBD@Z",
    "?GetFileIndexSansPath@QorZipFile@@QAEKPBD@Z",
    "?GetFileName@QorZipFile@@QAEPBDK@Z",
    "?GetFileName@QorZipFile@@QBEPBDXZ",
    "?GetFileSize@QorZipFile@@QAEKK@Z",
    "?GetFileTimeStamp@QorZipFile@@QAE?AU_FILETIME@@K@Z",
    "?GetLastError@QorZipFile@@QAE?AW4QZF_ERROR@@XZ",
    "?GetNumFiles@QorZipFile@@QAEKXZ",
    "?GetOverWritePrompt@QorZipFile@@QBEPBDXZ",
    "?GetRestoreAttributes@QorZipFile@@QBE_NXZ",
    "?GetRestoreTimeStamp@QorZipFile@@QBE_NXZ",
    "?GetUseBackupFile@QorZipFile@@QBE_NXZ",
    "?IsOpen@QorZipFile@@QBE_NXZ",
    "?Open@QorZipFile@@QAE_NPBDW4QZF_MODE@1@@Z",
    "?RemoveFile@QorZipFile@@QAE_NK@Z",
    "?RemoveFile@QorZipFile@@QAE_NPBD@Z",
    "?RemoveFiles@QorZipFile@@QAE_NKPAPBD@Z",
    "?Save@QorZipFile@@QAE_NXZ",
    "?SetExtractReadOnlyOverWrite@QorZipFile@@QAEXW4QZF_EXTRACT_READONLY_OVERWRITE@1@@Z",
    "?SetHeaderOffset@QorZipFile@@QAEXK@Z",
    "?SetOverWritePrompt@QorZipFile@@QAEXPBD@Z",
    "?SetRestoreAttributes@QorZipFile@@QAEX_N@Z",
    "?SetRestoreTimeStamp@QorZipFile@@QAEX_N@Z",
    "?SetUseBackupFile@QorZipFile@@QAEX_N@Z",
] + ["QZF_" + n for n in (
    "AddFile", "AddFiles", "Close", "Create", "CreateWithFile", "CreateWithFileAndMode", "Delete",
    "ExtractFile", "ExtractFileToDir", "ExtractFiles", "ExtractFilesToDir", "GetDefFileName",
    "GetExtractReadOnlyOverWrite", "GetFileAttributes", "GetFileCompressedSize", "GetFileIndex",
    "GetFileName", "GetFileSize", "GetFileTimeStamp", "GetLastError", "GetNumFiles",
    "GetOverWritePrompt", "GetRestoreAttributes", "GetRestoreTimeStamp", "GetUseBackupFile",
    "GetZipFileName", "IsOpen", "Open", "RemoveFile", "RemoveFileByIndex", "RemoveFiles", "Save",
    "SetExtractReadOnlyOverWrite", "SetHeaderOffset", "SetOverWritePrompt",
    "SetRestoreAttributes", "SetRestoreTimeStamp", "SetUseBackupFile",
)]


FLAT_ONLY = os.environ.get("QOR_EXPORTS") == "flat"
MINGW = os.environ.get("QOR_MINGW_PREFIX") or "i686-w64-mingw32"


class ExportTable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE, fast_load=True)
        cls.pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
        cls.exports = cls.pe.DIRECTORY_ENTRY_EXPORT
        cls.expected = derived_exports()
        cls.published = list(enumerate(PUBLISHED, start=1))
        if FLAT_ONLY:
            cls.expected = [(o, n) for o, n in cls.expected if n.startswith("QZF_")]
            cls.published = [(o, n) for o, n in cls.published if n.startswith("QZF_")]

    def test_module_name(self):
        name = self.pe.get_string_at_rva(self.exports.struct.Name)
        self.assertEqual(name, b"TrovixInstall.exe")

    def test_names_and_ordinals_match_the_declarations(self):
        actual = [(s.ordinal, s.name.decode() if s.name else None)
                  for s in self.exports.symbols]
        self.assertEqual(len(self.expected), 38 if FLAT_ONLY else 76)
        self.assertEqual(sorted(actual), self.expected)

    def test_names_and_ordinals_are_the_published_ones(self):
        actual = sorted((s.ordinal, s.name.decode()) for s in self.exports.symbols if s.name)
        self.assertEqual(actual, self.published)

    def test_every_export_is_named_and_ordinals_are_dense(self):
        d = self.exports.struct
        self.assertEqual(d.NumberOfNames, len(self.published))
        self.assertTrue(all(s.name for s in self.exports.symbols))
        if FLAT_ONLY:
            return
        self.assertEqual(d.Base, 1)
        self.assertEqual(d.NumberOfFunctions, 76)

    def test_ordinals_follow_the_byte_order_of_the_names(self):
        by_ordinal = sorted((s.ordinal, s.name) for s in self.exports.symbols)
        names = [n for _, n in by_ordinal]
        self.assertEqual(names, sorted(names))
        members = 0 if FLAT_ONLY else 38
        self.assertTrue(all(n.startswith(b"?") for n in names[:members]))
        self.assertTrue(all(n.startswith(b"QZF_") for n in names[members:]))

    def test_exports_are_code_not_forwarders(self):
        text = [s for s in self.pe.sections
                if s.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]]
        addresses = set()
        for s in self.exports.symbols:
            self.assertIsNone(s.forwarder, s.name)
            self.assertTrue(any(sec.contains_rva(s.address) for sec in text), s.name)
            addresses.add(s.address)
        self.assertEqual(len(addresses), len(self.published), "two exports share one function")

    def test_engine_has_no_static_constructors(self):
        # Loaded as a library the executable runs no constructors, so the
        # engine's objects must not register any.
        lib = os.environ.get("QOR_ARCHIVE_LIB")
        if not lib:
            self.skipTest("QOR_ARCHIVE_LIB not set")
        headers = subprocess.run([MINGW + "-objdump", "-h", lib], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout
        symbols = subprocess.run([MINGW + "-nm", lib], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout
        self.assertNotIn(".ctors", headers)
        self.assertNotIn(".CRT$XC", headers)
        self.assertNotIn("_GLOBAL__sub_I", symbols)

    def test_def_file_is_current(self):
        subprocess.run([sys.executable, GEN, "--check"], check=True, stdout=subprocess.PIPE)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        EXE = sys.argv.pop(1)
    else:
        EXE = os.path.join(os.environ.get("QOR_BIN", ""), "TrovixInstall.exe")
    unittest.main(verbosity=2)
