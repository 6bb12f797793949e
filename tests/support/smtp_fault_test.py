#!/usr/bin/python3
"""The SMTP mail component against servers that misbehave: a scripted server
of our own that refuses, drops, stays silent or never ends a reply at each
step, or wants a sign-in in the clear; and (with --ca) TLS servers that cannot
be trusted. Every fault must end the delivery with the error that names it,
and nothing half-sent may count as sent.

    smtp_fault_test.py --client PATH [--wine] [--ca CA_DIR]

CA_DIR holds the test certificate authority that the Wine prefix trusts.
"""

import errno
import os
import socket
import ssl
import sys
import tempfile
import threading
import time
import unittest
import warnings

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "..", "tools", name) for name in ("smtp_send", "smtp_catcher")]
from smtp_client import client_from_args, free_port  # noqa: E402

CLIENT, TRUSTED_CA = None, None
REPLY_TIMEOUT_MS = 1500
MAIL_BASE = -2147220992  # the mail component's own error numbers
PROTOCOL_VIOLATION, CONNECTION_CLOSED, TLS_REQUIRED = MAIL_BASE + 5, MAIL_BASE + 6, MAIL_BASE + 7
SILENT, DROP, ENDLESS, ENDLESS_SLOWLY = "silent", "drop", "endless", "endless slowly"
WINSOCK_CODES = {"ETIMEDOUT": 10060, "ECONNREFUSED": 10061, "ECONNRESET": 10054, "ECONNABORTED": 10053}


def system_error(name):
    """The number of a failed socket call, as the client's socket layer gives it."""
    return -2147192504 + (WINSOCK_CODES.get(name, 0) if CLIENT.wine else getattr(errno, name))


def verbs(commands):
    return [c.split(":")[0].split(" ")[0] for c in commands]


class ScriptedServer:
    """Answers the dialogue normally except where `script` says otherwise: it
    maps a step ("greeting", a command's verb, "BODY" inside the message data,
    "END" for the data's end) to its reply, a list of replies one per use, or
    a fault: SILENT, DROP, ENDLESS (a reply of lines as fast as the client
    takes them) or ENDLESS_SLOWLY (a line every 50 ms). A fault lasts three
    reply time-outs at most, then the server closes: a client that waited for
    it all reports a closed connection instead of the error the test wants."""

    def __init__(self, script):
        self.script = script
        self.commands = []
        self.message_completed = False
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def close(self):
        self.listener.close()
        self.thread.join(timeout=10)

    def serve(self):
        try:
            connection, _ = self.listener.accept()
        except OSError:
            return
        with connection:
            connection.settimeout(30)
            self.dialogue(connection)

    def step(self, connection, name, default):
        """Answers a step; False when the server goes no further."""
        reply = self.script.get(name, default)
        if isinstance(reply, list):
            reply = reply.pop(0) if reply else default
        if reply not in (SILENT, DROP, ENDLESS, ENDLESS_SLOWLY):
            connection.sendall(reply.encode("latin-1") + b"\r\n")
            return True
        until = time.monotonic() + (REPLY_TIMEOUT_MS / 1000 * 3 if reply != DROP else 0)
        try:
            while time.monotonic() < until:
                if reply != SILENT:
                    connection.sendall(b"250-and more\r\n" * (1 if reply == ENDLESS_SLOWLY else 64))
                time.sleep(0 if reply == ENDLESS else 0.05)
        except OSError:
            pass
        return False

    def dialogue(self, connection):
        defaults = {"greeting": "220 scripted.example ESMTP",
                    "EHLO": "250-scripted.example\r\n250-PIPELINING\r\n250 8BITMIME", "HELO": "250 scripted.example",
                    "MAIL": "250 2.1.0 ok", "RCPT": "250 2.1.5 ok", "DATA": "354 go ahead", "END": "250 2.0.0 queued",
                    "QUIT": "221 bye"}
        if not self.step(connection, "greeting", defaults["greeting"]):
            return
        in_data = False
        for raw in connection.makefile("rb"):
            line = raw.rstrip(b"\r\n").decode("latin-1")
            if in_data:
                if line == "" and self.script.get("BODY") == DROP:
                    return
                if line == ".":
                    in_data = False
                    if not self.step(connection, "END", defaults["END"]):
                        return
                    self.message_completed = str(self.script.get("END", "2")).startswith("2")
                continue
            self.commands.append(line)
            verb = verbs([line])[0].upper()
            if not self.step(connection, verb, defaults.get(verb, "502 5.5.2 unknown command")):
                return
            in_data = verb == "DATA" and self.script.get("DATA", "354").startswith("354")
            if verb == "QUIT":
                return


