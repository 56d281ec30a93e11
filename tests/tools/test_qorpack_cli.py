"""Command-line tests of the native qorpack: stamping, building, listing,
round trips, interoperability with the system's gzip, atomic outputs and the
parallel build. Run by ctest with QOR_BIN pointing at the tree's bin folder.
"""

import os
import shutil
import signal
import stat
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

from pe_image import pe32_headers

BIN = os.environ.get("QOR_BIN", "")
QORPACK = os.path.join(BIN, "qorpack")

MARKERS = [("TVIID_INST_NAME", 40), ("TVIID_RCV_REG_KEY", 32), ("TVIID_RCV_DEF_DIR", 64),
           ("TVIID_APP_REG_KEY", 128), ("TVIID_APP_LOC_ITEM", 32), ("TVIID_APP_NAME", 32),
           ("TVIID_APP_EXE", 32)]


def slot_block():
    return b"".join(m.encode() + b"\0" * (c - len(m)) for m, c in MARKERS)


def make_stub(path):
    """A stand-in stub: PE headers (build refuses anything else as a stub),
    code-like bytes, the marker texts as string constants, and the slot block
    in its data."""
    consts = b"".join(m.encode() + b"\0" for m, _ in MARKERS)
    with open(path, "wb") as f:
        f.write(pe32_headers() + bytes(range(256)) * 8 + consts + b"\x90" * 37 + slot_block() +
                b"\xcc" * 1000)


def read_archive(path):
    """Parses the archive at the end of `path` independently of the engine:
    returns (header offset, [(name, data, uncompressed, time, attributes)])."""
    blob = slurp(path)
    length = struct.unpack("<I", blob[-4:])[0]
    offset = len(blob) - length if 0 < length < len(blob) else 0
    pos, entries = offset, []
    while pos < len(blob):
        rlen, rtype = struct.unpack("<IB", blob[pos:pos + 5])
        if rtype == 2:
            comp, uncomp, tlo, thi, attrs = struct.unpack("<5I", blob[pos + 5:pos + 25])
            name = blob[pos + 25:pos + rlen - 1]
            data = blob[pos + rlen:pos + rlen + comp]
            entries.append((name.decode("latin-1"), data, uncomp, (thi << 32) | tlo, attrs))
            pos += rlen + comp
        else:
            if rtype == 3:
                count, _, rep, alen = struct.unpack("<4I", blob[pos + 5:pos + 21])
                assert count == len(entries) and rep == 21 and alen == pos + 21 - offset
                assert pos + 21 == len(blob), "trailer does not end the file"
            pos += rlen
    return offset, entries


def slurp(path):
    with open(path, "rb") as f:
        return f.read()


def filetime_ns100(path):
    return os.stat(path).st_mtime_ns // 100 + 116444736000000000


def run(*args, check=True, cwd=None):
    r = subprocess.run([QORPACK, *map(str, args)], capture_output=True, cwd=cwd, timeout=300)
    if check and r.returncode != 0:
        raise AssertionError("qorpack %s failed (%d): %s" % (args, r.returncode, r.stderr))
    return r


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def hand_archive(entries):
    """An archive written by hand: [(name bytes, data bytes)], gzip-compressed."""
    import gzip
    body = struct.pack("<IBI", 9, 1, 1)
    for name, data in entries:
        z = gzip.compress(data, mtime=0)
        body += struct.pack("<IBIIIII", 26 + len(name), 2, len(z), len(data), 0, 0, 0x20)
        body += name + b"\0" + z
    body += struct.pack("<IBIIII", 21, 3, len(entries), 0, 21, len(body) + 21)
    return body


def raw_archive(entries):
    """An archive of [(name bytes, stored data bytes, recorded size)], the data
    stored exactly as given."""
    body = struct.pack("<IBI", 9, 1, 1)
    for name, data, recorded in entries:
        body += struct.pack("<IBIIIII", 26 + len(name), 2, len(data), recorded, 0, 0, 0x20)
        body += name + b"\0" + data
    body += struct.pack("<IBIIII", 21, 3, len(entries), 0, 21, len(body) + 21)
    return body


def run_capped(cap, *args):
    """run, with files the process writes limited to `cap` bytes: a run that
    writes past it is killed by SIGXFSZ instead of filling the disk."""
    import resource

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (cap, cap))
    return subprocess.run([QORPACK, *map(str, args)], capture_output=True, timeout=300,
                          preexec_fn=limit)


def make_payload(root):
    """A small tree of the kinds of files a setup carries."""
    rnd = os.urandom(150000)
    write(os.path.join(root, "bin", "QorDL.exe"), b"MZ" + (b"\x00\x10code" * 9000) + rnd[:5000])
    write(os.path.join(root, "bin", "random.bin"), rnd)
    write(os.path.join(root, "docs", "read me.txt"), b"line of text\r\n" * 3000)
    write(os.path.join(root, "docs", "deep", "er", "empty.dat"), b"")
    write(os.path.join(root, "Lumen.dat"), b"Lumen" * 11)
    # Distinct, old time stamps so that a restored time is not "now" by accident.
    for i, (d, _, files) in enumerate(sorted(os.walk(root))):
        for j, f in enumerate(sorted(files)):
            t = 1000000000 + i * 1000 + j * 7
            os.utime(os.path.join(d, f), ns=(t * 10**9 + 123456700, t * 10**9 + 123456700))


class ScratchCase(unittest.TestCase):
    """A test with a scratch folder of its own, removed after it."""

    prefix = "qorpack-cli."

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.prefix)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)


