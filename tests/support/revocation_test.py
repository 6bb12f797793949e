#!/usr/bin/python3
"""Revoked server certificates, against an authority of the test's own that
the Wine prefix trusts for the run: its server certificates name a CRL
distribution point or an OCSP responder on loopback (an HTTP server that
serves `openssl ca -gencrl` output and answers with `openssl ocsp`). A
revoked certificate must be refused before anything is sent, over STARTTLS
and implicit TLS; an answer that cannot be had lets the message go, unless
the server's RequireRevocationCheck setting says otherwise; an issuer that
never answers costs no more than the limit.

    revocation_test.py --client PATH [--wine] --trust-ca PATH --state DIR

Each case has a certificate and an address of its own, so that nothing the
system keeps from one case decides another.
"""

import base64
import calendar
import http.server
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest
import urllib.parse

from aiosmtpd.controller import Controller

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "..", "tools", name) for name in ("smtp_send", "smtp_catcher")]
from certificates import Authority  # noqa: E402
from smtp_client import client_from_args, free_port  # noqa: E402

CLIENT, TRUST_CA, STATE = None, None, None
CERT_E_REVOKED, CERT_E_REVOCATION_FAILURE = 0x800B010C - (1 << 32), 0x800B010E - (1 << 32)
REVOKED = "The certificate of localhost has been revoked by its issuer. Nothing was sent."
LIMIT_S = 5  # the component's limit for the issuers' answers
SETTING_KEY = r"HKCU\Software\Veltrano\Ardwyn\KT_EMailer\Servers\localhost"


def openssl(*args, **kwargs):
    done = subprocess.run(["openssl", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if done.returncode:
        raise RuntimeError("openssl %s: %s" % (args[0], done.stderr.decode(errors="replace")))
    return done.stdout


class RevokingAuthority(Authority):
    """A test authority that keeps the database `openssl ca` and `openssl ocsp` read."""

    def __init__(self, directory):
        super().__init__(directory, "KT_EMailer Revocation Test CA")
        self.index = os.path.join(directory, "index.txt")
        self.config = os.path.join(directory, "ca.cnf")
        open(self.index, "a").close()
        with open(self.index + ".attr", "w") as f:  # every certificate is for localhost
            f.write("unique_subject = no\n")
        with open(self.config, "w") as f:
            f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = %s\ncertificate = %s\nprivate_key = %s\n"
                    "default_md = sha256\ndefault_crl_days = 7\nunique_subject = no\n" % (self.index, self.certificate, self.key))
        self.lock = threading.Lock()

    def issue_for_checks(self, stem, crl=None, ocsp=None):
        """A certificate for localhost naming a CRL distribution point or an OCSP responder; (issued, serial)."""
        lines = (["crlDistributionPoints=URI:" + crl] if crl else []) + \
                (["authorityInfoAccess=OCSP;URI:" + ocsp] if ocsp else [])
        issued = self.issue(stem, extensions=lines)
        serial = openssl("x509", "-in", issued.leaf, "-noout", "-serial").decode().strip().split("=")[1]
        serial = serial if len(serial) % 2 == 0 else "0" + serial
        end = openssl("x509", "-in", issued.leaf, "-noout", "-enddate").decode().strip().split("=")[1]
        expiry = time.strftime("%y%m%d%H%M%SZ", time.gmtime(calendar.timegm(time.strptime(end, "%b %d %H:%M:%S %Y GMT"))))
        with self.lock, open(self.index, "a") as f:
            f.write("V\t%s\t\t%s\tunknown\t/CN=localhost\n" % (expiry, serial))
        return issued, serial

    def revoke(self, serial):
        # No reason code: some systems cannot read an OCSP answer that carries one.
        now = time.strftime("%y%m%d%H%M%SZ", time.gmtime(time.time() - 60))
        with self.lock:
            with open(self.index) as f:
                lines = f.read().splitlines()
            with open(self.index, "w") as f:
                for line in lines:
                    fields = line.split("\t")
                    if fields[3] == serial:
                        fields[0], fields[2] = "R", now
                    f.write("\t".join(fields) + "\n")

    def crl(self):
        with self.lock:
            pem = openssl("ca", "-gencrl", "-config", self.config)
        return openssl("crl", "-outform", "DER", input=pem)

    def serial_asked_about(self, request):
        text = openssl("ocsp", "-reqin", "/dev/stdin", "-req_text", input=request).decode()
        return text.split("Serial Number:", 1)[1].split()[0].upper()

    def ocsp_answer(self, request):
        # The authority signs its answers itself, without its certificates in them:
        # some systems cannot read an answer that carries them.
        with self.lock:
            return openssl("ocsp", "-index", self.index, "-CA", self.certificate, "-rsigner", self.certificate,
                           "-rkey", self.key, "-reqin", "/dev/stdin", "-respout", "/dev/stdout", "-resp_no_certs",
                           "-nmin", "60", input=request)


class IssuerServer(http.server.ThreadingHTTPServer):
    """The authority's CRL under /crl/<case> and its OCSP responder under /ocsp/<case>; keeps every path asked for."""

    daemon_threads = True

    def __init__(self, authority):
        self.authority, self.asked = authority, []

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, kind, body):
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def ocsp(handler, request):
                self.asked.append("ocsp:" + authority.serial_asked_about(request))
                handler.answer("application/ocsp-response", authority.ocsp_answer(request))

            def do_GET(handler):
                if handler.path.startswith("/crl/"):
                    self.asked.append(handler.path)
                    return handler.answer("application/pkix-crl", authority.crl())
                # Else an OCSP request, base64 in the path's last part (some
                # systems put it at the root, not after the responder's path).
                handler.ocsp(base64.b64decode(urllib.parse.unquote(handler.path.rsplit("/", 1)[1])))

            def do_POST(handler):
                handler.ocsp(handler.rfile.read(int(handler.headers.get("Content-Length", 0))))

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.server_address[1], path)

    def asked_for(self, way, path, serial):
        """Whether the CRL at `path` was fetched, or the responder asked about `serial`."""
        return (path if way == "crl" else "ocsp:" + serial) in self.asked


