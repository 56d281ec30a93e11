#!/usr/bin/env python3
"""How the shipped programs are linked, read from the image, the linker map and
the debug file beside them.

Usage: test_shipped_link.py PROGRAM.exe...

- none of the C++ run-time's exception, unwinding, demangling, iostream or
  locale machinery is linked in (the programs take their operator new,
  container error paths, local-static guards and std::string members from
  runtime/ShippedRuntime.cpp instead; a member of the library that came back
  would bring that machinery with it);
- the shipped image carries no symbols and no debug sections;
- PROGRAM.debug beside it holds the debug information;
- neither the C library's printf family (text/Format.h formats instead) nor
  zlib's gzip file functions are linked in, and zlib is the tree's own build;
- a 32-bit program keeps no unwind tables but crtbegin.o's, and stays within
  its size budget;
- the C run-time's pseudo-relocation list is empty and its relocator is not
  linked in (runtime/ShippedRuntime.cpp's stands in, for an empty list only).
"""
import os
import sys
import unittest

import pefile

PROGRAMS = []

# Library members that must stay out of the shipped programs.
FORBIDDEN = {
    # exceptions and the unwinder
    "eh_personality.o", "eh_throw.o", "eh_terminate.o", "eh_catch.o", "eh_alloc.o",
    "vterminate.o", "cp-demangle.o", "unwind-dw2.o", "unwind-dw2-fde.o", "unwind-seh.o",
    "functexcept.o", "guard.o", "new_op.o", "new_opnt.o", "stdexcept.o", "cow-stdexcept.o",
    # the library's std::string instantiations (with exception tables)
    "string-inst.o", "cow-string-inst.o",
    # iostreams and locales
    "ios_init.o", "ios.o", "locale.o", "locale_init.o", "globals_io.o", "iostream-inst.o",
    "ostream-inst.o", "istream-inst.o", "sstream-inst.o", "fstream-inst.o",
}

# Members matched by the end of their name (the C library's carry a prefix that
# differs between 32 and 64 bits), and archives that must not be read at all.
FORBIDDEN_SUFFIXES = (
    # the printf family: a floating-point formatter, locale and wide-character code
    "mingw_pformat.o", "mingw_vsnprintf.o", "mingw_vfprintf.o", "mingw_vsprintf.o", "gdtoa.o",
    # zlib's gzip file functions (the engine reads and writes through inflate and deflate)
    "gzlib.c.obj", "gzread.c.obj", "gzwrite.c.obj", "gzclose.c.obj",
)
FORBIDDEN_ARCHIVES = ("/lib/libz.a(",)  # the sysroot's zlib, built for speed with unwind tables

# Bytes a 32-bit shipped program may take. Every setup downloads the stub; a
# change that needs more room says so here.
BUDGET = {
    "TrovixInstall.exe": 149 * 1024,
    "TrovixUninstall.exe": 95 * 1024,
}

IMAGE_FILE_MACHINE_I386 = 0x14C


def included_members(map_path):
    """Archive members the linker took in: {member file name: 'archive(member)'}."""
    members = {}
    with open(map_path, encoding="latin-1") as f:
        text = f.read()
    start = text.find("Archive member included")
    ends = [text.find(h, start) for h in ("\nAllocating common symbols", "\nDiscarded input",
                                          "\nMemory Configuration")]
    end = min(e for e in ends if e > 0)
    for line in text[start:end].splitlines()[1:]:
        if line and not line[0].isspace() and line.endswith(")") and "(" in line:
            member = line[line.rindex("(") + 1:-1]
            members[member] = line
    return members


class ShippedLink(unittest.TestCase):
    def test_no_exception_or_stream_machinery(self):
        for exe in PROGRAMS:
            with self.subTest(exe):
                map_path = os.path.splitext(exe)[0] + ".map"
                members = included_members(map_path)
                self.assertTrue(members, "no archive members read from " + map_path)
                with open(map_path, encoding="latin-1") as f:
                    self.assertTrue("ShippedRuntime" in f.read(), "runtime pieces not linked")
                found = sorted(members[m] for m in FORBIDDEN if m in members)
                self.assertEqual(found, [], "linked in again")
                found = sorted(line for m, line in members.items()
                               if m.endswith(FORBIDDEN_SUFFIXES)
                               or any(a in line for a in FORBIDDEN_ARCHIVES))
                self.assertEqual(found, [], "linked in again")

    def test_no_pseudo_relocations(self):
        for exe in PROGRAMS:
            with self.subTest(exe):
                map_path = os.path.splitext(exe)[0] + ".map"
                with open(map_path, encoding="latin-1") as f:
                    text = f.read()
                bounds = {}
                for line in text.splitlines():
                    fields = line.split()
                    if len(fields) >= 2 and fields[1] in ("__rt_psrelocs_start", "__rt_psrelocs_end"):
                        bounds[fields[1]] = int(fields[0], 16)
                self.assertEqual(len(bounds), 2, "pseudo-relocation bounds not in " + map_path)
                self.assertEqual(bounds["__rt_psrelocs_start"], bounds["__rt_psrelocs_end"],
                                 "pseudo relocations present: the stand-in relocator stops")
                members = included_members(map_path)
                self.assertEqual(sorted(m for m in members if m.endswith("pseudo-reloc.o")), [])

    def test_32_bit_programs_keep_no_unwind_tables_and_their_budget(self):
        for exe in PROGRAMS:
            with self.subTest(exe):
                pe = pefile.PE(exe, fast_load=True)
                if pe.FILE_HEADER.Machine != IMAGE_FILE_MACHINE_I386:
                    continue  # x86-64 keeps its unwind data: Windows unwinds through it
                for section in pe.sections:
                    if section.Name.rstrip(b"\0").startswith(b".eh_fra"):
                        # crtbegin.o's frame registration and crtend.o's end mark only
                        self.assertLessEqual(section.Misc_VirtualSize, 512)
                name = os.path.basename(exe)
                self.assertIn(name, BUDGET)
                size = os.path.getsize(exe)
                self.assertLessEqual(size, BUDGET[name],
                                     "%s is %d bytes, over its budget of %d"
                                     % (name, size, BUDGET[name]))

    def test_image_stripped_debug_file_kept(self):
        for exe in PROGRAMS:
            with self.subTest(exe):
                pe = pefile.PE(exe, fast_load=True)
                self.assertEqual(pe.FILE_HEADER.PointerToSymbolTable, 0)
                self.assertEqual(pe.FILE_HEADER.NumberOfSymbols, 0)
                names = [s.Name.rstrip(b"\0") for s in pe.sections]
                self.assertEqual([n for n in names if n.startswith((b".debug", b"/"))], [])
                debug = os.path.splitext(exe)[0] + ".debug"
                with open(debug, "rb") as f:
                    self.assertIn(b".debug_info", f.read())


if __name__ == "__main__":
    PROGRAMS.extend(sys.argv[1:])
    del sys.argv[1:]
    unittest.main(verbosity=2)
