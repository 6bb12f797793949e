#!/usr/bin/python3
"""The SMTP mail component against a scripted server of our own that refuses,
drops, stays silent or never ends a reply at each step of the dialogue. Every
fault must end the delivery with the error that names it, within the reply
time-out, and nothing half-sent may count as sent.

    smtp_fault_test.py --client PATH [--wine]
"""

import errno
import os
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "smtp_send"))
from smtp_client import client_from_args  # noqa: E402

CLIENT = None
REPLY_TIMEOUT_MS = 1500
MAIL_BASE = -2147220992  # the mail component's own error numbers
PROTOCOL_VIOLATION, CONNECTION_CLOSED = MAIL_BASE + 5, MAIL_BASE + 6
SILENT, DROP, ENDLESS, ENDLESS_SLOWLY = "silent", "drop", "endless", "endless slowly"
WINSOCK_CODES = {"ETIMEDOUT": 10060, "ECONNREFUSED": 10061, "ECONNRESET": 10054, "ECONNABORTED": 10053}


def system_error(name):
    """The number of a failed socket call, as the client's socket layer gives it."""
    return -2147192504 + (WINSOCK_CODES.get(name, 0) if CLIENT.wine else getattr(errno, name))


class ScriptedServer:
    """Answers the dialogue normally except where `script` says otherwise: it
    maps a step ("greeting", a command's verb, "BODY" inside the message data,
    "END" for the data's end) to its reply, a list of replies one per use, or
    a fault: SILENT, DROP, ENDLESS (a reply of lines as fast as the client
    takes them) or ENDLESS_SLOWLY (a line every 50 ms)."""

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
        if reply == SILENT:
            time.sleep(REPLY_TIMEOUT_MS / 1000 * 3)
        if reply in (ENDLESS, ENDLESS_SLOWLY):
            try:
                while True:
                    connection.sendall(b"250-and more\r\n" * (1 if reply == ENDLESS_SLOWLY else 64))
                    time.sleep(0.05 if reply == ENDLESS_SLOWLY else 0)
            except OSError:
                pass
        if reply in (SILENT, DROP, ENDLESS, ENDLESS_SLOWLY):
            return False
        connection.sendall(reply.encode("latin-1") + b"\r\n")
        return True

    def dialogue(self, connection):
        defaults = {"greeting": "220 scripted.example ESMTP", "EHLO": "250-scripted.example\r\n250 8BITMIME",
                    "HELO": "250 scripted.example", "MAIL": "250 2.1.0 ok", "RCPT": "250 2.1.5 ok",
                    "DATA": "354 go ahead", "BODY": None, "END": "250 2.0.0 queued", "QUIT": "221 bye"}
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
            verb = line.split(":")[0].split(" ")[0].upper()
            if not self.step(connection, verb, defaults.get(verb, "502 5.5.2 unknown command")):
                return
            in_data = verb == "DATA" and self.script.get("DATA", "354").startswith("354")
            if verb == "QUIT":
                return


