#!/usr/bin/python3
"""The Sent copy's IMAP client (imap_copy) against a real IMAP server: Debian's
Dovecot, started unprivileged with a private configuration on loopback (TLS
from the test authority, implicit and STARTTLS; a passwd-file for passwords;
tools/imap_server), with Python's imaplib reading what arrived as the
independent oracle; small servers of our own that offer no TLS, or stall or
drip in the middle of APPEND; and, under Wine, the whole component's copy
with the system's sign-in dialog (windows_tests, SentCopyTest.OverImap*).
Tokens are tested with the real authorization server in oauth_test.py.

    sent_copy_test.py --client PATH --smtp-client PATH [--wine --tests PATH] --ca CA_DIR

CA_DIR holds the test certificate authority the client trusts (natively the
client is given its file; under Wine the prefix trusts it).
"""

import atexit
import email
import email.policy
import email.utils
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from mail_harness import MAIL_BASE, dovecot, free_port, main, options, run_case as run_client_case, smtp_server

ARGS = options("--client", "--smtp-client", "--tests", "--ca")
if not ARGS.ca:
    ARGS.ca = tempfile.mkdtemp(prefix="kt-imap-ca-")
    atexit.register(shutil.rmtree, ARGS.ca, True)
TLS_REQUIRED, SIGN_IN_FAILED, NO_SENT_FOLDER = (MAIL_BASE + n for n in (7, 11, 15))
# ann has the Sent folder flagged \Sent, cid one named "Sent Items", bob none;
# reader is the SMTP catchers' account, with an IMAP password of its own.
PASSWORDS = {"ann": "pa55 \"word\\", "bob": "bobs-secret", "cid": "cids-secret", "reader": "imap-only-secret"}
FOLDERS = {"ann": ["Sent"], "cid": ["Sent Items"], "bob": ["Drafts"], "reader": ["Sent"]}


def run_case(program, fields):
    """Runs a command-line client on a case file of `fields`; what it printed."""
    out, done = run_client_case(program, fields, ARGS.wine)
    if not out:
        raise AssertionError("%s printed nothing, exit code %d: %s" %
                             (os.path.basename(program), done.returncode, done.stderr.decode("utf-8", "replace")[-2000:]))
    return out


def place(port, message, tls="implicit", user="ann", password=None, timeout_ms=10000, **fields):
    """Runs the client once; ("placed", folder, APPENDUID) or ("failed" or "sign-in refused", number, description)."""
    fields = dict(host="localhost", port=str(port), tls=tls, message=message, timeout_ms=str(timeout_ms),
                  ca=os.path.join(ARGS.ca, "ca.pem"), **fields)
    if user:
        fields.update(user=user, password=PASSWORDS.get(user, "") if password is None else password)
    out = run_case(ARGS.client, list(fields.items()))
    result = re.match(r"PLACED (.*)\t(.*)\n|(SIGN-IN REFUSED|FAILED) (-?\d+)\n", out)
    if not result:
        raise AssertionError("client gave no result: %r" % out)
    placed, uid, outcome, number = result.groups()
    return ("placed", placed, uid) if placed else (outcome.lower(), int(number), out[result.end():].strip())


def message(subject="A page for you", bcc="Bcc: Bob <bob@example.com>\r\n"):
    """A message as the SMTP session sent it, with the Bcc header that only the copy has."""
    return ("Date: %s\r\nMessage-ID: %s\r\nFrom: Ann <ann@example.com>\r\nTo: cid@example.com\r\n%s"
            "Subject: %s\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Transfer-Encoding: 8bit\r\n\r\nHave a look.\r\n.dot at a line's start\r\nJ\xf6rg\r\n" %
            (email.utils.formatdate(localtime=True), email.utils.make_msgid(domain="example.com"), bcc,
             subject)).encode("utf-8")


