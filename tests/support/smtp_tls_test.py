#!/usr/bin/python3
"""The Windows SMTP mail component's TLS against aiosmtpd servers on loopback,
reached as "localhost": a server that cannot be trusted, or that speaks only
an old TLS, is refused with a report that says why and gets no message.

    smtp_tls_test.py --client PATH --wine --ca CA_DIR

CA_DIR holds the test certificate authority that the Wine prefix trusts."""

import os
import ssl
import sys
import tempfile
import unittest
import warnings

from aiosmtpd.controller import Controller

here = os.path.dirname(os.path.abspath(__file__))
tools = os.path.join(here, "..", "..", "tools")
sys.path[:0] = [os.path.join(tools, "smtp_send"), os.path.join(tools, "smtp_catcher")]
from certificates import Authority, self_signed  # noqa: E402
from smtp_client import client_from_args, free_port  # noqa: E402
from smtp_oracle_test import Inbox  # noqa: E402

CLIENT = None
TRUSTED_CA = None


class TlsServer:
    """STARTTLS with an issued certificate (with its chain, or alone), up to a TLS version."""

    def __init__(self, issued, leaf_only, newest):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(issued.leaf if leaf_only else issued.chain, issued.key)
        with warnings.catch_warnings():  # old TLS versions are what some of these servers are for
            warnings.simplefilter("ignore", DeprecationWarning)
            if newest < ssl.TLSVersion.TLSv1_2:
                context.minimum_version = ssl.TLSVersion.MINIMUM_SUPPORTED
                context.set_ciphers("DEFAULT:@SECLEVEL=0")
            context.maximum_version = newest
        self.inbox = Inbox()
        self.port = free_port()
        self.controller = Controller(self.inbox, hostname="127.0.0.1", port=self.port, tls_context=context,
                                     require_starttls=True)
        self.controller.start()


class RefusedServersTest(unittest.TestCase):
    def test_servers_that_cannot_be_trusted_are_refused_with_the_reason(self):
        trusted = Authority(TRUSTED_CA)
        unknown = Authority(os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "unknown"), "Unknown CA")
        current, not_trusted = ssl.TLSVersion.MAXIMUM_SUPPORTED, "is not trusted"
        cases = [
            ("an unknown authority", unknown.issue("chain"), False, current, 0x800B0109, not_trusted),
            ("self-signed", self_signed(unknown.directory, "self"), False, current, 0x800B0109, not_trusted),
            ("only the certificate, from an unknown authority", unknown.issue("leaf"), True, current, 0x800B010A,
             not_trusted),
            ("another host name", trusted.issue("other", "mail.example.net"), False, current, 0x800B010F,
             "is for another name"),
            ("expired", trusted.issue("expired", days=-1), False, current, 0x800B0101, "has expired"),
            ("TLS 1.0", trusted.issue("tls10"), False, ssl.TLSVersion.TLSv1, 0x80090331, "offers only TLS 1.0"),
            ("TLS 1.1", trusted.issue("tls11"), False, ssl.TLSVersion.TLSv1_1, 0x80090331, "offers only TLS 1.1"),
        ]
        for what, issued, leaf_only, newest, code, words in cases:
            with self.subTest(what):
                server = TlsServer(issued, leaf_only, newest)
                try:
                    sent, number, description = CLIENT.send([
                        ("server", "localhost:%d" % server.port), ("from", "me@example.com"),
                        ("to", "ann@example.com"), ("subject", "s"), ("body", "Hello")])
                finally:
                    server.controller.stop()
                self.assertFalse(sent)
                self.assertEqual(number, code - (1 << 32), description)
                self.assertIn(words, description)
                self.assertIn("(0x%08X)" % code, description)
                self.assertEqual(server.inbox.envelopes, [])


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    TRUSTED_CA = rest[rest.index("--ca") + 1]
    del rest[rest.index("--ca"):rest.index("--ca") + 2]
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
