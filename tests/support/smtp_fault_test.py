#!/usr/bin/python3
"""The SMTP mail component against a scripted server of our own that refuses,
drops or stays silent at each step of the dialogue. Every fault must end the
delivery with a failure that names the server's code and text, and nothing
half-sent may count as sent.

    smtp_fault_test.py --client PATH [--wine]
"""

import socket
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "smtp_send"))
from smtp_client import client_from_args  # noqa: E402

CLIENT = None
REPLY_TIMEOUT_MS = 1500
MAIL_BASE = -2147220992  # the mail component's own error numbers


class ScriptedServer:
    """Answers the dialogue normally except where `script` says otherwise.

    script keys: "greeting", "EHLO", "HELO", "MAIL", "RCPT", "DATA", "END" (the
    reply to the message data) give the reply line(s); "silent_at" names the
    step at which the server stops answering; "drop_at" the step at which it
    closes the connection ("DATA_BODY": in the middle of the message data);
    "endless_at" the step whose reply never ends, its lines sent every
    "endless_pause" seconds (0: as fast as the client takes them)."""

    def __init__(self, script):
        self.script = script
        self.commands = []
        self.message_completed = False
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
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
        if self.script.get("silent_at") == name:
            time.sleep(REPLY_TIMEOUT_MS / 1000 * 3)
            return False
        if self.script.get("drop_at") == name:
            return False
        if self.script.get("endless_at") == name:
            try:
                while True:
                    connection.sendall(b"250-and more\r\n" * (1 if self.script.get("endless_pause") else 64))
                    time.sleep(self.script.get("endless_pause", 0))
            except OSError:
                return False
        reply = self.script.get(name, default)
        if isinstance(reply, list):
            reply = reply.pop(0) if reply else default
        connection.sendall(reply.encode("latin-1") + b"\r\n")
        return True

    def dialogue(self, connection):
        reader = connection.makefile("rb")
        if not self.step(connection, "greeting", "220 scripted.example ESMTP"):
            return
        in_data = False
        for raw in reader:
            line = raw.rstrip(b"\r\n").decode("latin-1")
            if in_data:
                if line == "":
                    if self.script.get("drop_at") == "DATA_BODY":
                        return
                if line == ".":
                    in_data = False
                    accepted = str(self.script.get("END", "2")).startswith("2")
                    if not self.step(connection, "END", "250 2.0.0 queued"):
                        return
                    self.message_completed = accepted
                continue
            self.commands.append(line)
            verb = line.split(":")[0].split(" ")[0].upper()
            defaults = {"EHLO": "250-scripted.example\r\n250-PIPELINING\r\n250 8BITMIME", "HELO": "250 scripted.example",
                        "MAIL": "250 2.1.0 ok", "RCPT": "250 2.1.5 ok", "DATA": "354 go ahead", "QUIT": "221 bye"}
            if not self.step(connection, verb, defaults.get(verb, "502 5.5.2 unknown command")):
                return
            if verb == "DATA" and self.script.get("DATA", "354").startswith("354"):
                in_data = True
            if verb == "QUIT":
                return


