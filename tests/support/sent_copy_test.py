#!/usr/bin/python3
"""The Sent copy's IMAP client (imap_copy) against a real IMAP server: Debian's
Dovecot, started unprivileged with a private configuration on loopback (TLS
from the test authority, implicit and STARTTLS; a passwd-file for passwords;
an oauth2 passdb whose introspection goes to a small endpoint here), with
Python's imaplib reading what arrived as the independent oracle; and small
servers of our own that offer no TLS or stall in the middle of APPEND.

    sent_copy_test.py --client PATH [--wine] --ca CA_DIR

CA_DIR holds the test certificate authority the client trusts (natively the
client is given its file; under Wine the prefix trusts it).
"""

import email.utils
import http.server
import imaplib
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "..", "tools", name) for name in ("smtp_send", "smtp_catcher")]
from certificates import Authority  # noqa: E402
from smtp_client import free_port  # noqa: E402

CLIENT, SMTP_CLIENT, WINE, CA_DIR = None, None, False, None
MAIL_BASE = -2147220992
TLS_REQUIRED, SIGN_IN_FAILED, NO_SENT_FOLDER = (MAIL_BASE + n for n in (7, 11, 15))
PASSWORDS = {"ann": "pa55 \"word\\", "bob": "bobs-secret", "cid": "cids-secret"}
GOOD_TOKEN = "ya29.good-token"


def run_case(program, fields):
    """Runs a command-line client on a case file of `fields`; its output."""
    with tempfile.NamedTemporaryFile(delete=False, suffix=".case") as case:
        for key, value in fields:
            data = value.encode("utf-8") if isinstance(value, str) else value
            case.write(b"%s %d\n" % (key.encode(), len(data)) + data + b"\n")
    try:
        command = [program, case.name]
        if WINE:
            command = ["wine", program, "Z:" + case.name.replace("/", "\\")]
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    finally:
        os.unlink(case.name)
    return done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")


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


class Introspection(http.server.BaseHTTPRequestHandler):
    """The authorization server's introspection endpoint (RFC 7662), as Dovecot asks it."""

    def do_POST(self):
        form = urllib.parse.parse_qs(self.rfile.read(int(self.headers["Content-Length"])).decode())
        token = form.get("token", [""])[0] or self.headers.get("Authorization", "").replace("Bearer ", "")
        answer = {"active": "true", "username": "ann"} if token == GOOD_TOKEN else {"active": "false"}
        body = json.dumps(answer).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Dovecot:
    """A private Dovecot: implicit TLS on one port, STARTTLS on another."""

    def __init__(self, work, introspection_url):
        self.work = work
        self.imaps, self.imap = free_port(), free_port()
        issued = Authority(CA_DIR).issue("dovecot")
        user = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
        group = subprocess.run(["id", "-gn"], capture_output=True, text=True).stdout.strip()
        # Dovecot runs no process but its master as root: as root the others go as nobody.
        if os.getuid() == 0:
            user, group = "nobody", "nogroup"
            os.chmod(work, 0o755)
        with open(os.path.join(work, "passwd"), "w") as f:
            for name, password in PASSWORDS.items():
                f.write("%s:{PLAIN}%s\n" % (name, password))
        with open(os.path.join(work, "oauth2.conf.ext"), "w") as f:
            f.write("introspection_mode = post\nintrospection_url = %s\nusername_attribute = username\n"
                    "active_attribute = active\nactive_value = true\n" % introspection_url)
        # ann has the Sent folder flagged \Sent, cid one named "Sent Items", bob none.
        for folder in ("ann/.Sent", "cid/.Sent Items", "bob/.Drafts"):
            for sub in ("cur", "new", "tmp"):
                os.makedirs(os.path.join(work, "mail", folder, sub), exist_ok=True)
        for top, folders, files in os.walk(os.path.join(work, "mail")):
            for name in [top] + [os.path.join(top, f) for f in folders + files]:
                shutil.chown(name, user, group)
        config = """protocols = imap
listen = 127.0.0.1
base_dir = {w}/run
state_dir = {w}/state
log_path = {w}/dovecot.log
default_internal_user = {u}
default_internal_group = {g}
default_login_user = {u}
mail_location = maildir:{w}/mail/%u
auth_mechanisms = plain login xoauth2 oauthbearer
ssl = required
ssl_cert = <{cert}
ssl_key = <{key}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {imaps}
    ssl = yes
  }}
  chroot =
}}
service anvil {{
  chroot =
}}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {w}/passwd
  mechanisms = plain login
}}
passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {w}/oauth2.conf.ext
}}
userdb {{
  driver = static
  args = uid={u} gid={g} home={w}/mail/%u
}}
namespace inbox {{
  inbox = yes
  separator = /
  mailbox Sent {{
    special_use = \\Sent
  }}
}}
""".format(w=work, u=user, g=group, cert=issued.chain, key=issued.key, imap=self.imap, imaps=self.imaps)
        self.config = os.path.join(work, "dovecot.conf")
        with open(self.config, "w") as f:
            f.write(config)
        self.process = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", self.config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.imaps), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    raise AssertionError("Dovecot did not start: %r" % self.process.stderr.read())
                time.sleep(0.1)
        raise AssertionError("Dovecot did not listen")

    def stop(self):
        self.process.terminate()
        self.process.wait(10)

    def mailbox(self, user, folder):
        """What the folder holds, read by imaplib: [(flags, bytes)]."""
        context = ssl.create_default_context(cafile=os.path.join(CA_DIR, "ca.pem"))
        with imaplib.IMAP4_SSL("localhost", self.imaps, ssl_context=context) as imap:
            imap.login(user, PASSWORDS[user])
            status, _ = imap.select('"%s"' % folder, readonly=True)
            assert status == "OK", folder
            _, numbers = imap.search(None, "ALL")
            found = []
            for number in numbers[0].split():
                _, data = imap.fetch(number, "(FLAGS BODY.PEEK[])")
                found.append((data[0][0].decode(), data[0][1]))
            return found


