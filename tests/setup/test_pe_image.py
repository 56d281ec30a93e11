#!/usr/bin/env python3
"""Static checks of the shipped Windows programs, read with pefile.

Usage: test_pe_image.py BITS ROLE=PATH...   (BITS: 32 or 64; ROLE: setup, uninstall or tool)

- the machine of the build tree and the subsystem (GUI programs, console tool);
- statically linked: only Windows' own libraries are imported;
- the setup and the uninstaller run elevated from a folder others may write
  to: they import known DLLs only (anything else would be searched for in
  that folder first) and nothing that Windows 95/98/ME or NT 4 lack (their
  loaders refuse a program that imports one); subsystem version 4.0;
- an application manifest: requireAdministrator for setup and uninstaller,
  asInvoker for the tool, trustInfo in the v2 namespace, the systems from
  Vista on, no common controls 6, and the identity's version equal to the
  version resource.
"""
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

BITS = 32
PROGRAMS = {}

# Libraries Windows loads from the system folder whatever the search path.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
              "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll"}
# Imports of the statically linked tool (console; never elevated).
TOOL_DLLS = KNOWN_DLLS
# Functions Windows 95/98/ME or NT 4 do not export (msvcrt: newer than 6.0).
LEGACY_MISSING = {"GetFileSizeEx", "SetFilePointerEx", "GetModuleHandleExA",
                  "GetModuleHandleExW", "AddVectoredExceptionHandler", "InitializeSListHead",
                  "GetTickCount64", "SetDllDirectoryA", "SetDefaultDllDirectories",
                  "_vscprintf", "_vsnprintf_s", "_aligned_malloc", "_ftelli64", "_fseeki64"}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V2 = "{urn:schemas-microsoft-com:asm.v2}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
RT_MANIFEST = 24


def imports(pe):
    """{lower-case dll name: [function names]}"""
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    return {e.dll.decode().lower(): [i.name.decode() for i in e.imports if i.name]
            for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def manifest(pe):
    """The bytes of resource 24/1, or None."""
    types = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    for t in types:
        if t.id != RT_MANIFEST:
            continue
        for entry in t.directory.entries:
            if entry.id == 1:
                data = entry.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def file_version(pe):
    ffi = pe.VS_FIXEDFILEINFO[0]
    ms, ls = ffi.FileVersionMS, ffi.FileVersionLS
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


class Program(unittest.TestCase):
    def each(self):
        for role, path in PROGRAMS.items():
            pe = pefile.PE(path, fast_load=True)
            pe.parse_data_directories(
                directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
            yield role, path, pe

    def test_machine_and_subsystem(self):
        for role, path, pe in self.each():
            with self.subTest(path):
                self.assertEqual(pe.FILE_HEADER.Machine, 0x14C if BITS == 32 else 0x8664)
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, 3 if role == "tool" else 2)
                if BITS == 32 and role != "tool":
                    self.assertEqual((pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                                      pe.OPTIONAL_HEADER.MinorSubsystemVersion), (4, 0))

    def test_imports(self):
        for role, path, pe in self.each():
            with self.subTest(path):
                table = imports(pe)
                allowed = TOOL_DLLS if role == "tool" else KNOWN_DLLS
                self.assertEqual(set(), set(table) - allowed, "imports beyond the allowed DLLs")
                if role != "tool":
                    used = {f for functions in table.values() for f in functions}
                    self.assertEqual(set(), used & LEGACY_MISSING,
                                     "imports missing on Windows 95 or NT 4")

    def test_manifest(self):
        for role, path, pe in self.each():
            with self.subTest(path):
                data = manifest(pe)
                self.assertIsNotNone(data, "no manifest resource 24/1")
                root = ET.fromstring(data)
                self.assertEqual(root.tag, ASM_V1 + "assembly")
                level = root.find("%strustInfo/%ssecurity/%srequestedPrivileges/"
                                  "%srequestedExecutionLevel" % ((ASM_V2,) * 4))
                self.assertIsNotNone(level, "no v2 trustInfo with an execution level")
                self.assertEqual(level.get("level"),
                                 "asInvoker" if role == "tool" else "requireAdministrator")
                self.assertEqual(level.get("uiAccess"), "false")
                oses = {e.get("Id") for e in root.iter(COMPAT + "supportedOS")}
                self.assertEqual(oses, SUPPORTED_OS)
                self.assertNotIn(b"Common-Controls", data)
                identity = root.find(ASM_V1 + "assemblyIdentity")
                self.assertEqual(identity.get("type"), "win32")
                if role != "tool":
                    pe.parse_data_directories()
                    self.assertEqual(identity.get("version"), file_version(pe))


if __name__ == "__main__":
    BITS = int(sys.argv.pop(1))
    while len(sys.argv) > 1 and "=" in sys.argv[1]:
        role, path = sys.argv.pop(1).split("=", 1)
        PROGRAMS[role] = path
    unittest.main(verbosity=2)
