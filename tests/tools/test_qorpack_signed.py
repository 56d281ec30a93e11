"""Signed setups and the native qorpack: a setup signed with osslsigncode (a
throw-away certificate made with openssl) still lists and extracts as before,
its signature covers the payload, and stamp, add and remove refuse it unless
--unsign takes the signature off first. Run by ctest with QOR_BIN set."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from pe_image import pe32_headers
from test_qorpack_cli import MARKERS, make_payload, run, slot_block, slurp

OPENSSL = shutil.which("openssl")
OSSLSIGNCODE = shutil.which("osslsigncode")


def pe_stub(path):
    """A minimal PE32 image, enough for osslsigncode, carrying the marker texts
    and the slot block after its headers as a stand-in stub does."""
    consts = b"".join(m.encode() + b"\0" for m, _ in MARKERS)
    with open(path, "wb") as f:
        f.write(pe32_headers() + consts + slot_block() + b"\xcc" * 999)


def checksum_at(data):
    return struct.unpack_from("<I", data, 0x3C)[0] + 24 + 64


class SignedSetup(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Signing is what this file tests: missing tools are a failure, not a skip.
        assert OPENSSL and OSSLSIGNCODE, "openssl and osslsigncode are needed (scripts/deps.sh)"
        cls.keys = tempfile.mkdtemp(prefix="qorpack-keys.")
        cls.cert = os.path.join(cls.keys, "cert.pem")
        cls.key = os.path.join(cls.keys, "key.pem")
        subprocess.run([OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Throwaway Test Publisher", "-keyout", cls.key,
                        "-out", cls.cert], check=True, capture_output=True, timeout=120)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorpack-signed.")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def sign(self, unsigned, signed):
        subprocess.run([OSSLSIGNCODE, "sign", "-certs", self.cert, "-key", self.key,
                        "-in", unsigned, "-out", signed], check=True, capture_output=True,
                       timeout=120)

    def verifies(self, path):
        return subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", self.cert, path],
                              capture_output=True, timeout=120).returncode == 0

    def build(self, name):
        """A setup from the PE stub with the payload; its unsigned and signed forms."""
        pe_stub(self.path("stub.exe"))
        make_payload(self.path("p"))
        files = sorted(os.path.relpath(os.path.join(r, f), self.path())
                       for r, _, fs in os.walk(self.path("p")) for f in fs)
        with open(self.path("m.txt"), "w") as f:
            for rel in files:
                f.write("%s => [TROVIX]\\%s\n" % (rel, rel[2:].replace("/", "\\")))
        setup = self.path(name + ".exe")
        # The payload is random: pad it until the setup does not end on an
        # 8-byte boundary, so signing has to insert alignment bytes.
        for pad in range(1, 32):
            run("build", "--stub", self.path("stub.exe"), "--manifest", self.path("m.txt"),
                "--out", setup, "--slot", "TVIID_INST_NAME=Trovix")
            if os.path.getsize(setup) % 8:
                break
            with open(self.path("p", "pad.bin"), "wb") as f:
                f.write(os.urandom(pad))
            if pad == 1:
                with open(self.path("m.txt"), "a") as f:
                    f.write("p/pad.bin => [TROVIX]\\pad.bin\n")
        signed = self.path(name + "-signed.exe")
        self.sign(setup, signed)
        return setup, signed

    def test_signed_setup_reads_as_the_unsigned_one(self):
        setup, signed = self.build("setup")
        self.assertTrue(self.verifies(signed))
        # Signing pads the file to 8 bytes before the table: that case is the one tested.
        self.assertNotEqual(len(slurp(setup)) % 8, 0)
        self.assertNotEqual(slurp(signed)[-4:], slurp(setup)[-4:])
        listing = run("list", setup).stdout
        self.assertEqual(run("list", signed).stdout, listing)
        # The entry table qorpack reads by index stops before the certificate table too.
        self.assertEqual(run("list", "--layout", signed).stdout,
                         run("list", "--layout", setup).stdout)
        run("verify", signed)
        self.assertIn(b"signed: certificate table at offset", run("info", signed).stdout)
        self.assertIn(b"not signed", run("info", setup).stdout)
        run("extract", setup, "-C", self.path("a"))
        run("extract", signed, "-C", self.path("b"))
        for d, _, fs in os.walk(self.path("a")):
            for f in fs:
                mine = os.path.join(d, f)
                theirs = os.path.join(self.path("b"), os.path.relpath(mine, self.path("a")))
                self.assertEqual(slurp(mine), slurp(theirs), mine)
        # The signature covers the payload: one flipped byte inside it shows.
        data = bytearray(slurp(signed))
        data[len(slurp(setup)) - 1000] ^= 0x01
        with open(self.path("tampered.exe"), "wb") as f:
            f.write(data)
        self.assertFalse(self.verifies(self.path("tampered.exe")))

    def test_changes_refused_unless_unsigned_first(self):
        setup, signed = self.build("setup")
        name = "[TROVIX]\\Lumen.dat"
        changes = [
            ("stamp", ["--slot", "TVIID_APP_NAME=Game"]),
            ("add", [self.path("m.txt"), "--as", "notes.txt"]),
            ("remove", [name]),
        ]
        original = slurp(signed)
        for command, args in changes:
            target = self.path(command + ".exe")
            shutil.copy(signed, target)
            r = run(command, target, *args, check=False)
            self.assertNotEqual(r.returncode, 0, command)
            self.assertIn(b"is signed", r.stderr, command)
            self.assertEqual(slurp(target), original, command)
            # With --unsign: the same change as on the setup before signing,
            # byte for byte but for the checksum signing set.
            run(command, target, "--unsign", *args)
            expected = self.path(command + "-unsigned.exe")
            shutil.copy(setup, expected)
            run(command, expected, *args)
            mine, theirs = slurp(target), slurp(expected)
            at = checksum_at(mine)
            self.assertEqual(mine[:at] + mine[at + 4:], theirs[:at] + theirs[at + 4:], command)
            self.assertIn(b"not signed", run("info", target).stdout, command)


if __name__ == "__main__":
    unittest.main(verbosity=2)