class ScriptedServer:
    """One connection at a time on loopback: sends `greeting`, then answers
    each line by its verb from `answers` ("$" is the tag); keeps what came."""

    def __init__(self, greeting, answers, stall_after_go_ahead=False):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.greeting, self.answers, self.stall = greeting, answers, stall_after_go_ahead
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
                        if self.stall:
                            time.sleep(60)
                            return
                        continue
                    connection.sendall(self.answers.get(verb, b"$ OK").replace(b"$", tag) + b"\r\n")


class SentCopyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="kt-dovecot-")
        cls.introspection = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Introspection)
        threading.Thread(target=cls.introspection.serve_forever, daemon=True).start()
        cls.dovecot = Dovecot(cls.work, "http://127.0.0.1:%d/introspect" % cls.introspection.server_port)

    @classmethod
    def tearDownClass(cls):
        cls.dovecot.stop()
        cls.introspection.shutdown()
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

            # "never" places none; a listed provider's host with "auto" is the plan's unit test.
            lines = send(("copy_mode", "never"), ("copy_server", "localhost:%d" % self.dovecot.imap))
            self.assertEqual(lines[1], "COPY NONE")
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

    def test_a_token_with_xoauth2(self):
        sent = message(subject="With a token")
        self.assertEqual(place(self.dovecot.imaps, sent, user="ann", password=GOOD_TOKEN, bearer="1")[:2],
                         ("placed", "Sent"))
        self.assertLanded("ann", "Sent", sent)
        outcome, number, text = place(self.dovecot.imaps, message(), user="ann", password="ya29.bad", bearer="1")
        self.assertEqual((outcome, number), ("sign-in refused", SIGN_IN_FAILED), text)

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

    def test_a_server_that_is_down_or_stalls_mid_append_ends_in_time(self):
        port = free_port()  # nothing listens there
        self.assertEqual(place(port, message(), tls="starttls")[0], "failed")
        # A server past TLS is not scripted here; a plain one that knows the user
        # already takes the command, gives the go-ahead and stalls.
        server = ScriptedServer(b"* PREAUTH [CAPABILITY IMAP4rev1 SPECIAL-USE] hi",
                                {b"LIST": b'* LIST (\\Sent) "/" Sent\r\n$ OK'}, stall_after_go_ahead=True)
        started = time.monotonic()
        outcome, _, text = place(server.port, message() * 2000, tls="starttls", user=None, timeout_ms=3000)
        self.assertEqual(outcome, "failed", text)
        self.assertLess(time.monotonic() - started, 20)


def main():
    global CLIENT, SMTP_CLIENT, WINE, CA_DIR
    args = sys.argv[1:]
    if "--wine" in args:
        args.remove("--wine")
        WINE = True
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
