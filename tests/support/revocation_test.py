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
import http.server
import json
import os
import subprocess
import threading
import time
import unittest
import urllib.parse

from mail_harness import (COMPONENT_KEY, MailClient, free_port, main, options, smtp_server, tls_context, windows,
                          windows_path)
from certificates import Authority  # noqa: E402 (on the path from mail_harness)

ARGS = options("--client", "--trust-ca", "--state")
CLIENT = MailClient(ARGS.client, ARGS.wine)
CERT_E_REVOKED, CERT_E_REVOCATION_FAILURE = 0x800B010C - (1 << 32), 0x800B010E - (1 << 32)
REVOKED = "The certificate of localhost has been revoked by its issuer. Nothing was sent."
LIMIT_S = 5  # the component's limit for the issuers' answers
SETTING_KEY = COMPONENT_KEY + r"\Servers\localhost"


def openssl(*args, **kwargs):
    done = subprocess.run(["openssl", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if done.returncode:
        raise RuntimeError("openssl %s: %s" % (args[0], done.stderr.decode(errors="replace")))
    return done.stdout


class RevokingAuthority(Authority):
    """A test authority with the database that `openssl ca` keeps and `openssl ocsp` reads."""

    def __init__(self, directory):
        super().__init__(directory, "KT_EMailer Revocation Test CA")
        self.index, self.config = os.path.join(directory, "index.txt"), os.path.join(directory, "ca.cnf")
        open(self.index, "a").close()
        with open(self.config, "w") as f:  # every certificate is for localhost
            f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = %s\ncertificate = %s\nprivate_key = %s\n"
                    "default_md = sha256\ndefault_crl_days = 7\nunique_subject = no\n" % (self.index, self.certificate, self.key))
        self.lock = threading.Lock()

    def ca(self, *args):
        with self.lock:
            return openssl("ca", "-config", self.config, *args)

    def issue_for_checks(self, stem, crl=None, ocsp=None):
        """A certificate for localhost naming a CRL distribution point or an OCSP responder; (issued, serial)."""
        issued = self.issue(stem, extensions=(["crlDistributionPoints=URI:" + crl] if crl else []) +
                            (["authorityInfoAccess=OCSP;URI:" + ocsp] if ocsp else []))
        self.ca("-valid", issued.leaf)
        return issued, openssl("x509", "-in", issued.leaf, "-noout", "-serial").decode().strip().split("=")[1]

    def revoke(self, issued):
        self.ca("-revoke", issued.leaf)  # with no reason: some systems cannot read an OCSP answer that carries one

    def crl(self):
        return openssl("crl", "-outform", "DER", input=self.ca("-gencrl"))

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


def http_server(context=None, **methods):
    """An HTTP server on loopback serving in the background, with the handler `methods` (do_GET, ...), which
    may answer with handler.answer(content type, body); over TLS with `context`."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def answer(self, kind, body):
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    for name, method in methods.items():
        setattr(Handler, name, method)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class RevocationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        authority = cls.authority = RevokingAuthority(ARGS.state)
        windows(ARGS.trust_ca, windows_path(authority.certificate) if ARGS.wine else authority.certificate,
                wine=ARGS.wine, check=True)
        cls.asked = []  # the paths of the CRLs fetched, "ocsp:<serial>" for each serial the responder was asked about

        def ocsp(handler, request):
            cls.asked.append("ocsp:" + authority.serial_asked_about(request))
            handler.answer("application/ocsp-response", authority.ocsp_answer(request))

        def get(handler):
            if handler.path.startswith(("/crl/", "/silent/")):
                cls.asked.append(handler.path)
                if handler.path.startswith("/silent/"):  # an issuer that takes the request and never answers
                    return time.sleep(LIMIT_S * 3)
                return handler.answer("application/pkix-crl", authority.crl())
            # Else an OCSP request, base64 in the path's last part (some
            # systems put it at the root, not after the responder's path).
            ocsp(handler, base64.b64decode(urllib.parse.unquote(handler.path.rsplit("/", 1)[1])))

        cls.issuers = http_server(do_GET=get, do_POST=lambda handler: ocsp(
            handler, handler.rfile.read(int(handler.headers.get("Content-Length", 0)))))
        cls.addClassCleanup(cls.issuers.shutdown)
        cls.issuers_url = "http://127.0.0.1:%d" % cls.issuers.server_address[1]
        cls.nowhere = "http://127.0.0.1:%d" % free_port()

    def send_with(self, issued, implicit_tls=False):
        """One message to a server with that certificate; (sent, number, description, seconds, envelopes)."""
        context = tls_context(issued)
        tls = {"ssl_context": context} if implicit_tls else {"tls_context": context, "require_starttls": True}
        with smtp_server(**tls) as (inbox, port):
            started = time.monotonic()
            sent, number, description = CLIENT.send([
                ("server", ("smtps://localhost:%d" if implicit_tls else "localhost:%d") % port),
                ("from", "me@example.com"), ("to", "ann@example.com"), ("subject", "s"), ("body", "Hello\r\n"),
                ("reply_timeout_ms", "15000")])
            return sent, number, description, time.monotonic() - started, inbox.envelopes

    def ask_token_endpoint(self, issued):
        """The client asks a token endpoint with that certificate for tokens, as a refresh does; (answered,
        description, the forms that arrived whole)."""
        forms = []

        def post(handler):
            length = int(handler.headers.get("Content-Length", 0))
            form = handler.rfile.read(length)
            if len(form) == length:
                forms.append(form)
                handler.answer("application/json",
                               json.dumps({"access_token": "a", "token_type": "Bearer", "expires_in": 3600}).encode())

        endpoint = http_server(tls_context(issued), do_POST=post)
        try:
            sent, _, description = CLIENT.send([("token_endpoint", "https://localhost:%d/token" % endpoint.server_address[1]),
                                                ("token_timeout_ms", "15000")])
        finally:
            endpoint.shutdown()
        return sent, description, forms

    def test_the_issuers_answer_decides_and_one_that_cannot_be_had_in_time_lets_the_message_go(self):
        for stem, way, base, revoked, implicit_tls in [
            ("good-crl", "crl", self.issuers_url, False, False),
            ("good-ocsp", "ocsp", self.issuers_url, False, False),
            # A revoked certificate is refused before anything is sent.
            ("revoked-crl-starttls", "crl", self.issuers_url, True, False),
            ("revoked-ocsp-starttls", "ocsp", self.issuers_url, True, False),
            ("revoked-crl-implicit", "crl", self.issuers_url, True, True),
            ("revoked-ocsp-implicit", "ocsp", self.issuers_url, True, True),
            ("unreachable", "crl", self.nowhere, False, False),
            ("silent", "silent", self.issuers_url, False, False),
        ]:
            with self.subTest(stem):
                path = "/%s/%s" % (way, stem)
                issued, serial = self.authority.issue_for_checks(stem, **{"ocsp" if way == "ocsp" else "crl": base + path})
                if revoked:
                    self.authority.revoke(issued)
                sent, number, description, took, envelopes = self.send_with(issued, implicit_tls)
                self.assertEqual((sent, number, description), (False, CERT_E_REVOKED, REVOKED) if revoked else (True, 0, ""))
                self.assertEqual(len(envelopes), 0 if revoked else 1)
                if base == self.issuers_url:
                    self.assertIn("ocsp:" + serial if way == "ocsp" else path, self.asked, "the issuer was never asked")
                # An issuer that never answers costs no more than the limit; the client's own start under Wine
                # comes on top.
                self.assertLess(took, LIMIT_S + 4)

    def test_the_token_endpoint_is_held_to_the_same_rules_and_gets_no_grant_from_a_revoked_certificate(self):
        good, _ = self.authority.issue_for_checks("token-good", crl=self.issuers_url + "/crl/token-good")
        revoked, _ = self.authority.issue_for_checks("token-revoked", ocsp=self.issuers_url + "/ocsp/token")
        self.authority.revoke(revoked)
        unreachable, _ = self.authority.issue_for_checks("token-unreachable", crl=self.nowhere + "/crl/token")
        for what, issued, answered, words in [("good", good, True, ""), ("revoked", revoked, False, REVOKED),
                                              ("issuer out of reach", unreachable, True, "")]:
            with self.subTest(what):
                sent, description, forms = self.ask_token_endpoint(issued)
                self.assertEqual((sent, description, len(forms)), (answered, words, 1 if answered else 0))

    def test_where_the_server_requires_the_check_an_issuer_out_of_reach_stops_the_message_and_the_grant(self):
        windows("reg", "add", SETTING_KEY, "/v", "RequireRevocationCheck", "/t", "REG_DWORD", "/d", "1", "/f",
                wine=ARGS.wine, check=True)
        self.addCleanup(windows, "reg", "delete", SETTING_KEY, "/f", wine=ARGS.wine)
        issued, _ = self.authority.issue_for_checks("unreachable-strict", ocsp=self.nowhere + "/ocsp/strict")
        sent, number, description, _, envelopes = self.send_with(issued)
        self.assertEqual((sent, number), (False, CERT_E_REVOCATION_FAILURE), description)
        self.assertIn("Whether the certificate of localhost has been revoked could not be learned", description)
        self.assertIn("RequireRevocationCheck", description)
        self.assertTrue(description.endswith("Nothing was sent."), description)
        self.assertEqual(envelopes, [])
        issued, _ = self.authority.issue_for_checks("token-unreachable-strict", crl=self.nowhere + "/crl/strict")
        answered, description, forms = self.ask_token_endpoint(issued)
        self.assertFalse(answered)
        self.assertIn("RequireRevocationCheck", description)
        self.assertEqual(forms, [])


if __name__ == "__main__":
    main()
