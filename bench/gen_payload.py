"""Writes a realistic setup payload into a folder: a few hundred files, some
tens of MB, in three kinds: executable-like (code-ish byte patterns with
tables and strings, compressing to about half), text (word soup with markup,
compressing to about a third) and incompressible (random, like media or
already-compressed data). Deterministic for a given seed.

usage: gen_payload.py DIR [SCALE]   (SCALE 1.0 ~ 50 MB in 300 files)
       gen_payload.py DIR small     (3,000 files of about 4 KB in 210 nested folders)
       gen_payload.py DIR big       (one file of 120 MB, half random, half text)"""

import os
import random
import sys

WORDS = ("install receiver folder version registry archive entry player game "
         "update network server client setup options display window driver "
         "license agreement publisher company support online account profile "
         "the and of to in is for with on by at from as this that").split()


def exe_like(rng, size):
    out = bytearray(b"MZ\x90\x00" + bytes(60))
    ops = [bytes([0x55, 0x8B, 0xEC]), bytes([0x83, 0xEC]), bytes([0xE8]), bytes([0xC3]),
           bytes([0x8B, 0x45]), bytes([0x89, 0x45]), bytes([0x6A]), bytes([0xFF, 0x15])]
    while len(out) < size:
        r = rng.random()
        if r < 0.7:
            for _ in range(64):
                out += rng.choice(ops) + bytes([rng.randrange(256)])
        elif r < 0.85:
            out += (" ".join(rng.choices(WORDS, k=12)) + "\0").encode()
        elif r < 0.95:
            base = rng.randrange(1 << 24)
            for i in range(32):
                out += (base + i * 16).to_bytes(4, "little")
        else:
            out += rng.randbytes(256)
    return bytes(out[:size])


def text_like(rng, size):
    parts, n = [], 0
    while n < size:
        line = "<p class=\"%s\">%s</p>\r\n" % (rng.choice(WORDS),
                                                " ".join(rng.choices(WORDS, k=rng.randrange(4, 16))))
        parts.append(line)
        n += len(line)
    return "".join(parts).encode()[:size]


def small(root, rng):
    total = 0
    for i in range(3000):
        sub = os.path.join(root, "d%02d" % (i % 30), "e%d" % (i % 7))
        os.makedirs(sub, exist_ok=True)
        data = text_like(rng, int(rng.uniform(3000, 5000)))
        with open(os.path.join(sub, "f%04d.txt" % i), "wb") as f:
            f.write(data)
        total += len(data)
    print("3000 files, %.1f MB" % (total / 1e6))


def big(root, rng):
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "big.bin"), "wb") as f:
        for i in range(240):
            f.write(rng.randbytes(1 << 18) + text_like(rng, 1 << 18))
    print("1 file, %.1f MB" % (240 * (1 << 19) / 1e6))


def main():
    root = sys.argv[1]
    if len(sys.argv) > 2 and sys.argv[2] in ("small", "big"):
        {"small": small, "big": big}[sys.argv[2]](root, random.Random(20261209))
        return
    scale = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
    rng = random.Random(20261208)
    kinds = [("bin", exe_like, 70, 20000, 800000), ("docs", text_like, 180, 1000, 120000),
             ("media", lambda r, s: r.randbytes(s), 50, 5000, 400000)]
    total = count = 0
    for folder, make, n, lo, hi in kinds:
        for i in range(int(n * max(scale, 0.05))):
            sub = os.path.join(root, folder, "part%d" % (i % 4)) if i % 3 else os.path.join(root, folder)
            os.makedirs(sub, exist_ok=True)
            size = int(rng.uniform(lo, hi) * scale) if scale < 1 else int(rng.uniform(lo, hi))
            ext = {"bin": ".dll", "docs": ".htm", "media": ".dat"}[folder]
            data = make(rng, size)
            path = os.path.join(sub, "%s%03d%s" % (folder, i, ext))
            with open(path, "wb") as f:
                f.write(data)
            t = 1262304000 + rng.randrange(300000000)
            os.utime(path, (t, t))
            total += len(data)
            count += 1
    print("%d files, %.1f MB" % (count, total / 1e6))


if __name__ == "__main__":
    main()
