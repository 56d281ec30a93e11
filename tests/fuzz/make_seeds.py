#!/usr/bin/env python3
"""Writes a seed corpus of small archives (valid, edge-shaped and broken) for
the qzf_fuzz_open target. Usage: make_seeds.py DIR"""
import gzip
import os
import struct
import sys
import zlib


def gz(data):
    z = zlib.compressobj(6, zlib.DEFLATED, 31)
    out = bytearray(z.compress(data) + z.flush())
    out[9] = 0x0B
    return bytes(out)


def header(version=1):
    return struct.pack('<IBI', 9, 1, version)


def entry(name, data, size=None, attrs=0x20):
    name = name.encode('latin-1')
    size = len(data) if size is None else size
    return struct.pack('<IBIIIII', 26 + len(name), 2, len(data), size, 0x11111111, 0x01D00000,
                       attrs) + name + b'\0'


def archive(files, start=0, head=True, extra=b''):
    body = header() if head else b''
    total = 0
    for name, raw, data in files:
        body += entry(name, data, len(raw)) + data
        total += len(raw)
    body += extra
    length = len(body) + 21
    return body + struct.pack('<IBIIII', 21, 3, len(files), total, 21, length)


def pe_signed(body, pad=0, directory=None):
    """A PE32 header, body, pad zero bytes and a certificate table that the
    security directory points at (or the directory given)."""
    dos = bytearray(64)
    dos[0:2] = b'MZ'
    struct.pack_into('<I', dos, 0x3C, 64)
    coff = struct.pack('<HHIIIHH', 0x14C, 0, 0, 0, 0, 224, 0x0102)
    opt = bytearray(224)
    struct.pack_into('<H', opt, 0, 0x10B)
    struct.pack_into('<I', opt, 92, 16)
    head = bytes(dos) + b'PE\0\0' + coff
    image = bytearray(head + bytes(opt) + b'\0' * 8 + body + b'\0' * pad)
    table = len(image)
    image += b'\xab' * 32
    offset, size = directory if directory else (table, 32)
    struct.pack_into('<II', image, len(head) + 96 + 4 * 8, offset, size)
    return bytes(image)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    f1 = ('readme.txt', b'hello world\n', gz(b'hello world\n'))
    f2 = ('[TROVIX]\\QorDL.exe', b'MZ' * 300, gz(b'MZ' * 300))
    f3 = ('stored.raw', b'plain bytes', b'plain bytes')
    f4 = ('..\\up\\gzip-named', b'x' * 100, gzip.compress(b'x' * 100))
    seeds = {
        'empty': b'',
        'header-trailer': archive([]),
        'one': archive([f1]),
        'three': archive([f1, f2, f3]),
        'no-header': archive([f1], head=False),
        'unknown-record': archive([f1, f4], extra=struct.pack('<IB', 9, 7) + b'abcd'),
        'appended': b'\xcc' * 64 + archive([f1, f2]),
        'no-trailer': header() + entry(*f1[:1], f1[2], len(f1[1])) + f1[2],
        'short-entry': header() + struct.pack('<IB', 20, 2) + b'\0' * 15,
        'bad-count': archive([f1])[:-16] + struct.pack('<IIII', 5, 0, 21, 0),
        'signed': pe_signed(archive([f1, f2])),
        'signed-padded': pe_signed(archive([f1]), pad=5),
        'signed-past-end': pe_signed(archive([f1]), directory=(400, 4000)),
        'signed-in-headers': pe_signed(archive([f1]), directory=(100, 0)),
    }
    for name, data in seeds.items():
        with open(os.path.join(out, 'seed-' + name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