class ScriptedServer:
    """One connection at a time on loopback: sends `greeting`, then answers
    each line by its verb from `answers` ("$" is the tag); keeps what came.
    After the go-ahead for a literal it may `stall` (take nothing), or `drip`
    (take 4 KB a tenth of a second, so that a write always moves a little)."""

    def __init__(self, greeting, answers, after_go_ahead=None):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.greeting, self.answers, self.after_go_ahead = greeting, answers, after_go_ahead
        self.received = b""
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        connection, _ = self.listener.accept()
        with connection:
            connection.sendall(self.greeting + b"\r\n")
            buffer = b""
            while True:
                data = connection.recv(65536)
                if not data:
                    return
                self.received += data
                buffer += data
                while b"\r\n" in buffer:
                    line, buffer = buffer.split(b"\r\n", 1)
                    tag, _, rest = line.partition(b" ")
                    verb = rest.split(b" ")[0].upper()
                    if line.endswith(b"}"):
                        connection.sendall(b"+ go ahead\r\n")
                        if self.after_go_ahead == "stall":
                            time.sleep(60)
                            return
                        if self.after_go_ahead == "drip":
                            connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                            deadline = time.monotonic() + 60
                            while time.monotonic() < deadline and connection.recv(4096):
                                time.sleep(0.1)
                            return
                        continue
                    connection.sendall(self.answers.get(verb, b"$ OK").replace(b"$", tag) + b"\r\n")


class SentCopyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dovecot = cls.enterClassContext(dovecot(ARGS.ca, PASSWORDS, FOLDERS))

    def assertLanded(self, user, folder, sent):
        flags = [flags for flags, body in self.dovecot.mailbox(user, folder) if body == sent]
        self.assertEqual(len(flags), 1, "the copy byte for byte, once")
        self.assertIn("\\Seen", flags[0])

    def test_the_copy_lands_byte_for_byte_seen_with_its_bcc_in_the_folder_flagged_sent_or_else_by_name(self):
        for tls, port, user, folder in (("implicit", self.dovecot.imaps, "ann", "Sent"),
                                        ("starttls", self.dovecot.imap, "ann", "Sent"),
                                        ("implicit", self.dovecot.imaps, "cid", "Sent Items")):
            with self.subTest(tls=tls, user=user):
                sent = message(subject="Over " + tls)
                outcome, placed_in, uid = place(port, sent, tls=tls, user=user)
                self.assertEqual((outcome, placed_in), ("placed", folder), uid)
                self.assertRegex(uid, r"^\d+ \d+$")  # UIDPLUS: the APPENDUID
                self.assertLanded(user, folder, sent)
                self.assertIn(b"\r\nBcc: Bob <bob@example.com>\r\n", sent)

    def test_after_a_real_send_the_copy_is_what_the_smtp_server_received_and_the_bcc(self):
        inbox, port = self.enterContext(smtp_server())

        def send(mode, *fields):
            return run_case(ARGS.smtp_client, [
                ("server", "localhost:%d" % port), ("from", "ann@example.com"),
                ("fromname", "Ann"), ("to", "cid@example.com"), ("bcc", "bob@example.com\tBob"),
                ("bcc", "dan@example.com"), ("subject", "S\u00e4ved"), ("body", "<p>Hi J\u00f6rg</p>\r\n"),
                ("html", "1"), ("user", "ann"), ("password", PASSWORDS["ann"]), ("ca", os.path.join(ARGS.ca, "ca.pem")),
                ("copy_mode", mode), ("copy_server", "localhost:%d" % self.dovecot.imap), *fields]).split("\n")
        lines = send("always")
        self.assertTrue(lines[0].startswith("SENT"), lines)
        self.assertEqual(lines[1], "COPY PLACED Sent")
        _, recipients, received = inbox.envelopes[-1]
        header_end = received.index(b"\r\n\r\n") + 2
        bcc = b"Bcc: Bob <bob@example.com>, dan@example.com\r\n"
        self.assertLanded("ann", "Sent", received[:header_end] + bcc + received[header_end:])
        self.assertEqual(len(recipients), 3)
        # "never" places none, nor "auto" for a provider that files its own, its Server set all the same.
        for mode, planned_for, outcome in (("never", "localhost", "COPY NONE"),
                                           ("auto", "smtp.gmail.com", "COPY NONE"),
                                           ("auto", "mail.example.org", "COPY PLACED Sent")):
            with self.subTest(mode=mode, host=planned_for):
                before = len(self.dovecot.mailbox("ann", "Sent"))
                self.assertEqual(send(mode, ("copy_planned_for", planned_for))[1], outcome)
                self.assertEqual(len(self.dovecot.mailbox("ann", "Sent")), before + (outcome != "COPY NONE"))
        # A Sent folder that cannot be found: the message went once all the same.
        count = len(inbox.envelopes)
        lines = send("always", ("copy_folder", "Nowhere"))
        self.assertTrue(lines[0].startswith("SENT"), lines)
        self.assertTrue(lines[1].startswith("COPY FAILED %d " % NO_SENT_FOLDER), lines)
        self.assertEqual(len(inbox.envelopes), count + 1)

    def test_what_the_server_refuses_ends_in_time_with_the_reason_and_user_text_never_becomes_a_command(self):
        for fields, outcome, number, words in [
            (dict(user="bob"), "failed", NO_SENT_FOLDER, "no Sent folder"),
            (dict(password="wrong"), "sign-in refused", SIGN_IN_FAILED, ""),
            # Folders named in the settings that would end APPEND and delete the inbox.
            (dict(folder='Sent" (\\Seen) {1}\r\nx\r\nA9 DELETE INBOX'), "failed", None, ""),
            (dict(folder='Sent" DELETE "INBOX'), "failed", None, ""),
        ]:
            with self.subTest(**fields):
                started = time.monotonic()
                got, got_number, text = place(self.dovecot.imaps, message(), **fields)
                self.assertEqual((got, got_number if number else None), (outcome, number), text)
                self.assertIn(words, text)
                self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(place(self.dovecot.imaps, message(), folder="INBOX")[0], "placed")  # the inbox is there

    def test_a_server_without_tls_gets_no_credentials(self):
        server = ScriptedServer(b"* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN LOGIN] no TLS here", {})
        outcome, number, text = place(server.port, message(), tls="starttls")
        self.assertEqual((outcome, number), ("failed", TLS_REQUIRED), text)
        for secret in (PASSWORDS["ann"].encode(), b"LOGIN", b"AUTHENTICATE"):
            self.assertNotIn(secret, server.received)

    def test_a_server_that_is_down_or_stalls_or_drips_mid_append_ends_in_time(self):
        self.assertEqual(place(free_port(), message(), tls="starttls")[0], "failed")  # nothing listens there
        # A server past TLS is not scripted here; a plain one that knows the user
        # already takes the command, gives the go-ahead, then stalls, or takes
        # 40 KB a second of 24 MB: the copy's time in all ends either.
        for after, copies in (("stall", 2000), ("drip", 80000)):
            with self.subTest(after_go_ahead=after):
                server = ScriptedServer(b"* PREAUTH [CAPABILITY IMAP4rev1 SPECIAL-USE] hi",
                                        {b"LIST": b'* LIST (\\Sent) "/" Sent\r\n$ OK'}, after_go_ahead=after)
                started = time.monotonic()
                outcome, _, text = place(server.port, message() * copies, tls="starttls", user=None, timeout_ms=3000)
                self.assertEqual(outcome, "failed", text)
                self.assertLess(time.monotonic() - started, 10)
                self.assertIn(b" APPEND ", server.received)  # it ended in the middle of the message
                self.assertIn("APPEND", text)  # and says so

    @unittest.skipUnless(ARGS.tests, "the component's copy runs under Wine")
    def test_through_the_component_the_dialog_asks_once_for_the_imap_password_and_both_copies_land(self):
        subject = "Copied by the component %d" % os.getpid()
        environment = dict(os.environ, KT_IMAP_SERVER="localhost:%d" % self.dovecot.imap,
                           KT_IMAP_PASSWORD=PASSWORDS["reader"], KT_SENT_COPY_SUBJECT=subject)
        done = subprocess.run(["wine", ARGS.tests, "--gtest_filter=SentCopyTest.OverImap*"], env=environment,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        self.assertIn("[  PASSED  ] 1 test.", done.stdout, done.stdout[-4000:])
        copies = {email.message_from_bytes(body, policy=email.policy.default)["Subject"]: flags
                  for flags, body in self.dovecot.mailbox("reader", "Sent")}
        for n in (1, 2):
            self.assertIn("\\Seen", copies.get("%s %d" % (subject, n), ""), copies)


if __name__ == "__main__":
    if not os.path.exists("/usr/sbin/dovecot"):
        sys.exit("Dovecot (dovecot-imapd) is not installed")
    main()
