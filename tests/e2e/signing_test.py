"""The package step signs the program when it is given a PKCS#12 file: with a
throwaway code-signing certificate made here, the packed program carries an
Authenticode signature that verifies against that certificate (and against
no other), the signature is all that differs from the program as built, and
SHA256SUMS names the signed program. Leaves the signed program at
WORK/remove_filter.exe for the image checks and an end-to-end run.

    signing_test.py --cpack CPACK --config CPackConfig.cmake --exe remove_filter.exe
                    --version X.Y.Z --osslsigncode OSSLSIGNCODE --openssl OPENSSL
                    --work DIR
"""

import argparse
import hashlib
import os
import shutil
import sys
import unittest
import zipfile

sys.dont_write_bytecode = True  # no cache files in the source tree
from commands import read, run  # noqa: E402

ARGS = None

CERTIFICATE_CONFIG = """\
[req]
distinguished_name = name
prompt = no
x509_extensions = code_signing
[name]
CN = {name}
[code_signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, codeSigning
subjectKeyIdentifier = hash
"""
PASSWORD = "throwaway password"


def make_certificate(directory, name):
    """A self-signed code-signing certificate: (certificate.pem, key.pem)."""
    config = os.path.join(directory, name + ".cnf")
    with open(config, "w") as f:
        f.write(CERTIFICATE_CONFIG.format(name=name))
    certificate, key = (os.path.join(directory, name + suffix) for suffix in (".pem", ".key"))
    run(ARGS.openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-config", config, "-keyout", key, "-out", certificate)
    return certificate, key


class SignedPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        os.makedirs(ARGS.work)
        cls.certificate, key = make_certificate(ARGS.work, "signer")
        cls.other_certificate, _ = make_certificate(ARGS.work, "other")
        password = os.path.join(ARGS.work, "password.txt")
        with open(password, "w") as f:
            f.write(PASSWORD + "\n")
        pkcs12 = os.path.join(ARGS.work, "signer.p12")
        run(ARGS.openssl, "pkcs12", "-export", "-inkey", key, "-in", cls.certificate,
                "-out", pkcs12, "-passout", "pass:" + PASSWORD)

        cls.package = os.path.join(ARGS.work, "package")
        run(ARGS.cpack, "--config", ARGS.config, "-B", cls.package,
                "-D", "CPACK_RF_SIGN_PKCS12=" + pkcs12,
                "-D", "CPACK_RF_SIGN_PASSWORD_FILE=" + password)
        cls.zip_name = f"remove_filter-{ARGS.version}-win32.zip"
        cls.member = f"remove_filter-{ARGS.version}-win32/remove_filter.exe"
        with zipfile.ZipFile(os.path.join(cls.package, cls.zip_name)) as package:
            cls.signed = package.read(cls.member)
        cls.signed_path = os.path.join(ARGS.work, "remove_filter.exe")
        with open(cls.signed_path, "wb") as f:
            f.write(cls.signed)

    def verify(self, certificate):
        return run(ARGS.osslsigncode, "verify", "-CAfile", certificate, "-in", self.signed_path,
                   check=False)

    def test_signature_verifies_against_the_signing_certificate(self):
        result = self.verify(self.certificate)
        self.assertEqual(0, result.returncode, result.stdout + result.stderr)
        self.assertIn("Signature verification: ok", result.stdout)

    def test_signature_does_not_verify_against_another_certificate(self):
        self.assertNotEqual(0, self.verify(self.other_certificate).returncode)

    def test_signature_is_all_that_differs_from_the_program_as_built(self):
        unsigned = os.path.join(ARGS.work, "unsigned.exe")
        run(ARGS.osslsigncode, "remove-signature", "-in", self.signed_path, "-out", unsigned)
        self.assertEqual(read(ARGS.exe), read(unsigned))
        self.assertNotEqual(read(ARGS.exe), self.signed)

    def test_checksums_name_the_signed_program(self):
        sums = read(os.path.join(self.package, "SHA256SUMS")).decode("ascii").splitlines()
        zip_hash = hashlib.sha256(read(os.path.join(self.package, self.zip_name))).hexdigest()
        self.assertEqual([f"{zip_hash}  {self.zip_name}",
                          f"{hashlib.sha256(self.signed).hexdigest()}  {self.member}"], sums)

    def test_failed_signing_fails_the_package_step_and_packs_nothing(self):
        wrong = os.path.join(ARGS.work, "wrong-password.txt")
        with open(wrong, "w") as f:
            f.write("not " + PASSWORD + "\n")
        package = os.path.join(ARGS.work, "wrong")
        result = run(ARGS.cpack, "--config", ARGS.config, "-B", package,
                     "-D", "CPACK_RF_SIGN_PKCS12=" + os.path.join(ARGS.work, "signer.p12"),
                     "-D", "CPACK_RF_SIGN_PASSWORD_FILE=" + wrong, check=False)
        self.assertNotEqual(0, result.returncode, result.stdout)
        self.assertFalse(os.path.exists(os.path.join(package, self.zip_name)))
        self.assertFalse(os.path.exists(os.path.join(package, "SHA256SUMS")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--cpack", "--config", "--exe", "--version", "--osslsigncode", "--openssl",
                   "--work"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