class FaultTest(unittest.TestCase):
    def run_against(self, script, recipients=("ann@example.com", "bob@example.com"), sign_in=()):
        server = ScriptedServer(script)
        fields = [("server", "127.0.0.1:%d" % server.port), ("from", "me@example.com"), ("subject", "s"),
                  ("body", "line one\r\nline two\r\n" * 1000), ("reply_timeout_ms", str(REPLY_TIMEOUT_MS))]
        fields += sign_in
        fields += [("to", r) for r in recipients]
        started = time.monotonic()
        try:
            result = CLIENT.send(fields)
        finally:
            server.close()
        return result, server, time.monotonic() - started

    def assertRefused(self, script, code, command_in_text):
        (sent, number, description), server, _ = self.run_against(script)
        self.assertFalse(sent, "a refused delivery was reported as sent")
        self.assertEqual(number, MAIL_BASE + code)
        self.assertIn(str(code), description)
        self.assertIn(command_in_text, description)
        return server

    def test_refusals_at_every_step(self):
        cases = [
            ({"greeting": "554 5.3.2 no service here"}, 554, "no service here"),
            ({"greeting": "421 4.3.2 busy, try later"}, 421, "busy, try later"),
            ({"MAIL": "550 5.7.1 sender rejected"}, 550, "MAIL FROM:<me@example.com>"),
            ({"MAIL": "451 4.3.0 try again"}, 451, "try again"),
            ({"RCPT": ["250 ok", "550 5.1.1 no such user"]}, 550, "RCPT TO:<bob@example.com>"),
            ({"RCPT": "450 4.2.1 mailbox busy"}, 450, "mailbox busy"),
            ({"DATA": "554 5.5.1 no valid recipients"}, 554, "DATA"),
            ({"END": "552 5.3.4 message too big"}, 552, "message too big"),
            ({"END": "451 4.3.0 local error"}, 451, "local error"),
            ({"EHLO": "421 4.7.0 closing"}, 421, "EHLO"),
        ]
        for script, code, text in cases:
            with self.subTest(script=script):
                server = self.assertRefused(script, code, text)
                self.assertFalse(server.message_completed)

    def test_ehlo_unknown_falls_back_to_helo(self):
        (sent, _, description), server, _ = self.run_against({"EHLO": "502 5.5.2 what?"})
        self.assertTrue(sent, description)
        self.assertTrue(server.commands[1].startswith("HELO ["), server.commands)
        self.assertTrue(server.message_completed)

    def test_multiline_replies_and_the_whole_dialogue(self):
        (sent, _, description), server, _ = self.run_against(
            {"greeting": "220-first line\r\n220-second line\r\n220 last line"})
        self.assertTrue(sent, description)
        self.assertEqual([c.split(":")[0].split(" ")[0] for c in server.commands],
                         ["EHLO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"])
        self.assertEqual(server.commands[1], "MAIL FROM:<me@example.com> BODY=8BITMIME")

    def test_dropped_connections(self):
        for step in ["greeting", "MAIL", "RCPT", "DATA", "DATA_BODY", "END"]:
            with self.subTest(step=step):
                (sent, number, description), server, _ = self.run_against({"drop_at": step})
                self.assertFalse(sent, "a dropped delivery was reported as sent")
                self.assertTrue(description)
                self.assertFalse(server.message_completed)

    def test_silent_server_fails_within_the_timeout(self):
        for step in ["greeting", "RCPT", "END"]:
            with self.subTest(step=step):
                (sent, number, description), server, elapsed = self.run_against({"silent_at": step})
                self.assertFalse(sent)
                self.assertIn("did not answer in time", description)
                self.assertLess(elapsed, REPLY_TIMEOUT_MS / 1000 + 10)

    def test_replies_that_never_end_fail_within_the_timeout(self):
        protocol_violation = MAIL_BASE + 5
        for script, number in [({"endless_at": "greeting"}, protocol_violation),
                               ({"endless_at": "EHLO", "endless_pause": 0.05}, None),
                               ({"greeting": "220 " + "x" * 70000}, protocol_violation)]:
            with self.subTest(script=str(script)[:60]):
                (sent, got, description), server, elapsed = self.run_against(script)
                self.assertFalse(sent)
                if number:
                    self.assertEqual(got, number, description)
                    self.assertIn("never ends", description)
                else:
                    self.assertIn("did not answer in time", description)
                self.assertLess(elapsed, REPLY_TIMEOUT_MS / 1000 + 10)

    def test_control_characters_of_a_reply_are_shown_replaced(self):
        (sent, _, description), _, _ = self.run_against({"MAIL": "550 5.7.1 no\x00 such\rFrom Address: x\x1b[2J"})
        self.assertFalse(sent)
        self.assertIn("550 5.7.1 no? such?From Address: x?[2J", description)

    def test_no_sign_in_in_the_clear_and_no_plaintext_after_the_go_ahead_for_tls(self):
        ann = [("user", "ann"), ("password", "pa55word")]
        offers = "250-scripted.example\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME"
        tls_required, protocol_violation = MAIL_BASE + 7, MAIL_BASE + 5
        cases = [
            ("a sign-in offered without TLS", {"EHLO": offers}, ann, tls_required, ["EHLO", "QUIT"]),
            ("a sign-in wanted without TLS", {"EHLO": offers, "MAIL": "530 5.7.0 sign in first"}, (), tls_required,
             ["EHLO", "MAIL", "QUIT"]),
            ("plaintext after the go-ahead for TLS",
             {"EHLO": "250-x\r\n250 STARTTLS", "STARTTLS": "220 go\r\n250 PIPELINED"}, ann, protocol_violation,
             ["EHLO", "STARTTLS"]),
        ]
        for what, script, sign_in, number, commands in cases:
            with self.subTest(what):
                (sent, got, description), server, _ = self.run_against(script, sign_in=sign_in)
                self.assertFalse(sent)
                self.assertEqual(got, number, description)
                self.assertEqual([c.split(":")[0].split(" ")[0] for c in server.commands], commands)

    def test_nobody_listening(self):
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
        probe.close()
        sent, number, description = CLIENT.send([("server", "127.0.0.1:%d" % port), ("from", "me@example.com"),
                                                 ("to", "ann@example.com"), ("subject", "s"), ("body", "b")])
        self.assertFalse(sent)
        self.assertIn("127.0.0.1:%d" % port, description)


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
