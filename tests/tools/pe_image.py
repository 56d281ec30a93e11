"""The smallest PE32 image that signing tools accept: a DOS header, the PE
headers with 16 data directories and no sections, padded to 0x200 bytes. Used
where the tests need a file to sign or a signed file to take apart."""

import struct

HEADERS_SIZE = 0x200
OPTIONAL_AT = 64 + 4 + 20  # after the DOS header, "PE\0\0" and the COFF header
SECURITY_ENTRY_AT = OPTIONAL_AT + 96 + 4 * 8  # data directory 4: offset, size


def pe32_headers():
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 64)
    coff = struct.pack("<HHIIIHH", 0x14C, 0, 0, 0, 0, 224, 0x0102)
    opt = bytearray(224)
    struct.pack_into("<H", opt, 0, 0x10B)
    struct.pack_into("<III", opt, 28, 0x400000, 0x1000, 0x200)  # base, alignments
    struct.pack_into("<II", opt, 56, 0x1000, HEADERS_SIZE)  # image and header sizes
    struct.pack_into("<H", opt, 68, 2)  # GUI subsystem
    struct.pack_into("<I", opt, 92, 16)  # data directories
    head = bytes(dos) + b"PE\0\0" + coff + bytes(opt)
    return head + b"\0" * (HEADERS_SIZE - len(head))
