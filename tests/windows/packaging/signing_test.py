"""The signatures of the DLLs and packages that the build signed with the
tests' own code-signing certificate: osslsigncode verifies each file against
the tests' root, Wine's WinVerifyTrust accepts the DLLs once that root is
trusted in the prefix, the version resource carries what Windows shows beside
a signature, and a file changed after signing fails both checks. The build's
signing step with a time-stamp authority (one of the test's own on loopback,
answering with `openssl ts -reply`) gives a signature with an RFC 3161 time stamp.

    signing_test.py --packages DIR --root PEM --check signature_check.exe --trust-ca trust_ca.exe
                    --unsigned DLL --pfx PFX --password FILE --cmake CMAKE --sign-script sign_file.cmake
"""
import argparse
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

WINE64 = "/usr/lib/wine/wine64"
ARGS = None
DLLS = ["x64/KT_EMailer.dll", "x86/KT_EMailer.dll"]
PACKAGES = ["KT_EMailer-x64.msi", "KT_EMailer-x86.msi"]


def run(command):
    return subprocess.run(command, capture_output=True, text=True, errors="replace")


def verified(path):
    """osslsigncode's verdict against the tests' root: (passed, what it said)."""
    done = run(["osslsigncode", "verify", "-CAfile", ARGS.root, "-in", path])
    return done.returncode == 0 and "Signature verification: ok" in done.stdout, done.stdout + done.stderr


def windows_check(path):
    """WinVerifyTrust's code and the version fields, as signature_check prints them."""
    done = run([WINE64, ARGS.check, "Z:" + path.replace("/", "\\")])
    lines = done.stdout.replace("\r", "").splitlines()
    if not lines or not lines[0].startswith("trust "):
        raise AssertionError("signature_check gave no verdict: %r %r" % (done.stdout, done.stderr[-500:]))
    return int(lines[0].split()[1], 16), dict(line.split("=", 1) for line in lines[1:])


def changed_copy(path, folder):
    """A copy of the file with its content changed: a byte of a DLL's code, a package's product name."""
    copy = os.path.join(folder, os.path.basename(path))
    shutil.copyfile(path, copy)
    if copy.endswith(".msi"):
        subprocess.run(["msibuild", copy, "-q", "UPDATE Property SET Value='Changed' WHERE Property='ProductName'"],
                       check=True)
        return copy
    with open(copy, "r+b") as f:
        f.seek(os.path.getsize(copy) // 3)  # in the code, far from the signature at the end
        byte = f.read(1)[0]
        f.seek(-1, os.SEEK_CUR)
        f.write(bytes([byte ^ 0xFF]))
    return copy


class TimeStampAuthority(http.server.ThreadingHTTPServer):
    """An RFC 3161 time-stamp authority on loopback, with a certificate of its own (tsa.pem in `folder`)."""

    def __init__(self, folder):
        self.certificate, key, config = (os.path.join(folder, name) for name in ("tsa.pem", "tsa.key", "tsa.cnf"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                        self.certificate, "-days", "30", "-subj", "/CN=KT_EMailer Test Time Stamps",
                        "-addext", "extendedKeyUsage=critical,timeStamping"], check=True, capture_output=True)
        with open(config, "w") as f:
            f.write("[tsa]\ndefault_tsa = test\n[test]\nserial = %s\nsigner_cert = %s\nsigner_key = %s\n"
                    "signer_digest = sha256\ndefault_policy = 1.3.6.1.4.1.55555.1\ndigests = sha256\n"
                    "ess_cert_id_alg = sha256\n" % (os.path.join(folder, "serial"), self.certificate, key))
        with open(os.path.join(folder, "serial"), "w") as f:
            f.write("01\n")

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
                                        "-out", "/dev/stdout"], input=query, capture_output=True, check=True).stdout
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def url(self):
        return "http://127.0.0.1:%d/" % self.server_address[1]


class SigningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([WINE64, ARGS.trust_ca, "Z:" + ARGS.root.replace("/", "\\")], check=True)

    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)

    def test_every_file_carries_a_sha256_signature_that_chains_to_the_root(self):
        for name in DLLS + PACKAGES:
            with self.subTest(name):
                passed, said = verified(os.path.join(ARGS.packages, name))
                self.assertTrue(passed, said)
                self.assertRegex(said, r"Message digest algorithm\s*:\s*SHA256")

    def test_windows_trusts_the_dlls_and_shows_who_made_them(self):
        for name in DLLS:
            with self.subTest(name):
                code, fields = windows_check(os.path.join(ARGS.packages, name))
                self.assertEqual(code, 0, "WinVerifyTrust: 0x%08X" % code)
                self.assertEqual((fields.get("CompanyName"), fields.get("ProductName")), ("Veltrano", "Ardwyn E-Mailer"))
                self.assertTrue(fields.get("FileDescription"))

    def test_a_file_changed_after_signing_fails_both_checks(self):
        for name in DLLS + PACKAGES:
            with self.subTest(name):
                copy = changed_copy(os.path.join(ARGS.packages, name), self.folder)
                passed, said = verified(copy)
                self.assertFalse(passed, said)
                self.assertIn("MISMATCH", said)  # the signature is there, the content is not what it signed
                if name in DLLS:
                    self.assertNotEqual(windows_check(copy)[0], 0)

    def test_with_a_time_stamp_authority_the_signature_carries_its_time_stamp(self):
        authority = TimeStampAuthority(self.folder)
        self.addCleanup(authority.server_close)
        self.addCleanup(authority.shutdown)
        signed = os.path.join(self.folder, "KT_EMailer.dll")
        shutil.copyfile(ARGS.unsigned, signed)
        subprocess.run([ARGS.cmake, "-DTOOL=osslsigncode", "-DPFX=" + ARGS.pfx, "-DPASSWORD_FILE=" + ARGS.password,
                        "-DTIMESTAMP_URL=" + authority.url(), "-DDESCRIPTION=Ardwyn E-Mailer", "-DFILE=" + signed,
                        "-P", ARGS.sign_script], check=True, capture_output=True)
        done = run(["osslsigncode", "verify", "-CAfile", ARGS.root, "-TSA-CAfile", authority.certificate, "-in", signed])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", done.stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--packages", "--root", "--check", "--trust-ca", "--unsigned", "--pfx", "--password", "--cmake",
                   "--sign-script"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
