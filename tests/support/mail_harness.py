"""What the end-to-end scripts share: options, the tools on the path,
servers on loopback (aiosmtpd, Dovecot) and Windows programs under Wine."""

import argparse
import contextlib
import os
import ssl
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path[:0] = [os.path.join(TOOLS, name) for name in ("smtp_send", "smtp_catcher", "imap_server")]
from smtp_client import MailClient, free_port, run_case, windows_path  # noqa: E402,F401

MAIL_BASE = -2147220992  # the mail component's own error numbers
COMPONENT_KEY = r"HKCU\Software\Veltrano\Ardwyn\KT_EMailer"
_UNITTEST_ARGV = [sys.argv[0]]


def options(*names):
    """--wine and the script's options with a value (None where not given); the rest is for unittest."""
    parser = argparse.ArgumentParser(allow_abbrev=False)
    parser.add_argument("--wine", action="store_true")
    for name in names:
        parser.add_argument(name)
    args, _UNITTEST_ARGV[1:] = parser.parse_known_args()
    return args


def main():
    unittest.main(argv=_UNITTEST_ARGV, verbosity=2)


def run(*command, **settings):
    """A program run to its end with subprocess.run's `settings`; the finished process, its output as text."""
    return subprocess.run(list(command), capture_output=True, text=True, errors="replace", **settings)


def windows(*command, wine=True, check=False):
    """A Windows program run to its end, under Wine or not; the finished process, its output as text."""
    return run(*(["wine"] if wine else []), *command, check=check)


class Inbox:
    """Keeps every MAIL as (address, options), every message as (sender, recipients, bytes); offers 8BITMIME or not."""

    def __init__(self):
        self.mails, self.envelopes, self.offer_8bit = [], [], True

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return [r for r in responses if self.offer_8bit or r != "250-8BITMIME"]

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.mails.append((address, options))
        envelope.mail_from, envelope.mail_options = address, options
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.envelopes.append((envelope.mail_from, list(envelope.rcpt_tos), bytes(envelope.original_content)))
        return "250 2.0.0 Accepted"


@contextlib.contextmanager
def smtp_server(**settings):
    """An aiosmtpd server on a free port of loopback for the block, with aiosmtpd's `settings`; (inbox, port)."""
    from aiosmtpd.controller import Controller
    inbox = Inbox()
    controller = Controller(inbox, hostname="127.0.0.1", port=free_port(), **settings)
    controller.start()
    try:
        yield inbox, controller.port
    finally:
        controller.stop()


def tls_context(issued, leaf_only=False):
    """A server's TLS context with a certificate from tools/smtp_catcher/certificates.py."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(issued.leaf if leaf_only else issued.chain, issued.key)
    return context


@contextlib.contextmanager
def dovecot(ca_dir, passwords, folders, **settings):
    """tools/imap_server's Dovecot for the block; KT_SHOW_DOVECOT_LOG=1 shows the end of its log after."""
    from imap_server import Dovecot
    with tempfile.TemporaryDirectory(prefix="kt-dovecot-", ignore_cleanup_errors=True) as work:
        server = Dovecot(work, ca_dir, passwords, folders, **settings)
        try:
            yield server
        finally:
            server.stop()
            if os.environ.get("KT_SHOW_DOVECOT_LOG"):
                with open(os.path.join(work, "dovecot.log")) as log:
                    sys.stderr.write(log.read()[-3000:])
