"""A setup signed with Authenticode (osslsigncode and a throw-away openssl
certificate) installs silently under Wine exactly as the same setup unsigned:
the same files, uninstall log, registry entries and tag file."""

import os
import shutil
import subprocess
import unittest

from qorwine import WinePrefix, signed32
from installkit import (PRODUCT, PRODUCT_FILES, PRODUCT_LOG, SCOUT_TAG, SETUP_KEY, UNINSTALL_KEY,
                        SetupBuilder, add_product_entries, read_bytes, require_built,
                        system_reg_values, wait_records, workdir)

require_built()
OPENSSL = shutil.which("openssl")
OSSLSIGNCODE = shutil.which("osslsigncode")


class SignedInstall(unittest.TestCase):
    def sign(self, d, setup):
        # Signing is what this file tests: missing tools are a failure, not a skip.
        self.assertTrue(OPENSSL and OSSLSIGNCODE, "openssl and osslsigncode (scripts/deps.sh)")
        cert, key = os.path.join(d, "cert.pem"), os.path.join(d, "key.pem")
        subprocess.run([OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Throwaway Test Publisher", "-keyout", key, "-out", cert],
                       check=True, capture_output=True, timeout=120)
        signed = os.path.join(d, "TrovixSetup-signed.exe")
        subprocess.run([OSSLSIGNCODE, "sign", "-certs", cert, "-key", key, "-in", setup,
                        "-out", signed], check=True, capture_output=True, timeout=120)
        subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", cert, signed], check=True,
                       capture_output=True, timeout=120)
        return signed

    def install(self, setup):
        """Runs setup -silent in a fresh prefix; what the install left."""
        with WinePrefix() as p:
            r = p.run(setup, "-silent", timeout=120)
            self.assertEqual(signed32(r.returncode), 0, r.stderr[-2000:])
            records = wait_records(p, PRODUCT, ["QorDL", "QorRcv"])
            return {
                "files": {n: read_bytes(p, PRODUCT + "\\" + n) for n in PRODUCT_FILES},
                "records": records,
                "log": read_bytes(p, PRODUCT + "\\TrovixInstall.inf"),
                "tag": read_bytes(p, SCOUT_TAG),
                "setup key": p.reg_query(SETUP_KEY + "\\Trovix"),
                "uninstall key": p.reg_query(UNINSTALL_KEY + "\\Trovix"),
                "receivers": system_reg_values(
                    p, "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv"),
            }

    def test_signed_setup_installs_as_the_unsigned_one(self):
        d = workdir(self)
        setup = add_product_entries(SetupBuilder(d)).build("TrovixSetup.exe")
        signed = self.sign(d, setup)
        unsigned_result = self.install(setup)
        self.assertEqual(unsigned_result["log"], PRODUCT_LOG)
        signed_result = self.install(signed)
        for what, value in unsigned_result.items():
            self.assertEqual(signed_result[what], value, what)


if __name__ == "__main__":
    unittest.main(verbosity=2)