class SilentIssuer:
    """Takes connections and never answers; counts them."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.connections = []
        threading.Thread(target=self.take, daemon=True).start()

    def take(self):
        while True:
            try:
                self.connections.append(self.listener.accept()[0])
            except OSError:
                return

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.listener.getsockname()[1], path)

    def close(self):
        self.listener.close()
        for connection in self.connections:
            connection.close()


class TokenEndpoint(http.server.ThreadingHTTPServer):
    """A provider's token endpoint over HTTPS with the certificate given; keeps every form that arrived whole."""

    daemon_threads = True

    def __init__(self, issued):
        self.forms = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(handler):
                length = int(handler.headers.get("Content-Length", 0))
                form = handler.rfile.read(length)
                if len(form) < length:
                    return
                self.forms.append(form)
                body = json.dumps({"access_token": "a", "token_type": "Bearer", "expires_in": 3600}).encode()
                handler.send_response(200)
                handler.send_header("Content-Type", "application/json")
                handler.send_header("Content-Length", str(len(body)))
                handler.end_headers()
                handler.wfile.write(body)

        super().__init__(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(issued.chain, issued.key)
        self.socket = context.wrap_socket(self.socket, server_side=True)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def ask(self):
        """The client asks for tokens, as a refresh does; (answered, description)."""
        sent, _, description = CLIENT.send([("token_endpoint", "https://localhost:%d/token" % self.server_address[1]),
                                            ("token_timeout_ms", "15000")])
        self.shutdown()
        return sent, description


class Inbox:
    def __init__(self):
        self.envelopes = []

    async def handle_DATA(self, server, session, envelope):
        self.envelopes.append(envelope)
        return "250 OK"


def run_windows(*command):
    subprocess.run((["wine"] if CLIENT.wine else []) + list(command), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def windows_path(path):
    return "Z:" + path.replace("/", "\\") if CLIENT.wine else path


class RevocationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.authority = RevokingAuthority(STATE)
        run_windows(TRUST_CA, windows_path(cls.authority.certificate))
        cls.issuers = IssuerServer(cls.authority)

    @classmethod
    def tearDownClass(cls):
        cls.issuers.shutdown()

    def send_with(self, issued, implicit_tls=False):
        """One message to a server with that certificate; (sent, number, description, seconds, inbox)."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(issued.chain, issued.key)
        inbox, port = Inbox(), free_port()
        tls = {"ssl_context": context} if implicit_tls else {"tls_context": context, "require_starttls": True}
        controller = Controller(inbox, hostname="127.0.0.1", port=port, **tls)
        controller.start()
        try:
            started = time.monotonic()
            sent, number, description = CLIENT.send([
                ("server", ("smtps://localhost:%d" if implicit_tls else "localhost:%d") % port),
                ("from", "me@example.com"), ("to", "ann@example.com"), ("subject", "s"), ("body", "Hello\r\n"),
                ("reply_timeout_ms", "15000")])
            took = time.monotonic() - started
        finally:
            controller.stop()
        return sent, number, description, took, inbox.envelopes

    def strictly(self):
        run_windows("reg", "add", SETTING_KEY, "/v", "RequireRevocationCheck", "/t", "REG_DWORD", "/d", "1", "/f")
        self.addCleanup(run_windows, "reg", "delete", SETTING_KEY, "/f")

    def test_a_certificate_its_issuer_vouches_for_goes_over_crl_and_ocsp(self):
        for way in ("crl", "ocsp"):
            with self.subTest(way):
                path = "/%s/good-%s" % (way, way)
                issued, serial = self.authority.issue_for_checks("good-" + way, **{way: self.issuers.url(path)})
                sent, number, description, _, envelopes = self.send_with(issued)
                self.assertEqual((sent, number), (True, 0), description)
                self.assertEqual(len(envelopes), 1)
                self.assertTrue(self.issuers.asked_for(way, path, serial), "the issuer was never asked")

    def test_a_revoked_certificate_is_refused_before_anything_is_sent(self):
        for way, implicit_tls in (("crl", False), ("ocsp", False), ("crl", True), ("ocsp", True)):
            what = "%s, %s" % (way, "implicit TLS" if implicit_tls else "STARTTLS")
            with self.subTest(what):
                stem = "revoked-%s-%s" % (way, "implicit" if implicit_tls else "starttls")
                path = "/%s/%s" % (way, stem)
                issued, serial = self.authority.issue_for_checks(stem, **{way: self.issuers.url(path)})
                self.authority.revoke(serial)
                sent, number, description, _, envelopes = self.send_with(issued, implicit_tls)
                self.assertEqual((sent, number, description), (False, CERT_E_REVOKED, REVOKED))
                self.assertEqual(envelopes, [])
                self.assertTrue(self.issuers.asked_for(way, path, serial), "the issuer was never asked")

    def test_an_issuer_out_of_reach_lets_the_message_go_unless_the_server_requires_the_check(self):
        issued, _ = self.authority.issue_for_checks("unreachable", crl="http://127.0.0.1:%d/crl" % free_port())
        sent, number, description, _, envelopes = self.send_with(issued)
        self.assertEqual((sent, number), (True, 0), description)
        self.assertEqual(len(envelopes), 1)

        self.strictly()
        issued, _ = self.authority.issue_for_checks("unreachable-strict", ocsp="http://127.0.0.1:%d/ocsp" % free_port())
        sent, number, description, _, envelopes = self.send_with(issued)
        self.assertEqual((sent, number), (False, CERT_E_REVOCATION_FAILURE), description)
        self.assertIn("Whether the certificate of localhost has been revoked could not be learned", description)
        self.assertIn("RequireRevocationCheck", description)
        self.assertTrue(description.endswith("Nothing was sent."), description)
        self.assertEqual(envelopes, [])

    def test_an_issuer_that_never_answers_costs_no_more_than_the_limit(self):
        silent = SilentIssuer()
        self.addCleanup(silent.close)
        issued, _ = self.authority.issue_for_checks("silent", crl=silent.url("/crl"))
        sent, number, description, took, envelopes = self.send_with(issued)
        self.assertEqual((sent, number), (True, 0), description)
        self.assertEqual(len(envelopes), 1)
        self.assertTrue(silent.connections, "the issuer was never asked")
        # The client's own start under Wine comes on top of the limit.
        self.assertLess(took, LIMIT_S + 4)

    def test_the_token_endpoint_is_held_to_the_same_rules_and_gets_no_grant_from_a_revoked_certificate(self):
        good, _ = self.authority.issue_for_checks("token-good", crl=self.issuers.url("/crl/token-good"))
        revoked, serial = self.authority.issue_for_checks("token-revoked", ocsp=self.issuers.url("/ocsp/token"))
        self.authority.revoke(serial)
        unreachable, _ = self.authority.issue_for_checks("token-unreachable", crl="http://127.0.0.1:%d/c" % free_port())
        for what, issued, answered, words in [("good", good, True, ""), ("revoked", revoked, False, REVOKED),
                                              ("issuer out of reach", unreachable, True, "")]:
            with self.subTest(what):
                endpoint = TokenEndpoint(issued)
                self.assertEqual(endpoint.ask(), (answered, words))
                self.assertEqual(len(endpoint.forms), 1 if answered else 0)
        self.strictly()
        endpoint = TokenEndpoint(unreachable)
        answered, description = endpoint.ask()
        self.assertFalse(answered)
        self.assertIn("RequireRevocationCheck", description)
        self.assertEqual(endpoint.forms, [])


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    for option in ("--trust-ca", "--state"):
        index = rest.index(option)
        globals()[option[2:].replace("-", "_").upper()] = rest[index + 1]
        del rest[index:index + 2]
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
