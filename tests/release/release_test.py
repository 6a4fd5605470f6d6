#!/usr/bin/python3
"""The release zip with and without a signature: tools/release.sh signs the
exe it is given with a throwaway certificate, the signature verifies against
that certificate, and removing it gives back the exe byte for byte; a wrong
password or a broken PFX stops the release before any zip is written.

    release_test.py EXE      (EXE: a QorUpgrade.exe of the Windows build)
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
RELEASE = os.path.join(HERE, "..", "..", "tools", "release.sh")
PASSWORD = "throwaway pass"
EXE = None


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        cls.cert = os.path.join(d, "cert.pem")
        cls.pfx = os.path.join(d, "signer.pfx")
        cls.password_file = os.path.join(d, "password")
        with open(cls.password_file, "w") as f:
            f.write(PASSWORD + "\n")
        key = os.path.join(d, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                        cls.cert, "-days", "2", "-subj", "/CN=QorUpgrade throwaway signer",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cls.cert, "-out", cls.pfx,
                        "-passout", "file:" + cls.password_file], check=True, capture_output=True)
        with open(EXE, "rb") as f:
            cls.built = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def release(self, out, *args, **env):
        environment = {k: v for k, v in os.environ.items() if not k.startswith("QOR_SIGN_")}
        environment.update(env)
        return run([RELEASE, "--exe", EXE, "--out", out, *args], env=environment)

    def shipped(self, out):
        zips = [name for name in os.listdir(out) if name.endswith(".zip")]
        self.assertEqual(len(zips), 1, zips)
        with zipfile.ZipFile(os.path.join(out, zips[0])) as archive:
            exe_entry = next(n for n in archive.namelist() if n.endswith("/QorUpgrade.exe"))
            sums_entry = next(n for n in archive.namelist() if n.endswith("/SHA256SUMS"))
            return archive.read(exe_entry), archive.read(sums_entry).decode()

    def test_signed_exe_verifies_and_is_the_build_once_unsigned(self):
        with tempfile.TemporaryDirectory() as out:
            result = self.release(out, "--sign", self.pfx, QOR_SIGN_PASSWORD_FILE=self.password_file)
            self.assertEqual(result.returncode, 0, result.stderr)
            signed, sums = self.shipped(out)
            self.assertNotEqual(signed, self.built)
            self.assertIn(hashlib.sha256(signed).hexdigest() + "  QorUpgrade.exe", sums)
            signed_path, unsigned_path = os.path.join(out, "signed.exe"), os.path.join(out, "unsigned.exe")
            with open(signed_path, "wb") as f:
                f.write(signed)
            verify = run(["osslsigncode", "verify", "-in", signed_path, "-CAfile", self.cert])
            self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
            self.assertIn("Signature verification: ok", verify.stdout)
            self.assertRegex(verify.stdout, r"Message digest algorithm\s*:\s*SHA256")
            self.assertIn("CN=QorUpgrade throwaway signer", verify.stdout)
            removed = run(["osslsigncode", "remove-signature", "-in", signed_path, "-out", unsigned_path])
            self.assertEqual(removed.returncode, 0, removed.stderr)
            with open(unsigned_path, "rb") as f:
                self.assertTrue(f.read() == self.built, "the exe without its signature is not the build")

    def test_password_from_the_environment_signs_too(self):
        with tempfile.TemporaryDirectory() as out:
            result = self.release(out, "--sign", self.pfx, QOR_SIGN_PASSWORD=PASSWORD)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertNotEqual(self.shipped(out)[0], self.built)

    def test_without_sign_the_build_ships_unchanged(self):
        with tempfile.TemporaryDirectory() as out:
            result = self.release(out)
            self.assertEqual(result.returncode, 0, result.stderr)
            exe, sums = self.shipped(out)
            self.assertTrue(exe == self.built, "the unsigned release changed the exe")
            self.assertIn(hashlib.sha256(self.built).hexdigest() + "  QorUpgrade.exe", sums)

    def test_wrong_password_or_broken_pfx_stops_without_a_zip(self):
        broken = os.path.join(self.tmp.name, "broken.pfx")
        with open(self.pfx, "rb") as source, open(broken, "wb") as f:
            f.write(source.read()[:700])
        cases = [(self.pfx, {"QOR_SIGN_PASSWORD": "not it"}, "the password does not open"),
                 (broken, {"QOR_SIGN_PASSWORD_FILE": self.password_file}, "is not a PKCS#12 (PFX) file"),
                 (self.pfx, {}, "needs the PFX password")]
        for pfx, env, words in cases:
            with self.subTest(words=words), tempfile.TemporaryDirectory() as out:
                result = self.release(out, "--sign", pfx, **env)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(words, result.stderr)
                self.assertIn("no zip written", result.stderr)
                self.assertEqual(os.listdir(out), [])


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
