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

import email
import email.policy
import email.utils
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "..", "tools", name) for name in ("smtp_send", "smtp_catcher", "imap_server")]
from imap_server import Dovecot  # noqa: E402
from smtp_client import free_port, run_case as run_client_case  # noqa: E402

CLIENT, SMTP_CLIENT, TESTS, WINE, CA_DIR = None, None, None, False, None
MAIL_BASE = -2147220992
TLS_REQUIRED, SIGN_IN_FAILED, NO_SENT_FOLDER = (MAIL_BASE + n for n in (7, 11, 15))
# ann has the Sent folder flagged \Sent, cid one named "Sent Items", bob none;
# reader is the SMTP catchers' account, with an IMAP password of its own.
PASSWORDS = {"ann": "pa55 \"word\\", "bob": "bobs-secret", "cid": "cids-secret", "reader": "imap-only-secret"}
FOLDERS = {"ann": ["Sent"], "cid": ["Sent Items"], "bob": ["Drafts"], "reader": ["Sent"]}


def run_case(program, fields):
    """Runs a command-line client on a case file of `fields`; what it printed."""
    out, done = run_client_case(program, fields, WINE)
    if not out:
        raise AssertionError("%s printed nothing, exit code %d: %s" %
                             (os.path.basename(program), done.returncode, done.stderr.decode("utf-8", "replace")[-2000:]))
    return out