def send(server, *extra):
    """One message to `server` ("host:port"); (sent, error number, description)."""
    return CLIENT.send([("server", server), ("from", "me@example.com"), ("subject", "s"),
                        ("body", "line one\r\nline two\r\n" * 1000), ("reply_timeout_ms", str(REPLY_TIMEOUT_MS)),
                        ("to", "ann@example.com"), ("to", "bob@example.com"), *extra])


class FaultTest(unittest.TestCase):
    def deliver(self, script, *extra):
        """(sent, error number, description, the server)"""
        server = ScriptedServer(script)
        try:
            sent, number, description = send("127.0.0.1:%d" % server.port, *extra)
        finally:
            server.close()
        if not sent:
            self.assertFalse(server.message_completed, "the server took a message reported as failed")
        return sent, number, description, server

    def test_refusals_at_every_step_name_the_reply(self):
        for script, code, text in [
            ({"greeting": "554 5.3.2 no service here"}, 554, "no service here"),
            ({"EHLO": "421 4.7.0 closing"}, 421, "EHLO"),
            ({"MAIL": "550 5.7.1 sender rejected"}, 550, "MAIL FROM:<me@example.com>"),
            ({"RCPT": ["250 ok", "550 5.1.1 no such user"]}, 550, "RCPT TO:<bob@example.com>"),
            ({"DATA": "554 5.5.1 no valid recipients"}, 554, "DATA"),
            ({"END": "451 4.3.0 local error"}, 451, "local error"),
            # Control characters in the server's text are shown replaced, so they cannot cut a report.
            ({"MAIL": "550 5.7.1 no\x00 such\rFrom Address: x\x1b[2J"}, 550, "550 5.7.1 no? such?From Address: x?[2J"),
        ]:
            with self.subTest(script=script):
                sent, number, description, _ = self.deliver(script)
                self.assertFalse(sent, "a refused delivery was reported as sent")
                self.assertEqual(number, MAIL_BASE + code)
                self.assertIn(text, description)

    def test_servers_that_drop_stay_silent_or_never_end_a_reply_fail_with_what_went_wrong(self):
        broken_pipe = {CONNECTION_CLOSED, system_error("ECONNRESET"),
                       system_error("ECONNABORTED" if CLIENT.wine else "EPIPE")}
        timed_out = {system_error("ETIMEDOUT")}
        for script, numbers, text in [
            ({"greeting": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"RCPT": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"BODY": DROP}, broken_pipe, ""),
            ({"END": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"greeting": SILENT}, timed_out, "did not answer in time"),
            ({"END": SILENT}, timed_out, "did not answer in time"),
            ({"greeting": ENDLESS}, {PROTOCOL_VIOLATION}, "sent a reply that never ends"),
            ({"EHLO": ENDLESS_SLOWLY}, timed_out, "did not answer in time"),
            ({"greeting": "220 " + "x" * 70000}, {PROTOCOL_VIOLATION}, "sent a reply line that never ends"),
        ]:
            with self.subTest(script=str(script)[:40]):
                sent, number, description, _ = self.deliver(script)
                self.assertFalse(sent, "a broken delivery was reported as sent")
                self.assertIn(number, numbers, description)
                self.assertIn(text, description)

    def test_ehlo_unknown_falls_back_to_helo_and_multi_line_replies_are_read(self):
        sent, _, description, server = self.deliver(
            {"greeting": "220-first line\r\n220-second line\r\n220 last line", "EHLO": "502 5.5.2 what?"})
        self.assertTrue(sent, description)
        self.assertTrue(server.message_completed)
        self.assertEqual(verbs(server.commands), ["EHLO", "HELO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"])
        self.assertEqual(server.commands[1:3], ["HELO " + server.commands[0].split(" ")[1], "MAIL FROM:<me@example.com>"])

    def test_no_sign_in_in_the_clear_and_no_plaintext_after_the_go_ahead_for_tls(self):
        ann = [("user", "ann"), ("password", "pa55word")]
        offers = "250-scripted.example\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME"
        for what, script, sign_in, number, commands in [
            ("a sign-in offered without TLS", {"EHLO": offers}, ann, TLS_REQUIRED, ["EHLO", "QUIT"]),
            ("a sign-in wanted without TLS", {"EHLO": offers, "MAIL": "530 5.7.0 sign in first"}, [], TLS_REQUIRED,
             ["EHLO", "MAIL", "QUIT"]),
            ("plaintext after the go-ahead for TLS",
             {"EHLO": "250-x\r\n250 STARTTLS", "STARTTLS": "220 go\r\n250 PIPELINED"}, ann, PROTOCOL_VIOLATION,
             ["EHLO", "STARTTLS"]),
        ]:
            with self.subTest(what):
                sent, got, description, server = self.deliver(script, *sign_in)
                self.assertFalse(sent)
                self.assertEqual(got, number, description)
                self.assertEqual(verbs(server.commands), commands)

    def test_nobody_listening(self):
        port = free_port()
        sent, number, description = send("127.0.0.1:%d" % port)
        self.assertFalse(sent)
        self.assertEqual(number, system_error("ECONNREFUSED"))
        self.assertIn("127.0.0.1:%d" % port, description)


