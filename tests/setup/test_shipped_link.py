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
- PROGRAM.debug beside it holds the debug information.
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