def place(port, message, tls="implicit", user="ann", password=None, timeout_ms=10000, **fields):
    """Runs the client once; (outcome, number or folder, description or APPENDUID)."""
    fields = dict(host="localhost", port=str(port), tls=tls, message=message, timeout_ms=str(timeout_ms),
                  ca=os.path.join(CA_DIR, "ca.pem"), **fields)
    if user:
        fields.update(user=user, password=PASSWORDS.get(user, "") if password is None else password)
    out = run_case(CLIENT, list(fields.items()))
    first, _, rest = out.partition("\n")
    if first.startswith("PLACED "):
        folder, _, uid = first[len("PLACED "):].partition("\t")
        return "placed", folder, uid
    for outcome in ("SIGN-IN REFUSED ", "FAILED "):
        if first.startswith(outcome):
            return outcome.strip().lower(), int(first[len(outcome):]), rest.strip()
    raise AssertionError("client gave no result: %r" % out)


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
        cls.work = tempfile.mkdtemp(prefix="kt-dovecot-")
        cls.dovecot = Dovecot(cls.work, CA_DIR, PASSWORDS, FOLDERS)

    @classmethod
    def tearDownClass(cls):
        cls.dovecot.stop()
        if os.environ.get("KT_SHOW_DOVECOT_LOG"):
            with open(os.path.join(cls.work, "dovecot.log")) as log:
                sys.stderr.write(log.read()[-3000:])
        shutil.rmtree(cls.work, ignore_errors=True)

    def assertLanded(self, user, folder, sent):
        copies = [body for flags, body in self.dovecot.mailbox(user, folder) if body == sent]
        self.assertEqual(len(copies), 1, "the copy byte for byte, once")
        flags = [flags for flags, body in self.dovecot.mailbox(user, folder) if body == sent][0]
        self.assertIn("\\Seen", flags)

    def test_the_copy_lands_byte_for_byte_seen_with_its_bcc(self):
        for tls, port in (("implicit", self.dovecot.imaps), ("starttls", self.dovecot.imap)):
            with self.subTest(tls=tls):
                sent = message(subject="Over " + tls)
                outcome, folder, uid = place(port, sent, tls=tls)
                self.assertEqual((outcome, folder), ("placed", "Sent"), uid)
                self.assertRegex(uid, r"^\d+ \d+$")  # UIDPLUS: the APPENDUID
                self.assertLanded("ann", "Sent", sent)
                self.assertIn(b"\r\nBcc: Bob <bob@example.com>\r\n", sent)

    def test_after_a_real_send_the_copy_is_what_the_smtp_server_received_and_the_bcc(self):
        from aiosmtpd.controller import Controller

        class Inbox:
            envelopes = []

            async def handle_DATA(self, server, session, envelope):
                self.envelopes.append(envelope)
                return "250 OK"

        inbox = Inbox()
        controller = Controller(inbox, hostname="127.0.0.1", port=free_port())
        controller.start()
        try:
            def send(*fields):
                out = run_case(SMTP_CLIENT, [
                    ("server", "localhost:%d" % controller.port), ("from", "ann@example.com"),
                    ("fromname", "Ann"), ("to", "cid@example.com"), ("bcc", "bob@example.com\tBob"),
                    ("bcc", "dan@example.com"), ("subject", "S\u00e4ved"), ("body", "<p>Hi J\u00f6rg</p>\r\n"),
                    ("html", "1"), ("user", "ann"), ("password", PASSWORDS["ann"]),
                    ("ca", os.path.join(CA_DIR, "ca.pem")), *fields])
                return out.split("\n")
            lines = send(("copy_mode", "always"), ("copy_server", "localhost:%d" % self.dovecot.imap))
            self.assertTrue(lines[0].startswith("SENT"), lines)
            self.assertEqual(lines[1], "COPY PLACED Sent")
            received = inbox.envelopes[-1].original_content
            header_end = received.index(b"\r\n\r\n") + 2
            bcc = b"Bcc: Bob <bob@example.com>, dan@example.com\r\n"
            self.assertLanded("ann", "Sent", received[:header_end] + bcc + received[header_end:])
            self.assertEqual(len(inbox.envelopes[-1].rcpt_tos), 3)

            # "never" places none, nor "auto" for a provider that files its own, its Server set all the same.
            for mode, planned_for, outcome in (("never", "localhost", "COPY NONE"),
                                               ("auto", "smtp.gmail.com", "COPY NONE"),
                                               ("auto", "mail.example.org", "COPY PLACED Sent")):
                with self.subTest(mode=mode, host=planned_for):
                    before = len(self.dovecot.mailbox("ann", "Sent"))
                    lines = send(("copy_mode", mode), ("copy_server", "localhost:%d" % self.dovecot.imap),
                                 ("copy_planned_for", planned_for))
                    self.assertEqual(lines[1], outcome)
                    self.assertEqual(len(self.dovecot.mailbox("ann", "Sent")), before + (outcome != "COPY NONE"))
            # A Sent folder that cannot be found: the message went once all the same.
            count = len(inbox.envelopes)
            lines = send(("copy_mode", "always"), ("copy_server", "localhost:%d" % self.dovecot.imap),
                         ("copy_folder", "Nowhere"))
            self.assertTrue(lines[0].startswith("SENT"), lines)
            self.assertTrue(lines[1].startswith("COPY FAILED %d " % NO_SENT_FOLDER), lines)
            self.assertEqual(len(inbox.envelopes), count + 1)
        finally:
            controller.stop()

    def test_the_folder_by_name_where_none_is_flagged_and_none_at_all(self):
        sent = message()
        self.assertEqual(place(self.dovecot.imaps, sent, user="cid")[:2], ("placed", "Sent Items"))
        self.assertLanded("cid", "Sent Items", sent)
        outcome, number, text = place(self.dovecot.imaps, message(), user="bob")
        self.assertEqual((outcome, number), ("failed", NO_SENT_FOLDER), text)
        self.assertIn("no Sent folder", text)

    def test_a_refused_password(self):
        started = time.monotonic()
        outcome, number, text = place(self.dovecot.imaps, message(), password="wrong")
        self.assertEqual((outcome, number), ("sign-in refused", SIGN_IN_FAILED), text)
        self.assertLess(time.monotonic() - started, 10)

    def test_user_text_never_becomes_a_command(self):
        # A folder named in the settings that would end APPEND and delete the inbox.
        outcome, number, _ = place(self.dovecot.imaps, message(), folder='Sent" (\\Seen) {1}\r\nx\r\nA9 DELETE INBOX')
        self.assertEqual(outcome, "failed")
        outcome, _, _ = place(self.dovecot.imaps, message(), folder='Sent" DELETE "INBOX')
        self.assertEqual(outcome, "failed")
        self.assertEqual(place(self.dovecot.imaps, message(), folder="INBOX")[0], "placed")  # the inbox is there

    def test_a_server_without_tls_gets_no_credentials(self):
        server = ScriptedServer(b"* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN LOGIN] no TLS here", {})
        outcome, number, text = place(server.port, message(), tls="starttls")
        self.assertEqual((outcome, number), ("failed", TLS_REQUIRED), text)
        self.assertNotIn(PASSWORDS["ann"].encode(), server.received)
        self.assertNotIn(b"LOGIN", server.received)
        self.assertNotIn(b"AUTHENTICATE", server.received)

    def test_a_server_that_is_down_or_stalls_or_drips_mid_append_ends_in_time(self):
        port = free_port()  # nothing listens there
        self.assertEqual(place(port, message(), tls="starttls")[0], "failed")
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

    def test_through_the_component_the_dialog_asks_once_for_the_imap_password_and_both_copies_land(self):
        if not TESTS:
            self.skipTest("the component's copy runs under Wine")
        subject = "Copied by the component %d" % os.getpid()
        environment = dict(os.environ, KT_IMAP_SERVER="localhost:%d" % self.dovecot.imap,
                           KT_IMAP_PASSWORD=PASSWORDS["reader"], KT_SENT_COPY_SUBJECT=subject)
        done = subprocess.run(["wine", TESTS, "--gtest_filter=SentCopyTest.OverImap*"], env=environment,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        self.assertIn("[  PASSED  ] 1 test.", done.stdout, done.stdout[-4000:])
        copies = {email.message_from_bytes(body, policy=email.policy.default)["Subject"]: flags
                  for flags, body in self.dovecot.mailbox("reader", "Sent")}
        for n in (1, 2):
            self.assertIn("\\Seen", copies.get("%s %d" % (subject, n), ""), copies)


def main():
    global CLIENT, SMTP_CLIENT, TESTS, WINE, CA_DIR
    args = sys.argv[1:]
    if "--wine" in args:
        args.remove("--wine")
        WINE = True
    if "--tests" in args:
        index = args.index("--tests")
        TESTS = args[index + 1]
        del args[index:index + 2]
    index = args.index("--client")
    CLIENT = args[index + 1]
    del args[index:index + 2]
    index = args.index("--smtp-client")
    SMTP_CLIENT = args[index + 1]
    del args[index:index + 2]
    if "--ca" in args:
        index = args.index("--ca")
        CA_DIR = args[index + 1]
        del args[index:index + 2]
    else:
        CA_DIR = tempfile.mkdtemp(prefix="kt-imap-ca-")
        import atexit
        atexit.register(shutil.rmtree, CA_DIR, True)
    if not os.path.exists("/usr/sbin/dovecot"):
        print("Dovecot (dovecot-imapd) is not installed")
        return 1
    unittest.main(argv=[sys.argv[0], "-v", *args])


if __name__ == "__main__":
    sys.exit(main())