class FaultTest(unittest.TestCase):
    def deliver(self, script):
        """(sent, error number, description, the server, seconds taken)"""
        server = ScriptedServer(script)
        fields = [("server", "127.0.0.1:%d" % server.port), ("from", "me@example.com"), ("subject", "s"),
                  ("body", "line one\r\nline two\r\n" * 1000), ("reply_timeout_ms", str(REPLY_TIMEOUT_MS)),
                  ("to", "ann@example.com"), ("to", "bob@example.com")]
        started = time.monotonic()
        try:
            sent, number, description = CLIENT.send(fields)
        finally:
            server.close()
        if sent:
            return sent, number, description, server, 0
        self.assertFalse(server.message_completed, "the server took a message reported as failed")
        elapsed = time.monotonic() - started
        self.assertLess(elapsed, REPLY_TIMEOUT_MS / 1000 + 10)
        return sent, number, description, server, elapsed

    def test_refusals_at_every_step_name_the_reply(self):
        for script, code, text in [
            ({"greeting": "554 5.3.2 no service here"}, 554, "no service here"),
            ({"greeting": "421 4.3.2 busy, try later"}, 421, "busy, try later"),
            ({"EHLO": "421 4.7.0 closing"}, 421, "EHLO"),
            ({"MAIL": "550 5.7.1 sender rejected"}, 550, "MAIL FROM:<me@example.com>"),
            ({"MAIL": "451 4.3.0 try again"}, 451, "try again"),
            ({"RCPT": ["250 ok", "550 5.1.1 no such user"]}, 550, "RCPT TO:<bob@example.com>"),
            ({"RCPT": "450 4.2.1 mailbox busy"}, 450, "mailbox busy"),
            ({"DATA": "554 5.5.1 no valid recipients"}, 554, "DATA"),
            ({"END": "552 5.3.4 message too big"}, 552, "message too big"),
            ({"END": "451 4.3.0 local error"}, 451, "local error"),
            # Control characters in the server's text are shown replaced, so they cannot cut a report.
            ({"MAIL": "550 5.7.1 no\x00 such\rFrom Address: x\x1b[2J"}, 550, "550 5.7.1 no? such?From Address: x?[2J"),
        ]:
            with self.subTest(script=script):
                sent, number, description, _, _ = self.deliver(script)
                self.assertFalse(sent, "a refused delivery was reported as sent")
                self.assertEqual(number, MAIL_BASE + code)
                self.assertIn(str(code), description)
                self.assertIn(text, description)

    def test_servers_that_drop_stay_silent_or_never_end_a_reply_fail_with_what_went_wrong(self):
        broken_pipe = {CONNECTION_CLOSED, system_error("ECONNRESET"),
                       system_error("ECONNABORTED" if CLIENT.wine else "EPIPE")}
        timed_out = {system_error("ETIMEDOUT")}
        for script, numbers, text in [
            ({"greeting": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"MAIL": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"RCPT": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"DATA": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"BODY": DROP}, broken_pipe, ""),
            ({"END": DROP}, {CONNECTION_CLOSED}, "closed the connection"),
            ({"greeting": SILENT}, timed_out, "did not answer in time"),
            ({"RCPT": SILENT}, timed_out, "did not answer in time"),
            ({"END": SILENT}, timed_out, "did not answer in time"),
            ({"greeting": ENDLESS}, {PROTOCOL_VIOLATION}, "sent a reply that never ends"),
            ({"EHLO": ENDLESS_SLOWLY}, timed_out, "did not answer in time"),
            ({"greeting": "220 " + "x" * 70000}, {PROTOCOL_VIOLATION}, "sent a reply line that never ends"),
        ]:
            with self.subTest(script=str(script)[:40]):
                sent, number, description, _, _ = self.deliver(script)
                self.assertFalse(sent, "a broken delivery was reported as sent")
                self.assertIn(number, numbers, description)
                self.assertIn(text, description)

    def test_ehlo_unknown_falls_back_to_helo_and_multi_line_replies_are_read(self):
        sent, _, description, server, _ = self.deliver(
            {"greeting": "220-first line\r\n220-second line\r\n220 last line", "EHLO": "502 5.5.2 what?"})
        self.assertTrue(sent, description)
        self.assertTrue(server.message_completed)
        self.assertEqual([c.split(":")[0].split(" ")[0] for c in server.commands],
                         ["EHLO", "HELO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"])
        self.assertEqual(server.commands[1:3], ["HELO " + server.commands[0].split(" ")[1], "MAIL FROM:<me@example.com>"])

    def test_nobody_listening(self):
        probe = socket.create_server(("127.0.0.1", 0))
        port = probe.getsockname()[1]
        probe.close()
        sent, number, description = CLIENT.send([("server", "127.0.0.1:%d" % port), ("from", "me@example.com"),
                                                 ("to", "ann@example.com"), ("subject", "s"), ("body", "b")])
        self.assertFalse(sent)
        self.assertEqual(number, system_error("ECONNREFUSED"))
        self.assertIn("127.0.0.1:%d" % port, description)


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