@unittest.skipUnless("--ca" in sys.argv, "TLS is the Windows socket layer's")
class UntrustedTlsTest(unittest.TestCase):
    def test_servers_that_cannot_be_trusted_are_refused_with_the_reason(self):
        from aiosmtpd.controller import Controller
        from certificates import Authority, self_signed
        from smtp_oracle_test import Inbox
        trusted = Authority(TRUSTED_CA)
        unknown = Authority(os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "unknown"), "Unknown CA")
        current, not_trusted = ssl.TLSVersion.MAXIMUM_SUPPORTED, "is not trusted"
        for what, issued, leaf_only, newest, code, words in [
            ("an unknown authority", unknown.issue("chain"), False, current, 0x800B0109, not_trusted),
            ("self-signed", self_signed(unknown.directory, "self"), False, current, 0x800B0109, not_trusted),
            ("only the certificate, from an unknown authority", unknown.issue("leaf"), True, current, 0x800B010A,
             not_trusted),
            ("another host name", trusted.issue("other", "mail.example.net"), False, current, 0x800B010F,
             "is for another name"),
            ("expired", trusted.issue("expired", days=-1), False, current, 0x800B0101, "has expired"),
            ("TLS 1.0", trusted.issue("tls10"), False, ssl.TLSVersion.TLSv1, 0x80090331, "offers only TLS 1.0"),
        ]:
            with self.subTest(what):
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.load_cert_chain(issued.leaf if leaf_only else issued.chain, issued.key)
                with warnings.catch_warnings():  # an old TLS version is what one of these servers is for
                    warnings.simplefilter("ignore", DeprecationWarning)
                    if newest < ssl.TLSVersion.TLSv1_2:
                        context.minimum_version = ssl.TLSVersion.MINIMUM_SUPPORTED
                        context.set_ciphers("DEFAULT:@SECLEVEL=0")
                    context.maximum_version = newest
                inbox, port = Inbox(), free_port()
                controller = Controller(inbox, hostname="127.0.0.1", port=port, tls_context=context,
                                        require_starttls=True)
                controller.start()
                try:
                    sent, number, description = send("localhost:%d" % port)
                finally:
                    controller.stop()
                self.assertFalse(sent)
                self.assertEqual(number, code - (1 << 32), description)
                self.assertIn(words, description)
                self.assertIn("(0x%08X)" % code, description)
                self.assertEqual(inbox.envelopes, [])


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    if "--ca" in rest:
        TRUSTED_CA = rest.pop(rest.index("--ca") + 1)
        rest.remove("--ca")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
