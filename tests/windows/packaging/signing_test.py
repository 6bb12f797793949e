"""The signatures that the build made with the tests' own code-signing
certificate: osslsigncode and Wine's WinVerifyTrust (the tests' root trusted in
the prefix) accept them, the version resource carries what Windows shows beside
a signature, a file changed after signing fails both; with a time-stamp
authority of the test's own (`openssl ts -reply`) the signature carries its time stamp.

    signing_test.py --packages DIR --root PEM --check signature_check.exe --trust-ca trust_ca.exe
                    --unsigned DLL --pfx PFX --password FILE --cmake CMAKE --sign-script sign_file.cmake
"""
import http.server
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from mail_harness import main, options, run, windows_path  # noqa: E402

ARGS = options("--packages", "--root", "--check", "--trust-ca", "--unsigned", "--pfx", "--password", "--cmake",
               "--sign-script")
WINE64 = "/usr/lib/wine/wine64"
DLLS = ["x64/KT_EMailer.dll", "x86/KT_EMailer.dll"]
PACKAGES = ["KT_EMailer-x64.msi", "KT_EMailer-x86.msi"]
PRODUCT = "Ardwyn E-Mailer"


def verified(path, *options):
    """osslsigncode's verdict against the tests' root: (passed, what it said)."""
    done = run("osslsigncode", "verify", "-CAfile", ARGS.root, *options, "-in", path)
    return done.returncode == 0 and "Signature verification: ok" in done.stdout, done.stdout + done.stderr


def windows_check(path):
    """WinVerifyTrust's code and the version fields, as signature_check prints them."""
    done = run(WINE64, ARGS.check, windows_path(path))
    lines = done.stdout.replace("\r", "").splitlines()
    if not lines or not lines[0].startswith("trust "):
        raise AssertionError("signature_check gave no verdict: %r %r" % (done.stdout, done.stderr[-500:]))
    return int(lines[0].split()[1], 16), dict(line.split("=", 1) for line in lines[1:])


def changed_copy(path, folder):
    """A copy of the file with its content changed: a package's product name, a byte of a DLL's code."""
    copy = shutil.copy(path, folder)
    if copy.endswith(".msi"):
        run("msibuild", copy, "-q", "UPDATE Property SET Value='Changed' WHERE Property='ProductName'", check=True)
    else:  # far from the signature at the end
        data = bytearray(pathlib.Path(copy).read_bytes())
        data[len(data) // 3] ^= 0xFF
        pathlib.Path(copy).write_bytes(data)
    return copy


def time_stamp_authority(test, folder):
    """An RFC 3161 time-stamp authority on loopback for the test, with a certificate of its own; (URL, certificate)."""
    certificate, key, config, serial = (os.path.join(folder, "tsa." + name) for name in ("pem", "key", "cnf", "serial"))
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate, "-days", "30",
        "-subj", "/CN=KT_EMailer Test Time Stamps", "-addext", "extendedKeyUsage=critical,timeStamping", check=True)
    pathlib.Path(config).write_text("[tsa]\ndefault_tsa = test\n[test]\nserial = %s\nsigner_cert = %s\n"
                                    "signer_key = %s\nsigner_digest = sha256\ndefault_policy = 1.3.6.1.4.1.55555.1\n"
                                    "digests = sha256\ness_cert_id_alg = sha256\n" % (serial, certificate, key))
    pathlib.Path(serial).write_text("01\n")

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

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    test.addCleanup(server.server_close)
    test.addCleanup(server.shutdown)
    return "http://127.0.0.1:%d/" % server.server_address[1], certificate


class SigningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        run(WINE64, ARGS.trust_ca, windows_path(ARGS.root), check=True)

    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory())

    def test_every_file_carries_a_sha256_signature_that_a_change_breaks_and_windows_trusts_the_dlls(self):
        for name in DLLS + PACKAGES:
            with self.subTest(name):
                path = os.path.join(ARGS.packages, name)
                copy = changed_copy(path, self.folder)
                passed, said = verified(path)
                self.assertTrue(passed, said)
                self.assertRegex(said, r"Message digest algorithm\s*:\s*SHA256")
                passed, said = verified(copy)
                self.assertFalse(passed, said)
                self.assertIn("MISMATCH", said)  # the signature is there, the content is not what it signed
                if name in DLLS:  # and the version fields that Windows shows beside the signature
                    code, fields = windows_check(path)
                    self.assertEqual(code, 0, "WinVerifyTrust: 0x%08X" % code)
                    self.assertEqual((fields.get("CompanyName"), fields.get("ProductName")), ("Veltrano", PRODUCT))
                    self.assertTrue(fields.get("FileDescription"))
                    self.assertNotEqual(windows_check(copy)[0], 0)

    def test_with_a_time_stamp_authority_the_signature_carries_its_time_stamp(self):
        url, certificate = time_stamp_authority(self, self.folder)
        signed = shutil.copy(ARGS.unsigned, self.folder)
        run(ARGS.cmake, "-DTOOL=osslsigncode", "-DPFX=" + ARGS.pfx, "-DPASSWORD_FILE=" + ARGS.password,
            "-DTIMESTAMP_URL=" + url, "-DDESCRIPTION=" + PRODUCT,
            "-DFILE=" + signed, "-P", ARGS.sign_script, check=True)
        passed, said = verified(signed, "-TSA-CAfile", certificate)
        self.assertTrue(passed, said)
        self.assertIn("Timestamp Server Signature verification: ok", said)


if __name__ == "__main__":
    main()