class QorpackCli(ScratchCase):

    def leftovers(self):
        return [n for n in os.listdir(self.dir) if "qorpack-" in n]

    # ---- stamp / info ---------------------------------------------------
    def test_stamp_and_info(self):
        stub = self.path("stub.exe")
        make_stub(stub)
        before = slurp(stub)
        bad = [
            (["--slot", "TVIID_APP_EXE=" + "g" * 32], "at most 31"),
            (["--slot", "TVIID_BOGUS=x"], "unknown slot marker"),
            (["--slot", "=x"], "names no marker"),
            (["--slot", "TVIID_APP_EXE"], "no '='"),
            (["--slot", "TVIID_APP_EXE=a", "--slot", "TVIID_APP_EXE=b"], "twice"),
            ([], "no --slot"),
            # A good assignment next to a bad one changes nothing either.
            (["--slot", "TVIID_INST_NAME=ok", "--slot", "TVIID_RCV_REG_KEY=" + "r" * 40],
             "at most 31"),
        ]
        for args, says in bad:
            r = run("stamp", stub, *args, check=False)
            self.assertNotEqual(r.returncode, 0, args)
            self.assertIn(says, r.stderr.decode(), args)
            self.assertEqual(slurp(stub), before, args)
        self.assertEqual(self.leftovers(), [])

        run("stamp", stub, "--slot", "TVIID_INST_NAME=Game X Receiver", "--slot",
            "TVIID_APP_REG_KEY=Software\\Maker\\Game X|GameXSetup", "--slot", "TVIID_APP_EXE=")
        after = slurp(stub)
        self.assertEqual(len(after), len(before))
        at = before.index(slot_block())
        self.assertEqual(after[:at], before[:at])
        self.assertEqual(after[at + 360:], before[at + 360:])
        self.assertEqual(after[at:at + 40], b"Game X Receiver" + b"\0" * 25)
        out = run("info", stub).stdout.decode()
        self.assertIn('TVIID_INST_NAME    ( 40)  "Game X Receiver"', out)
        self.assertIn('TVIID_APP_REG_KEY  (128)  "Software\\Maker\\Game X|GameXSetup"', out)
        self.assertIn('TVIID_APP_EXE      ( 32)  ""', out)
        self.assertIn("TVIID_RCV_REG_KEY  ( 32)  still holds its marker", out)
        # A stamped copy can be stamped again through the markers left.
        run("stamp", stub, "--slot", "TVIID_INST_NAME=Other")
        self.assertIn('"Other"', run("info", stub).stdout.decode())
        r = run("info", self.path("missing.exe"), check=False)
        self.assertNotEqual(r.returncode, 0)

    # ---- manifest and build ---------------------------------------------
    def test_build_lists_manifest_names_verbatim(self):
        stub = self.path("stub.exe")
        make_stub(stub)
        make_payload(self.path("p"))
        names = ["[TROVIX]\\TrovixUninstall.exe", "[TROVIX]\\Lumen.dat",
                 "[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe",
                 "[RECEIVE]\\docs\\read me.txt", "[TROVIX]\\empty.dat"]
        sources = ["p/bin/random.bin", "p/Lumen.dat", "p\\bin\\QorDL.exe", "p/docs/read me.txt",
                   "p/docs/deep/er/empty.dat"]
        write(self.path("setup.manifest"),
              ("# demo\n" + "".join("%s => %s\r\n" % sn for sn in zip(sources, names))).encode())
        out = self.path("setup.exe")
        run("build", "--stub", stub, "--manifest", self.path("setup.manifest"), "--out", out,
            "--slot", "TVIID_INST_NAME=Demo")
        offset, entries = read_archive(out)
        self.assertEqual(offset, os.path.getsize(stub))
        self.assertEqual([e[0] for e in entries], names)
        listing = run("list", out).stdout.decode()
        for n in names:
            self.assertIn("  " + n + "\n", listing)
        self.assertIn('"Demo"', run("info", out).stdout.decode())
        for (name, data, size, ftime, _), src in zip(entries, sources):
            src = self.path(src.replace("\\", "/"))
            self.assertEqual(data[:10], bytes.fromhex("1f8b080000000000000b"), name)
            self.assertEqual(size, os.path.getsize(src))
            self.assertEqual(ftime, filetime_ns100(src))
            # Every entry is a plain gzip file to the system's gzip.
            plain = subprocess.run(["gzip", "-dc"], input=data, capture_output=True, check=True)
            self.assertEqual(plain.stdout, slurp(src), name)

    def test_manifest_errors_name_file_and_line_and_leave_no_output(self):
        stub = self.path("stub.exe")
        make_stub(stub)
        write(self.path("a.txt"), b"a")
        out = self.path("setup.exe")
        write(out, b"previous setup")
        cases = [("a.txt => A\n\nnothing here\n", ":3: expected 'SOURCE => STORED NAME'"),
                 ("a.txt => A\nmissing.txt => B\n", ":2: source"),
                 ("a.txt => Same\na.txt => SAME\n", ":2: stored name 'SAME' was already given")]
        for text, says in cases:
            write(self.path("m.txt"), text.encode())
            r = run("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out", out,
                    check=False)
            self.assertNotEqual(r.returncode, 0)
            self.assertIn(self.path("m.txt") + says, r.stderr.decode())
            self.assertEqual(slurp(out), b"previous setup")
        self.assertEqual(self.leftovers(), [])

    def test_failing_or_interrupted_build_leaves_no_output(self):
        stub = self.path("stub.exe")
        make_stub(stub)
        write(self.path("a.txt"), b"a" * 1000)
        # A sparse source of 4 GiB cannot be stored (32-bit sizes): the build
        # fails after it has written the first entry.
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(1 << 32)
        write(self.path("m.txt"), b"a.txt => A\nhuge.bin => H\n")
        out = self.path("setup.exe")
        r = run("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out", out,
                "--jobs", "2", check=False)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("m.txt:2: ", r.stderr.decode())
        self.assertIn("4 GiB", r.stderr.decode())
        self.assertFalse(os.path.exists(out))
        self.assertEqual(self.leftovers(), [])
        # Interrupted while compressing a large file: neither the output nor
        # its temporary file remains.
        with open(self.path("big.bin"), "wb") as f:
            f.truncate((1 << 32) - (1 << 20))
        write(self.path("m.txt"), b"a.txt => A\nbig.bin => B\n")
        p = subprocess.Popen([QORPACK, "build", "--stub", stub, "--manifest", self.path("m.txt"),
                              "--out", out], stderr=subprocess.PIPE)
        time.sleep(0.7)
        self.assertIsNone(p.poll(), "build ended before it could be interrupted")
        p.send_signal(signal.SIGTERM)
        p.communicate(timeout=30)
        self.assertNotEqual(p.returncode, 0)
        self.assertFalse(os.path.exists(out))
        self.assertEqual(self.leftovers(), [])

    def stub_and_manifest_with_a_big_file(self):
        """A stub and m.txt listing a payload under p/, with one file above
        the in-memory limit (the writer's streaming path)."""
        stub = self.path("stub.exe")
        make_stub(stub)
        make_payload(self.path("p"))
        write(self.path("p", "big.dat"), (os.urandom(1000) + b"\0" * 3000) * 2600)
        files = sorted(os.path.relpath(os.path.join(d, f), self.path())
                       for d, _, fs in os.walk(self.path("p")) for f in fs)
        write(self.path("m.txt"),
              "".join("%s => [TROVIX]\\%s\n" % (f, f.replace("/", "\\")) for f in files).encode())
        return stub, files

    def test_parallel_build_is_byte_identical_to_sequential(self):
        stub, files = self.stub_and_manifest_with_a_big_file()
        outs = []
        for jobs in ("1", "2", "5"):
            outs.append(self.path("setup%s.exe" % jobs))
            run("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out", outs[-1],
                "--jobs", jobs)
        ref = slurp(outs[0])
        for o in outs[1:]:
            self.assertEqual(slurp(o), ref, o)
        self.assertIn("%d entries verified" % len(files), run("verify", outs[0]).stdout.decode())
        self.assertEqual(len(read_archive(outs[0])[1]), len(files))
        # A manifest of comments only: an empty archive (header and trailer),
        # the same either way, and one that lists.
        write(self.path("m.txt"), b"# nothing yet\n")
        for jobs in ("1", "2"):
            out = self.path("empty%s.exe" % jobs)
            run("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out", out,
                "--jobs", jobs)
            self.assertEqual(read_archive(out), (os.path.getsize(stub), []), jobs)
            self.assertIn("0 entries", run("list", out).stdout.decode())
        self.assertEqual(slurp(self.path("empty1.exe")), slurp(self.path("empty2.exe")))

    def test_level_chooses_the_deflate_and_both_writers_agree(self):
        stub, files = self.stub_and_manifest_with_a_big_file()

        def deflated(data, level):  # zlib's raw deflate, fed 64 KiB at a time as qorpack does
            c = zlib.compressobj(level, zlib.DEFLATED, -15, 8)
            return b"".join(c.compress(data[i:i + 65536])
                            for i in range(0, len(data), 65536)) + c.flush()

        sizes = {}
        for level in (None, "1", "9"):
            outs = []
            for jobs in ("1", "2"):
                outs.append(self.path("s%s-%s.exe" % (level, jobs)))
                run("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out", outs[-1],
                    "--jobs", jobs, *(("--level", level) if level else ()))
            self.assertEqual(slurp(outs[0]), slurp(outs[1]), "level %s" % level)
            entries = read_archive(outs[0])[1]
            for (name, data, size, _, _), f in zip(entries, files):
                src = slurp(self.path(f))
                self.assertEqual(data[:10], b"\x1f\x8b\x08\0\0\0\0\0\0\x0b", name)
                self.assertEqual(data[10:-8], deflated(src, int(level or 9)), name)
                self.assertEqual(struct.unpack("<2I", data[-8:]),
                                 (zlib.crc32(src), len(src)), name)
            sizes[level] = os.path.getsize(outs[0])
        self.assertEqual(slurp(self.path("sNone-1.exe")), slurp(self.path("s9-1.exe")))
        self.assertGreater(sizes["1"], sizes["9"])

        # add: level 9 unless told; an entry added later keeps its own level.
        text = self.path("p", "docs", "read me.txt")
        run("add", self.path("a.qzf"), text, "--as", "nine")
        run("add", self.path("a.qzf"), "--level", "1", text, "--as", "one")
        got = {n: d for n, d, _, _, _ in read_archive(self.path("a.qzf"))[1]}
        self.assertEqual(got["nine"][10:-8], deflated(slurp(text), 9))
        self.assertEqual(got["one"][10:-8], deflated(slurp(text), 1))
        for bad in ("0", "10", "x", "-1"):
            for args in (("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out",
                          self.path("bad.exe"), "--level", bad),
                         ("add", self.path("a.qzf"), "--level", bad, text)):
                r = run(*args, check=False)
                self.assertEqual(r.returncode, 2, args)
                self.assertIn("--level takes 1 to 9", r.stderr.decode())
        self.assertFalse(os.path.exists(self.path("bad.exe")))

    # ---- archives: add, list, extract, remove -----------------------------
    def test_round_trip_of_a_payload_tree(self):
        make_payload(self.path("p"))
        arc = self.path("payload.qzf")
        run("add", arc, "-C", self.path("p"), ".")
        _, entries = read_archive(arc)
        names = sorted(e[0] for e in entries)
        self.assertIn("docs\\deep\\er\\empty.dat", names)
        self.assertIn("docs\\read me.txt", names)
        run("extract", arc, "-C", self.path("out"))
        for d, _, fs in os.walk(self.path("p")):
            for f in fs:
                src = os.path.join(d, f)
                dst = os.path.join(self.path("out"), os.path.relpath(src, self.path("p")))
                self.assertEqual(slurp(dst), slurp(src), dst)
                self.assertEqual(os.stat(dst).st_mtime_ns // 100, os.stat(src).st_mtime_ns // 100)
        # Extracting by name, including by the unique end of a stored name.
        run("extract", arc, "-C", self.path("one"), "read me.txt")
        self.assertTrue(os.path.exists(self.path("one", "docs", "read me.txt")))
        # Adding a folder that holds the archive leaves the archive itself out.
        shutil.copy(arc, self.path("p", "inner.qzf"))
        before = read_archive(self.path("p", "inner.qzf"))[1]
        r = run("add", self.path("p", "inner.qzf"), "-C", self.path("p"), ".")
        self.assertIn("it is the archive itself", r.stderr.decode())
        self.assertEqual(sorted(e[0] for e in read_archive(self.path("p", "inner.qzf"))[1]),
                         sorted(e[0] for e in before))
        r = run("extract", arc, "-C", self.path("none"), "nothing.txt", check=False)
        self.assertNotEqual(r.returncode, 0)
        self.assertFalse(os.path.exists(self.path("none")))

    def test_add_and_remove_on_a_setup(self):
        stub = self.path("stub.exe")
        make_stub(stub)
        make_payload(self.path("p"))
        write(self.path("m.txt"), b"p/Lumen.dat => [TROVIX]\\Lumen.dat\n"
              b"p/bin/random.bin => [TROVIX]\\random.bin\n")
        setup = self.path("setup.exe")
        run("build", "--stub", stub, "--manifest", self.path("m.txt"), "--out", setup)
        run("add", setup, self.path("p", "docs", "read me.txt"), "--as", "[RECEIVE]\\Read Me.txt")
        offset, entries = read_archive(setup)
        self.assertEqual(offset, os.path.getsize(stub))
        self.assertEqual([e[0] for e in entries],
                         ["[TROVIX]\\Lumen.dat", "[TROVIX]\\random.bin", "[RECEIVE]\\Read Me.txt"])
        before = slurp(setup)
        r = run("remove", setup, "[TROVIX]\\Lumen.dat", "no such entry", check=False)
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(slurp(setup), before)
        run("remove", setup, "[trovix]\\lumen.DAT")
        offset, entries = read_archive(setup)
        self.assertEqual([e[0] for e in entries], ["[TROVIX]\\random.bin", "[RECEIVE]\\Read Me.txt"])
        self.assertEqual(slurp(setup)[:offset], before[:offset])
        self.assertEqual(self.leftovers(), [])

    def test_extract_refuses_names_leading_outside(self):
        # An archive written by hand with a name that climbs out of the folder.
        import gzip
        data = gzip.compress(b"evil")
        name = b"..\\evil.txt"
        rec = struct.pack("<IBIIIII", 26 + len(name), 2, len(data), 4, 0, 0, 0x20) + name + b"\0"
        body = struct.pack("<IBI", 9, 1, 1) + rec + data
        body += struct.pack("<IBIIII", 21, 3, 1, 4, 21, len(body) + 21)
        write(self.path("evil.qzf"), body)
        self.assertIn("..\\evil.txt", run("list", self.path("evil.qzf")).stdout.decode())
        r = run("extract", self.path("evil.qzf"), "-C", self.path("x", "y"), check=False)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("outside", r.stderr.decode())
        self.assertFalse(os.path.exists(self.path("x")))


    # ---- never write outside, never lose a file ---------------------------
    def test_add_stores_names_relative_to_the_base_folder(self):
        write(self.path("small", "keep.txt"), b"k")
        write(self.path("r700k.bin"), b"r" * 700)
        write(self.path("mk.py"), b"print()")
        write(self.path("stage", "in.txt"), b"in")
        # Run from the parent folder: the name is relative to it, not to the archive.
        run("add", "small/arch.qzf", "r700k.bin", cwd=self.dir)
        self.assertEqual([e[0] for e in read_archive(self.path("small", "arch.qzf"))[1]],
                         ["r700k.bin"])
        refused = [(["add", "x.qzf", "-C", "stage", "../mk.py"], "outside"),
                   (["add", "x.qzf", "/etc/hostname"], "--as"),
                   (["add", "x.qzf", "mk.py", "--as", "..\\mk.py"], "'..'"),
                   (["add", "x.qzf", "mk.py", "--as", "C:\\mk.py"], "drive"),
                   (["add", "x.qzf", "mk.py", "--as", "[TROVIX]\\a/b"], "'/'"),
                   (["add", "x.qzf", "mk.py", "--as", "[TROVIX]\\a\nb"], "control")]
        for args, says in refused:
            r = run(*args, check=False, cwd=self.dir)
            self.assertEqual(r.returncode, 1, args)
            self.assertIn(says, r.stderr.decode(), args)
            self.assertFalse(os.path.exists(self.path("x.qzf")), args)
        run("add", "x.qzf", "-C", "stage", "in.txt", self.path("stage", "in.txt"), "--quiet",
            check=False, cwd=self.dir)
        run("add", "x.qzf", "-C", "stage", "in.txt", cwd=self.dir)
        run("add", "x.qzf", self.path("mk.py"), "--as", "[TROVIX]\\mk.py", cwd=self.dir)
        self.assertEqual([e[0] for e in read_archive(self.path("x.qzf"))[1]],
                         ["in.txt", "[TROVIX]\\mk.py"])
        # A new archive gets the umask's mode, like any new file.
        old = os.umask(0o022)
        os.umask(old)
        self.assertEqual(os.stat(self.path("x.qzf")).st_mode & 0o777, 0o666 & ~old)

    def test_build_refuses_an_output_that_is_an_input(self):
        make_stub(self.path("stub.exe"))
        write(self.path("a.txt"), b"a")
        write(self.path("m.txt"), b"a.txt => [TROVIX]\\a.txt\n")
        before = slurp(self.path("m.txt"))
        for out, says in ((self.path("m.txt"), "manifest"), (self.path("a.txt"), "m.txt:1:")):
            r = run("build", "--stub=" + self.path("stub.exe"), "--manifest", self.path("m.txt"),
                    "--out", out, check=False)
            self.assertEqual(r.returncode, 1)
            self.assertIn(says, r.stderr.decode())
        self.assertEqual(slurp(self.path("m.txt")), before)
        self.assertEqual(slurp(self.path("a.txt")), b"a")
        # Stored names the setup cannot place are refused with FILE:LINE.
        for line, says in ((b"a.txt => [TROVIX]\\..\\a.txt", "'..'"),
                           (b"a.txt => [TROVIX]\\x\na.txt => [TROVIX][InstCmd=-r]\\X", "same path")):
            write(self.path("m.txt"), b"\xef\xbb\xbf" + line + b"\n")
            r = run("build", "--stub", self.path("stub.exe"), "--manifest", self.path("m.txt"),
                    "--out", self.path("s.exe"), check=False)
            self.assertEqual(r.returncode, 1, line)
            self.assertIn("m.txt:", r.stderr.decode())
            self.assertIn(says, r.stderr.decode())
        self.assertFalse(os.path.exists(self.path("s.exe")))
        self.assertEqual(self.leftovers(), [])

    def test_failed_extraction_keeps_the_old_file(self):
        body = bytearray(hand_archive([(b"good.txt", b"new good" * 100),
                                       (b"bad.txt", os.urandom(5000))]))
        body[-40] ^= 0xFF  # inside bad.txt's deflate data or CRC
        write(self.path("a.qzf"), bytes(body))
        write(self.path("out", "bad.txt"), b"the user's file")
        r = run("extract", self.path("a.qzf"), "-C", self.path("out"), check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("bad.txt", r.stderr.decode())
        self.assertEqual(slurp(self.path("out", "bad.txt")), b"the user's file")
        self.assertEqual(slurp(self.path("out", "good.txt")), b"new good" * 100)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["bad.txt", "good.txt"])
        # Into an empty folder: the damaged entry leaves nothing behind.
        r = run("extract", self.path("a.qzf"), "-C", self.path("fresh"), check=False)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(os.listdir(self.path("fresh")), ["good.txt"])
        r = run("verify", self.path("a.qzf"), check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("entry 2 'bad.txt'", r.stderr.decode())
        self.assertNotIn("good.txt", r.stderr.decode())

    def test_extract_never_follows_links_below_the_destination(self):
        write(self.path("arc.qzf"), hand_archive([(b"[TROVIX]\\Lumen.dat", b"L" * 50)]))
        os.makedirs(self.path("outside"))
        cases = [("dest1", "[TROVIX]", "../outside"),             # a folder step
                 ("dest2", "[TROVIX]", "../outside/missing"),     # dangling
                 ("dest3", "[TROVIX]/Lumen.dat", "../../outside/f")]  # the file itself
        write(self.path("outside", "f"), b"outside file")
        os.chmod(self.path("outside", "f"), 0o444)
        for dest, at, target in cases:
            os.makedirs(os.path.dirname(self.path(dest, at)), exist_ok=True)
            os.symlink(target, self.path(dest, at))
            r = run("extract", self.path("arc.qzf"), "-C", self.path(dest), check=False)
            self.assertEqual(r.returncode, 1, dest)
            self.assertIn("link", r.stderr.decode(), dest)
        self.assertEqual(sorted(os.listdir(self.path("outside"))), ["f"])
        self.assertEqual(slurp(self.path("outside", "f")), b"outside file")
        self.assertEqual(os.stat(self.path("outside", "f")).st_mode & 0o777, 0o444)

    def test_concurrent_adds_keep_both_entries(self):
        for n in ("one", "two"):
            write(self.path(n + ".bin"), os.urandom(6 << 20))
        write(self.path("base.txt"), b"base")
        run("add", "arc.qzf", "base.txt", cwd=self.dir)
        procs = [subprocess.Popen([QORPACK, "add", "arc.qzf", n + ".bin"], cwd=self.dir,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                 for n in ("one", "two")]
        # The second run waits for the first: both succeed, neither loses the other's entry.
        for p in procs:
            _, err = p.communicate(timeout=120)
            self.assertEqual(p.returncode, 0, err)
        self.assertEqual(sorted(e[0] for e in read_archive(self.path("arc.qzf"))[1]),
                         ["base.txt", "one.bin", "two.bin"])
        self.assertEqual(self.leftovers(), [])

    def test_names_differing_only_by_case_are_kept_apart(self):
        write(self.path("c.qzf"), hand_archive([(b"A.txt", b"upper"), (b"a.txt", b"lower"),
                                                (b"d.txt", b"first"), (b"d.txt", b"second"),
                                                (b"esc\x1b[2J.txt", b"e")]))
        listing = run("list", self.path("c.qzf")).stdout.decode()
        self.assertIn("entries 1 'A.txt' and 2 'a.txt' have the same name", listing)
        self.assertIn("entries 3 'd.txt' and 4 'd.txt'", listing)
        self.assertIn("esc\\x1B[2J.txt", listing)
        self.assertNotIn("\x1b", listing)
        r = run("extract", self.path("c.qzf"), "-C", self.path("o"), "a.txt", check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("ambiguous", r.stderr.decode())
        r = run("extract", self.path("c.qzf"), "-C", self.path("o"), "A.txt", "a.txt", "d.txt",
                check=False)
        self.assertEqual(r.returncode, 1)
        r = run("extract", self.path("c.qzf"), "-C", self.path("o"), check=False)
        self.assertIn("control characters", r.stderr.decode())
        before = slurp(self.path("c.qzf"))
        r = run("remove", self.path("c.qzf"), "a.txt", check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("1 'A.txt' and 2 'a.txt'", r.stderr.decode())
        self.assertEqual(slurp(self.path("c.qzf")), before)
        run("remove", self.path("c.qzf"), "--entry", "5", "--entry", "3")
        r = run("extract", self.path("c.qzf"), "-C", self.path("o"))
        self.assertEqual(slurp(self.path("o", "A.txt")), b"upper")
        self.assertEqual(slurp(self.path("o", "a.txt")), b"lower")
        self.assertEqual(slurp(self.path("o", "d.txt")), b"second")
        run("remove", self.path("c.qzf"), "--entry", "1")
        run("remove", self.path("c.qzf"), "a.txt")
        self.assertEqual([e[0] for e in read_archive(self.path("c.qzf"))[1]], ["d.txt"])

    def test_interrupts_leave_no_temporary_files(self):
        tmp = self.path("tmp")
        os.makedirs(tmp)
        env = dict(os.environ, TMPDIR=tmp)
        make_stub(self.path("stub.exe"))
        write(self.path("big.bin"), (os.urandom(1 << 20) + b"\0" * (3 << 20)) * 40)
        write(self.path("m.txt"), b"big.bin => [TROVIX]\\big.bin\n")
        build = [QORPACK, "build", "--stub", self.path("stub.exe"), "--manifest",
                 self.path("m.txt"), "--out", self.path("setup.exe")]
        for args, sig in ((build + ["--jobs", "1"], signal.SIGINT), (build, signal.SIGHUP),
                          (build + ["--jobs", "1"], signal.SIGTERM)):
            p = subprocess.Popen(args, env=env, stderr=subprocess.PIPE)
            time.sleep(0.5)
            self.assertIsNone(p.poll(), "build ended before it could be interrupted")
            p.send_signal(sig)
            p.communicate(timeout=60)
            self.assertNotEqual(p.returncode, 0)
            self.assertEqual(os.listdir(tmp), [], sig)
            self.assertFalse(os.path.exists(self.path("setup.exe")))
            self.assertEqual(self.leftovers(), [])
        run("build", *build[2:], "--jobs", "1")
        write(self.path("out", "[TROVIX]", "big.bin"), b"old")
        # Over an old file, which stays, and into an empty folder, where the
        # file cut short goes too.
        for folder, left in (("out", ["big.bin"]), ("new", [])):
            p = subprocess.Popen([QORPACK, "extract", self.path("setup.exe"), "-C",
                                  self.path(folder)], env=env, stderr=subprocess.PIPE)
            time.sleep(0.3)
            self.assertIsNone(p.poll(), "extract ended before it could be interrupted")
            p.send_signal(signal.SIGINT)
            p.communicate(timeout=60)
            self.assertEqual(os.listdir(self.path(folder, "[TROVIX]")), left)
        self.assertEqual(slurp(self.path("out", "[TROVIX]", "big.bin")), b"old")
        self.assertEqual(os.listdir(tmp), [])

    # ---- the install-layout view ------------------------------------------
    def test_layout_view_verify_and_folder_manifests(self):
        make_stub(self.path("stub.exe"))
        make_payload(self.path("p"))
        write(self.path("m.txt"),
              b"p/bin/QorDL.exe => [TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe\n"
              b"p/docs/ => [RECEIVE]\\docs\n"
              b"p/Lumen.dat => Lumen.dat\n")
        r = run("build", "--stub", self.path("stub.exe"), "--manifest", self.path("m.txt"),
                "--out", self.path("s.exe"))
        self.assertIn("m.txt:3: stored name 'Lumen.dat' has no placement prefix",
                      r.stderr.decode())
        self.assertIn("4 entries", r.stdout.decode())
        self.assertEqual([e[0] for e in read_archive(self.path("s.exe"))[1]],
                         ["[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe",
                          "[RECEIVE]\\docs\\read me.txt", "[RECEIVE]\\docs\\deep\\er\\empty.dat",
                          "Lumen.dat"])
        rows = run("list", "--layout", self.path("s.exe")).stdout.decode().splitlines()
        self.assertEqual(rows[1].split(), ["product", "QorDL.exe", "-register", "-unregister"])
        self.assertEqual(rows[2].split(), ["receiver", "docs\\read", "me.txt", "-", "-"])
        self.assertEqual(rows[4].split(), ["unplaced", "Lumen.dat", "-", "-"])
        self.assertIn("verified", run("verify", self.path("s.exe")).stdout.decode())
        self.assertEqual(run("--quiet", "verify", self.path("s.exe")).stdout, b"")
        run("extract", self.path("s.exe"), "--layout", self.path("lay"))
        self.assertEqual(slurp(self.path("lay", "product", "QorDL.exe")),
                         slurp(self.path("p", "bin", "QorDL.exe")))
        self.assertTrue(os.path.isfile(self.path("lay", "receiver", "docs", "deep", "er",
                                                 "empty.dat")))
        self.assertTrue(os.path.isfile(self.path("lay", "unplaced", "Lumen.dat")))
        r = run("list", self.path("stub.exe"), check=False)
        self.assertIn("neither an archive nor a setup", r.stderr.decode())
        self.assertTrue(run("--version").stdout.startswith(b"qorpack "))

    def test_help_and_usage_errors(self):
        for c in ("stamp", "info", "list", "extract", "add", "remove", "build", "verify"):
            r = run(c, "--help")
            self.assertIn("usage: qorpack " + c, r.stdout.decode())
        self.assertEqual(run("frobnicate", check=False).returncode, 2)
        self.assertEqual(run("build", "--stub", check=False).returncode, 2)
        make_stub(self.path("stub.exe"))
        write(self.path("m.txt"), b"")
        r = run("build", "--stub", self.path("stub.exe"), "--manifest", self.path("m.txt"),
                "--out", self.path(".", "stub.exe"), check=False)
        self.assertIn("stub itself", r.stderr.decode())
        r = run("list", self.path("nothing.qzf"), check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("does not exist", r.stderr.decode())


def process_state(pid):
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


def start_paused(point, args, cwd=None):
    """Starts qorpack with the test hook QORPACK_TEST_PAUSE=point: the run
    stops itself (SIGSTOP) when it reaches that point; returns once it has."""
    env = dict(os.environ, QORPACK_TEST_PAUSE=point)
    p = subprocess.Popen([QORPACK, *map(str, args)], env=env, cwd=cwd,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.time() + 60
    while process_state(p.pid) != "T":
        if p.poll() is not None or time.time() > deadline:
            raise AssertionError("qorpack never reached '%s': %s" % (point, p.communicate()))
        time.sleep(0.01)
    return p


def resume(p, sig=None):
    """Sends `sig` (if any) to a paused run, continues it, waits for its end."""
    if sig is not None:
        p.send_signal(sig)
    p.send_signal(signal.SIGCONT)
    out, err = p.communicate(timeout=120)
    return p.returncode, out.decode(), err.decode()


class PackagingChecks(unittest.TestCase):
    """What build and stamp say of a package before it ships, and text in the
    setup's code page: each row a manifest, slots and what must happen."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorpack-pkg.")
        make_stub(self.path("stub.exe"))
        write(self.path("u.exe"), b"uninstaller")
        write(self.path("a.dat"), b"a")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def build(self, lines, *extra):
        write(self.path("m.txt"), "\n".join(lines).encode("utf-8") + b"\n")
        if os.path.exists(self.path("s.exe")):
            os.remove(self.path("s.exe"))
        return run("build", "--stub", self.path("stub.exe"), "--manifest", self.path("m.txt"),
                   "--out", self.path("s.exe"), *extra, check=False)

    UNINST = "u.exe => [TROVIX]\\TrovixUninstall.exe"

    def test_build_findings(self):
        cmds = ["a.dat => [TROVIX][InstCmd=-r]\\p%d.exe" % i for i in range(21)]
        rows = [
            # (what, manifest lines, extra args, exit code, text on stderr or None)
            ("complete", [self.UNINST, "a.dat => [TROVIX]\\a.dat"], [], 0, None),
            ("no uninstaller", ["a.dat => [TROVIX]\\a.dat"], [], 0, "TrovixUninstall.exe"),
            ("21 install commands", [self.UNINST] + cmds, [], 1, "21 entries"),
            ("20 install commands", [self.UNINST] + cmds[:20], [], 0, None),
            ("receiver entry, no receiver slots", [self.UNINST, "a.dat => [RECEIVE]\\r.dll"],
             [], 0, "TVIID_RCV_REG_KEY"),
            ("a name in UTF-8", [self.UNINST, "a.dat => [TROVIX]\\Caf\u00e9.txt"], [], 0, None),
            ("a name 1252 lacks", [self.UNINST, "a.dat => [TROVIX]\\\u03a9.txt"], [], 1,
             "U+03A9"),
            ("a slot value 1252 lacks", [self.UNINST], ["--slot", "TVIID_APP_NAME=\u03a9"], 1,
             "U+03A9"),
            ("the same in 1253 (Greek)", [self.UNINST],
             ["--codepage", "1253", "--slot", "TVIID_INST_NAME=\u03a9mega"], 0, None),
            ("a double-byte code page", [self.UNINST], ["--codepage", "932"], 2, "932"),
            # One file on Windows in the setup's code page, whatever 1252 says.
            ("\u0401 and \u0451 in 1251", [self.UNINST, "a.dat => [TROVIX]\\\u0401.txt",
                                        "a.dat => [TROVIX]\\\u0451.txt"],
             ["--codepage", "1251"], 1, "installs to the same path"),
            ("\u0141 and \u0142 in 1250", [self.UNINST, "a.dat => [TROVIX]\\\u0141.txt",
                                        "a.dat => [TROVIX]\\\u0142.txt"],
             ["--codepage", "1250"], 1, "installs to the same path"),
            ("\u00d7 and \u00f7 in 1252", [self.UNINST, "a.dat => [TROVIX]\\\u00d7.txt",
                                        "a.dat => [TROVIX]\\\u00f7.txt"], [], 0, None),
            # Letters the system's converter holds back for a combining mark.
            ("\u00e0 in 1258", [self.UNINST, "a.dat => [TROVIX]\\\u00e0.txt"],
             ["--codepage", "1258"], 0, None),
            ("\u00c0 and \u00e0 in 1258", [self.UNINST, "a.dat => [TROVIX]\\\u00c0.txt",
                                        "a.dat => [TROVIX]\\\u00e0.txt"],
             ["--codepage", "1258"], 1, "installs to the same path"),
            ("\u05d0\u05f0 in 1255", [self.UNINST, "a.dat => [TROVIX]\\\u05d0\u05f0.txt"],
             ["--codepage", "1255"], 0, None),
            # A file where another entry needs a folder of that name.
            ("a file, then a folder", [self.UNINST, "a.dat => [TROVIX]\\a",
                                       "a.dat => [TROVIX]\\A\\b.txt"], [], 1,
             "needs a folder where a file is installed by '[TROVIX]\\a' (line 2)"),
            ("a folder, then a file", [self.UNINST, "a.dat => [TROVIX]\\x\\y\\z",
                                       "a.dat => [TROVIX]\\X\\Y"], [], 1,
             "installs a file where a folder is needed"),
            ("a file beside a folder", [self.UNINST, "a.dat => [TROVIX]\\a\\b",
                                        "a.dat => [TROVIX]\\ab", "a.dat => [TROVIX]\\a\\c"],
             [], 0, None),
        ]
        for what, lines, extra, code, text in rows:
            with self.subTest(what):
                r = self.build(lines, *extra)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertEqual(os.path.exists(self.path("s.exe")), code == 0)
                if text is None:
                    self.assertEqual(r.stderr, b"")
                else:
                    self.assertIn(text.encode(), r.stderr)

    def test_name_refusals_show_the_names_as_written(self):
        rows = [
            # (lines, code page, what stderr must hold in UTF-8)
            (["a.dat => [TROVIX]\\\u0401", "a.dat => [TROVIX]\\\u0451"], "1251",
             "'[TROVIX]\\\u0451' installs to the same path as '[TROVIX]\\\u0401'"),
            (["a.dat => [TROVIX]\\\u0401."], "1251", "('\u0401.')"),
            (["a.dat => [TROVIX]\\\u00c4<"], "1252", "'[TROVIX]\\\u00c4<'"),
        ]
        for lines, cp, text in rows:
            with self.subTest(text):
                write(self.path("m.txt"), "\n".join([self.UNINST] + lines).encode("utf-8"))
                r = subprocess.run([QORPACK, "build", "--stub", "stub.exe", "--manifest", "m.txt",
                                    "--out", "s.exe", "--codepage", cp], capture_output=True,
                                   cwd=self.dir, env=dict(os.environ, LC_ALL="C.UTF-8"))
                self.assertIn(text.encode("utf-8"), r.stderr)

    def test_names_and_values_in_the_setups_code_page_and_back(self):
        r = self.build([self.UNINST, "a.dat => [TROVIX]\\Caf\u00e9.txt"],
                       "--slot", "TVIID_INST_NAME=Lumiwave Caf\u00e9")
        self.assertEqual(r.returncode, 0, r.stderr)
        data = slurp(self.path("s.exe"))
        self.assertIn(b"Lumiwave Caf\xe9\0", data)
        self.assertIn(b"Caf\xe9.txt", data)
        self.assertNotIn(b"Caf\xc3\xa9", data)
        env = dict(os.environ, LC_ALL="C.UTF-8")
        for cmd in (["list", self.path("s.exe")], ["info", self.path("s.exe")]):
            out = subprocess.run([QORPACK, *cmd], capture_output=True, env=env).stdout
            self.assertIn("Caf\u00e9".encode("utf-8"), out, cmd)
        # Stamping a built setup checks it as its build did.
        r = run("stamp", self.path("s.exe"), "--slot", "TVIID_RCV_REG_KEY=Rcv", check=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"installs no file of its own", r.stderr)


class HostileRound(unittest.TestCase):
    """Faults found by trying the tool as an attacker, a careless user and a
    build server would. Races are made deterministic with the pause hook."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorpack-hostile.")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def leftovers(self, *folder):
        return [n for n in os.listdir(self.path(*folder)) if "qorpack-" in n]

    # ---- interrupts and races never remove another's file ----------------
    def test_signal_during_extract_removes_nothing_outside_dest(self):
        write(self.path("a.qzf"), hand_archive([(b"d\\victim.txt", b"v" * 100000)]))
        write(self.path("outside", "victim.txt"), b"the user's file")
        p = start_paused("extract-file", ["extract", self.path("a.qzf"), "-C", self.path("dest")])
        # The folder being written to is moved away and a link put in its place.
        os.rename(self.path("dest", "d"), self.path("dest", "d_moved"))
        os.symlink("../outside", self.path("dest", "d"))
        rc, _, _ = resume(p, signal.SIGTERM)
        self.assertEqual(rc, -signal.SIGTERM)
        self.assertEqual(slurp(self.path("outside", "victim.txt")), b"the user's file")
        self.assertEqual(os.listdir(self.path("dest", "d_moved")), [])

    def test_the_loser_of_a_race_to_create_keeps_the_winners_archive(self):
        write(self.path("one.txt"), b"one")
        write(self.path("two.txt"), b"two")
        # B makes the placeholder and is held before it locks it; A takes the
        # placeholder's lock, writes its archive and succeeds.
        b = start_paused("lock", ["add", "arc.qzf", "two.txt"], cwd=self.dir)
        r = run("add", "arc.qzf", "one.txt", cwd=self.dir)
        self.assertIn("added 1 entry", r.stdout.decode())
        os.remove(self.path("two.txt"))  # B now fails after locking A's archive
        rc, _, err = resume(b)
        self.assertEqual(rc, 1, err)
        self.assertEqual([e[0] for e in read_archive(self.path("arc.qzf"))[1]], ["one.txt"])

    def test_an_interrupt_spares_a_file_moved_over_the_placeholder(self):
        write(self.path("one.txt"), b"one")
        write(self.path("mine.qzf"), hand_archive([(b"keep.txt", b"keep")]))
        p = start_paused("output", ["add", "new.qzf", "one.txt"], cwd=self.dir)
        os.rename(self.path("mine.qzf"), self.path("new.qzf"))
        rc, _, _ = resume(p, signal.SIGINT)
        self.assertEqual(rc, -signal.SIGINT)
        self.assertEqual([e[0] for e in read_archive(self.path("new.qzf"))[1]], ["keep.txt"])
        self.assertEqual(self.leftovers(), [])

    # ---- folder sources never follow links ---------------------------------
    def test_folder_sources_skip_links_fifos_and_say_so(self):
        make_stub(self.path("stub.exe"))
        write(self.path("p", "a.txt"), b"a")
        write(self.path("p", "sub", "b.txt"), b"b")
        write(self.path("secret"), b"root only")
        os.symlink(".", self.path("p", "u"))                   # a loop
        os.symlink("../secret", self.path("p", "leak.txt"))    # out of the folder
        os.symlink("nowhere", self.path("p", "dangling"))
        os.mkfifo(self.path("p", "fifo"))
        write(self.path("m.txt"), b"p/ => [TROVIX]\\p\n")
        r = run("build", "--stub", self.path("stub.exe"), "--manifest", self.path("m.txt"),
                "--out", self.path("s.exe"))
        self.assertEqual([e[0] for e in read_archive(self.path("s.exe"))[1]],
                         ["[TROVIX]\\p\\a.txt", "[TROVIX]\\p\\sub\\b.txt"])
        err = r.stderr.decode()
        for name, why in (("u", "symbolic link"), ("leak.txt", "symbolic link"),
                          ("dangling", "symbolic link"), ("fifo", "FIFO")):
            self.assertRegex(err, r"m\.txt:1: skipping '[^']*%s': [^\n]*%s" % (name, why))
        r = run("add", "arc.qzf", "p", cwd=self.dir)
        self.assertEqual(sorted(e[0] for e in read_archive(self.path("arc.qzf"))[1]),
                         ["p\\a.txt", "p\\sub\\b.txt"])
        self.assertIn("skipping 'p/leak.txt': a symbolic link", r.stderr.decode())

    # ---- targets that are not regular files ------------------------------
    def test_devices_fifos_and_folders_are_refused_as_targets(self):
        make_stub(self.path("stub.exe"))
        write(self.path("a.txt"), b"a")
        write(self.path("m.txt"), b"a.txt => [TROVIX]\\a.txt\n")
        os.mkfifo(self.path("fifo"))
        os.mknod(self.path("null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        os.makedirs(self.path("folder"))
        for target in ("fifo", "null", "folder"):
            for args in (["build", "--stub", "stub.exe", "--manifest", "m.txt", "--out", target],
                         ["add", target, "a.txt"], ["remove", target, "a.txt"]):
                r = subprocess.run([QORPACK, *args], cwd=self.dir, capture_output=True,
                                   timeout=30)
                self.assertEqual(r.returncode, 1, args)
                self.assertIn("not a regular file", r.stderr.decode(), args)
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path("fifo")).st_mode))
        self.assertTrue(stat.S_ISCHR(os.stat(self.path("null")).st_mode))
        self.assertEqual(self.leftovers(), [])

    # ---- a target appears only complete ------------------------------------
    # Each waits for one call-site change in its command (see the test); a
    # pass then shows as "unexpected success": drop the decorator.
    def kill_paused_and_check(self, args, target):
        p = start_paused("output", args, cwd=self.dir)
        self.assertFalse(os.path.exists(self.path(target)), "a target before it is complete")
        p.kill()
        p.communicate(timeout=60)
        # After SIGKILL only the temporary file beside the target may remain.
        left = os.listdir(self.dir)
        self.assertNotIn(target, left)
        self.assertEqual(len([n for n in left if n.startswith(target + ".qorpack-")]), 1, left)

    def test_build_target_appears_only_complete(self):
        make_stub(self.path("stub.exe"))
        write(self.path("a.txt"), b"a")
        write(self.path("m.txt"), b"a.txt => [TROVIX]\\a.txt\n")
        self.kill_paused_and_check(["build", "--stub", "stub.exe", "--manifest", "m.txt",
                                    "--out", "s.exe"], "s.exe")

    def test_add_target_appears_only_complete(self):
        write(self.path("a.txt"), b"a")
        self.kill_paused_and_check(["add", "new.qzf", "a.txt"], "new.qzf")

    def test_an_empty_file_is_not_an_archive(self):
        write(self.path("empty.exe"), b"")
        for cmd in ("list", "verify", "extract"):
            r = run(cmd, self.path("empty.exe"), check=False, cwd=self.dir)
            self.assertEqual(r.returncode, 1, cmd)
            self.assertIn("is empty", r.stderr.decode(), cmd)

    # ---- small things ----------------------------------------------------
    def test_output_that_cannot_be_written_is_a_failure(self):
        write(self.path("a.qzf"), hand_archive([(b"a.txt", b"a")]))
        for args in (["list", self.path("a.qzf")], ["--version"], ["help"], ["help", "list"]):
            with self.subTest(args), open("/dev/full", "w") as full:
                r = subprocess.run([QORPACK, *args], stdout=full, stderr=subprocess.PIPE,
                                   timeout=60)
                self.assertEqual(r.returncode, 1)
                self.assertIn("cannot write the output", r.stderr.decode())

    def test_manifest_line_with_a_zero_byte_is_refused(self):
        make_stub(self.path("stub.exe"))
        write(self.path("a.txt"), b"a")
        write(self.path("m.txt"), b"a.txt\0ignored => [TROVIX]\\a.txt\n")
        r = run("build", "--stub", "stub.exe", "--manifest", "m.txt", "--out", "s.exe",
                check=False, cwd=self.dir)
        self.assertEqual(r.returncode, 1)
        self.assertIn("m.txt:1: contains a zero byte", r.stderr.decode())
        self.assertFalse(os.path.exists(self.path("s.exe")))

    # ---- long names -------------------------------------------------------
    def test_targets_with_names_up_to_255_bytes(self):
        make_stub(self.path("stub.exe"))
        write(self.path("a.txt"), b"a")
        write(self.path("m.txt"), b"a.txt => [TROVIX]\\a.txt\n")
        name = "s" * 251 + ".exe"
        run("build", "--stub", "stub.exe", "--manifest", "m.txt", "--out", name, "--jobs", "1",
            cwd=self.dir)
        run("stamp", name, "--slot", "TVIID_APP_NAME=Lumen", cwd=self.dir)
        self.assertEqual(read_archive(self.path(name))[1][0][0], "[TROVIX]\\a.txt")
        self.assertEqual(self.leftovers(), [])

    # ---- rewriting updates the file the user has ------------------------
    def test_rewriting_keeps_owner_mode_links_and_says_when_a_link_splits(self):
        write(self.path("a.txt"), b"a")
        write(self.path("b.txt"), b"b")
        write(self.path("c.txt"), b"c")
        run("add", "real.qzf", "a.txt", cwd=self.dir)
        os.chown(self.path("real.qzf"), 65534, 65534)
        os.chmod(self.path("real.qzf"), 0o604)
        os.symlink("real.qzf", self.path("link.qzf"))
        run("add", "link.qzf", "b.txt", cwd=self.dir)
        self.assertTrue(os.path.islink(self.path("link.qzf")))
        st = os.stat(self.path("real.qzf"))
        self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777), (65534, 65534, 0o604))
        self.assertEqual(sorted(e[0] for e in read_archive(self.path("real.qzf"))[1]),
                         ["a.txt", "b.txt"])
        os.link(self.path("real.qzf"), self.path("hard.qzf"))
        r = run("add", "real.qzf", "c.txt", cwd=self.dir)
        self.assertIn("'real.qzf' had 1 other hard link; they keep the old contents",
                      r.stderr.decode())
        self.assertEqual(self.leftovers(), [])



class SizesAndNames(ScratchCase):
    """Sizes checked in full, whatever gzip's 32-bit length says; names
    matched in any case whichever way they are given."""

    prefix = "qorpack-sizes."

    def test_sizes_that_lie_and_bytes_after_the_last_member(self):
        import gzip
        zeros = gzip.compress(bytes(64 << 20), compresslevel=9, mtime=0)  # about 64 KB
        hello = gzip.compress(b"hello", mtime=0)
        rows = [
            # (what, data, recorded size, verify's complaint, extract fails)
            ("64 MiB recorded as 10", zeros, 10, "more than its recorded 10 bytes", True),
            ("gzip shorter than recorded", hello, 999, "inflates to 5 bytes, not its recorded 999",
             True),
            ("plain data longer", b"stored as is", 3, "more than its recorded 3 bytes", True),
            ("bytes after the last member", hello + b"xyz", 5,
             "3 bytes follow its last gzip member", False),
            ("sound", hello, 5, None, False),
        ]
        for what, data, recorded, complaint, fails in rows:
            with self.subTest(what):
                arc = self.path("a.qzf")
                write(arc, raw_archive([(b"d\\e.bin", data, recorded)]))
                r = run("verify", arc, check=False)
                if complaint is None:
                    self.assertEqual(r.returncode, 0, r.stderr)
                else:
                    self.assertEqual(r.returncode, 1)
                    self.assertIn("entry 1 'd\\e.bin': the data is damaged", r.stderr.decode())
                    self.assertIn(complaint, r.stderr.decode())
                dest = self.path("dest")
                shutil.rmtree(dest, ignore_errors=True)
                # The content never goes past the recorded size on its way out.
                r = run_capped(1 << 20, "extract", arc, "-C", dest)
                self.assertEqual(r.returncode, 1 if fails else 0, r.stderr)
                if fails:
                    self.assertIn("cannot extract 'd\\e.bin'", r.stderr.decode())
                    self.assertEqual(os.listdir(self.path("dest", "d")), [])
                else:
                    self.assertEqual(os.path.getsize(self.path("dest", "d", "e.bin")), recorded)

    def test_a_source_that_grows_while_read_is_recorded_as_read(self):
        import gzip
        make_stub(self.path("stub.exe"))
        rows = [
            # (what, first content; small files are compressed by the workers,
            # large ones streamed by the writer)
            ("small", b"log line\n" * 100),
            ("large", os.urandom(9 << 20)),
        ]
        for what, first in rows:
            with self.subTest(what):
                write(self.path("log.txt"), first)
                write(self.path("m.txt"), b"log.txt => [TROVIX]\\log.txt\n")
                out = self.path("s2.exe")
                p = start_paused("source", ["build", "--stub", "stub.exe", "--manifest", "m.txt",
                                            "--out", out, "--jobs", "2"], cwd=self.dir)
                with open(self.path("log.txt"), "ab") as f:
                    f.write(b"written while the build ran\n" * 50)
                rc, _, err = resume(p)
                self.assertEqual(rc, 0, err)
                whole = slurp(self.path("log.txt"))
                [(_, data, recorded, _, _)] = read_archive(out)[1]
                self.assertEqual(recorded, len(whole))
                self.assertEqual(gzip.decompress(data), whole)
                run("verify", out)
                # The file as it is now, one by one through the engine: the same bytes.
                run("build", "--stub", "stub.exe", "--manifest", "m.txt", "--out", "s1.exe",
                    "--jobs", "1", cwd=self.dir)
                self.assertEqual(slurp(self.path("s1.exe")), slurp(out))

    def test_the_end_of_a_name_matches_in_any_case(self):
        write(self.path("a.qzf"), hand_archive([
            (b"[TROVIX]\\Docs\\ReadMe.TXT", b"readme"),
            (b"[TROVIX]\\bin\\QorDL.exe", b"qordl"),
            (b"[TROVIX]\\old\\Notes.txt", b"old notes"),
            (b"[TROVIX]\\new\\notes.TXT", b"new notes"),
        ]))
        rows = [
            # (NAME, the entry's content or None, a word of the refusal)
            ("readme.txt", b"readme", None),
            ("README.TXT", b"readme", None),
            ("docs\\readme.txt", b"readme", None),
            ("QORDL.EXE", b"qordl", None),
            ("[trovix]\\BIN\\qordl.exe", b"qordl", None),  # the whole name, any case
            ("notes.txt", None, "several end with it"),
            ("NEW\\NOTES.txt", b"new notes", None),
            ("missing.txt", None, "or ends with it"),
        ]
        for name, content, refusal in rows:
            with self.subTest(name):
                dest = self.path("dest")
                shutil.rmtree(dest, ignore_errors=True)
                r = run("extract", self.path("a.qzf"), "-C", dest, name, check=False)
                if content is None:
                    self.assertEqual(r.returncode, 1)
                    self.assertIn(refusal, r.stderr.decode())
                    self.assertFalse(os.path.exists(dest) and os.listdir(dest))
                else:
                    self.assertEqual(r.returncode, 0, r.stderr)
                    got = [slurp(os.path.join(d, f)) for d, _, fs in os.walk(dest) for f in fs]
                    self.assertEqual(got, [content])

    def test_add_refuses_new_names_that_install_to_one_file(self):
        for rel in ("[TROVIX]/\xc4.txt", "[TROVIX]/\xe4.txt", "[TROVIX]/a.exe",
                    "[TROVIX][InstCmd=-r]/a.exe", "[TROVIX]/b.txt"):
            write(self.path("src", rel).encode("latin-1"), b"x")
        rows = [
            # (sources below src, refused)
            (["[TROVIX]/\xc4.txt", "[TROVIX]/\xe4.txt"], True),  # Windows-1252 case
            (["[TROVIX]/a.exe", "[TROVIX][InstCmd=-r]/a.exe"], True),  # tags removed
            (["[TROVIX]/a.exe", "[TROVIX]/b.txt"], False),
        ]
        for sources, refused in rows:
            with self.subTest(sources):
                arc = self.path("new.qzf")
                if os.path.exists(arc):
                    os.remove(arc)
                r = subprocess.run([QORPACK.encode(), b"add", arc.encode(), b"-C",
                                    self.path("src").encode()] +
                                   [s.encode("latin-1") for s in sources], capture_output=True)
                if refused:
                    self.assertEqual(r.returncode, 1)
                    self.assertIn(b"install to the same place", r.stderr)
                    self.assertFalse(os.path.exists(arc))
                else:
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(len(read_archive(arc)[1]), 2)

    def test_add_replaces_the_entry_of_exactly_its_name(self):
        write(self.path("new.txt"), b"new")
        rows = [
            # (entries before, the name added, entries after or None: refused)
            ([(b"D.txt", b"upper"), (b"d.txt", b"lower")], "d.txt",
             [("D.txt", b"upper"), ("d.txt", b"new")]),
            ([(b"D.txt", b"upper"), (b"d.txt", b"lower")], "D.txt",
             [("d.txt", b"lower"), ("D.txt", b"new")]),
            ([(b"D.txt", b"upper"), (b"d.txt", b"lower")], "D.TXT", None),
            ([(b"A.txt", b"only")], "a.txt", [("a.txt", b"new")]),
            ([(b"A.txt", b"only")], "b.txt", [("A.txt", b"only"), ("b.txt", b"new")]),
        ]
        for before, name, after in rows:
            with self.subTest(name=name, before=before):
                write(self.path("a.qzf"), hand_archive(before))
                old = slurp(self.path("a.qzf"))
                r = run("add", "a.qzf", "new.txt", "--as", name, cwd=self.dir, check=False)
                if after is None:
                    self.assertEqual(r.returncode, 1)
                    self.assertIn("only by case", r.stderr.decode())
                    self.assertEqual(slurp(self.path("a.qzf")), old)
                    continue
                self.assertEqual(r.returncode, 0, r.stderr)
                import gzip
                self.assertEqual([(e[0], gzip.decompress(e[1]))
                                  for e in read_archive(self.path("a.qzf"))[1]], after)


if __name__ == "__main__":
    unittest.main(verbosity=2)
