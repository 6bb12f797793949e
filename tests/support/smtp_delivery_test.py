#!/usr/bin/python3
"""The SMTP mail component against servers on loopback: aiosmtpd, with
Python's email package reading what arrived as the independent oracle; a
scripted server that refuses, drops, stays silent or never ends a reply at
each step; and (with --ca, the authority the Wine prefix trusts) TLS servers
that cannot be trusted. Every fault must end the delivery with the error that
names it, and nothing half-sent may count as sent.

    smtp_delivery_test.py --client PATH [--wine] [--ca CA_DIR]
"""

import base64
import email
import email.header
import email.policy
import errno
import os
import re
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

from mail_harness import MAIL_BASE, MailClient, free_port, main, options, smtp_server, tls_context

ARGS = options("--client", "--ca")
CLIENT = MailClient(ARGS.client, ARGS.wine)
REPLY_TIMEOUT_MS = 1500
PROTOCOL_VIOLATION, CONNECTION_CLOSED = (MAIL_BASE + n for n in (5, 6))
SILENT, DROP, ENDLESS, ENDLESS_SLOWLY, STALL = "silent", "drop", "endless", "endless slowly", "stall"
WINSOCK_CODES = {"ETIMEDOUT": 10060, "ECONNREFUSED": 10061, "ECONNRESET": 10054, "ECONNABORTED": 10053}


def system_error(name):
    """The number of a failed socket call, as the client's socket layer gives it."""
    return -2147192504 + (WINSOCK_CODES.get(name, 0) if ARGS.wine else getattr(errno, name))


def send(server, *fields):
    """One message to `server` ("host:port"); (sent, error number, description)."""
    return CLIENT.send([("server", server), ("from", "me@example.com"), ("subject", "s"),
                        ("body", "line one\r\nline two\r\n" * 1000), ("reply_timeout_ms", str(REPLY_TIMEOUT_MS)),
                        ("to", "ann@example.com"), ("to", "bob@example.com"), *fields])


class OracleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.inbox, cls.port = cls.enterClassContext(smtp_server(data_size_limit=64 * 1024 * 1024))

    def deliver(self, body="Hello", subject="Greetings", to=(("ann@example.com", "Ann"),), cc=(), bcc=(),
                sender=("reader@example.com", "Reader"), html=False):
        before = len(self.inbox.envelopes)
        fields = [("server", "127.0.0.1:%d" % self.port), ("html", "1" if html else "0"), ("from", sender[0]),
                  ("fromname", sender[1]), ("subject", subject), ("body", body)]
        for kind, entries in (("to", to), ("cc", cc), ("bcc", bcc)):
            fields += [(kind, address + "\t" + name) for address, name in entries]
        sent, number, description = CLIENT.send(fields)
        self.assertTrue(sent, "delivery failed: %d %s" % (number, description))
        self.assertEqual(len(self.inbox.envelopes), before + 1)
        mail_from, rcpt_tos, raw = self.inbox.envelopes[-1]
        message = email.message_from_bytes(raw, policy=email.policy.default)
        parts = list(message.walk())
        self.assertEqual([d for part in parts for d in part.defects], [])
        encodings = [part["Content-Transfer-Encoding"] for part in parts if not part.is_multipart()]
        if "8bit" in encodings:
            self.assertTrue(self.inbox.offer_8bit, "8-bit text to a server that did not offer 8BITMIME")
            self.assertIn("BODY=8BITMIME", self.inbox.mails[-1][1])
        else:
            self.assertEqual(set(encodings), {"quoted-printable"})
            self.assertTrue(all(b < 128 for b in raw), "the message is not 7-bit")
        lines = raw.split(b"\r\n")
        self.assertNotIn(b"\n", b"".join(lines), "a line ends without CR")
        self.assertNotIn(b"\r", b"".join(lines), "a lone CR")
        self.assertLessEqual(max(len(line) for line in lines), 998)
        return mail_from, rcpt_tos, raw, message

    def body_of(self, message):
        return message.get_payload(decode=True).decode(message.get_content_charset())

    def test_envelope_and_the_headers_a_window_does_not_show(self):
        mail_from, rcpt_tos, raw, message = self.deliver(cc=(("cy@example.com", "Cy"),), bcc=(("dee@example.com", "Dee"),))
        self.assertEqual(mail_from, "reader@example.com")
        self.assertEqual(rcpt_tos, ["ann@example.com", "cy@example.com", "dee@example.com"])
        self.assertNotIn(b"dee@example.com", raw)
        self.assertEqual(str(message["Cc"]), "Cy <cy@example.com>")
        self.assertEqual(message["MIME-Version"], "1.0")
        self.assertIsNotNone(message["Date"].datetime)
        self.assertRegex(message["Message-ID"], r"^<[^<>@\s]+@example\.com>$")
        self.assertEqual((message.get_content_type(), message.get_content_charset()), ("text/plain", "utf-8"))

    def test_names_and_subjects_are_encoded_folded_within_the_line_limit_and_read_back_equal(self):
        many_words = " ".join("Word%d" % i for i in range(300))
        names = ['Lee, Ann', 'Zoë Ångström', '"Quoted" \\ name', 'Two  blanks', '日本語の名前', 'Dr. Who (TARDIS)',
                 many_words, ("Lee, Ann " * 30).strip(), ("Zoë Ångström Smith " * 12).strip(), "=?UTF-8?B?QmFuaw==?="]
        # Text too long for one encoded word becomes adjacent encoded words,
        # between which RFC 2047 drops the blank; the email package's address
        # parser keeps it (CPython gh-128110), so these are read with its RFC
        # 2047 decoder.
        unbroken = ["a" * 300, "é" * 100, "Åsa Öberg Ærø Ñandú Çelik Åsa Öberg Ærø Ñandú Çelik"]
        to = tuple(("p%d@example.com" % i, name) for i, name in enumerate(names + unbroken))
        for subject in ["Grüße aus Köln — café ☕", "Grüße aus Köln, " * 8, "=?UTF-8?B?not-an-encoded-word?=",
                        " leading and trailing ",
                        many_words, "a" * 300, "日" * 200, "😀 emoji subject", "a" + " " * 1000 + "b"]:
            with self.subTest(subject=subject[:20]):
                _, _, raw, message = self.deliver(subject=subject, to=to, sender=("me@example.com", many_words))
                header_block = raw.split(b"\r\n\r\n", 1)[0].decode("ascii")
                self.assertLessEqual(max(len(line) for line in header_block.split("\r\n")), 78)
                self.assertEqual(str(message["Subject"]), subject)
                self.assertEqual([a.display_name for a in message["To"].addresses][:len(names)], names)
                self.assertEqual(message["From"].addresses[0].display_name, many_words)
                # Encoded words followed by another end after a blank, where the text had one within reach:
                # readers with that bug then show two blanks where there was one, but split no word.
                for payload in re.findall(r"=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=(?=\s+=\?)", header_block):
                    text = base64.b64decode(payload).decode()
                    self.assertTrue(text.endswith(" ") or " " not in text, "a word split: %r" % text)
                to_field = re.search(r"^To: (.*?)\r\n(?! )", header_block, re.S | re.M).group(1)
                decoded = str(email.header.make_header(email.header.decode_header(to_field.replace("\r\n", ""))))
                for name in unbroken:
                    self.assertIn(name + " <", decoded)

    def test_bodies_arrive_intact_as_8_bit_where_offered_and_lines_allow_else_quoted_printable(self):
        bodies = {
            "non-ascii": "Grüße — naïve café\r\n日本語のテキスト\r\n😀 and 𝄞\r\n",
            "long line": "x" * 10000 + "\r\n" + "word " * 4000,
            "dots": ".\r\n..\r\n.leading dot\r\nmiddle.\r\n.\r\n",
            "lone breaks": "unix\nline\nbreaks and a lone\rCR",
            "blanks": "trailing blanks   \r\ntab\t\r\n   \r\nFrom the start",
            "equals and binary": "a=b == c =3D\x01\x7f",
            "empty": "",
        }
        encodings = {}
        for offer_8bit in (True, False):
            self.inbox.offer_8bit = offer_8bit
            for label, body in bodies.items():
                with self.subTest(body=label, offer_8bit=offer_8bit):
                    _, _, raw, message = self.deliver(body=body)
                    self.assertEqual(self.body_of(message), body)
                    encodings[label, offer_8bit] = message["Content-Transfer-Encoding"]
                    if encodings[label, offer_8bit] == "quoted-printable":
                        self.assertLessEqual(max(map(len, raw.split(b"\r\n\r\n", 1)[1].split(b"\r\n"))), 76)
        self.inbox.offer_8bit = True
        # Whole lines within the limit go as they are where the server takes them.
        self.assertEqual([encodings[label, True] for label in ("non-ascii", "dots", "long line", "lone breaks")],
                         ["8bit", "8bit", "quoted-printable", "quoted-printable"])
        self.assertEqual(encodings["non-ascii", False], "quoted-printable")

    def alternatives(self, page):
        """A page delivered: its plain-text part's text, after checking the HTML part is the page as it was."""
        _, _, raw, message = self.deliver(body=page, html=True)
        self.assertEqual(message.get_content_type(), "multipart/alternative")
        plain, html = message.get_payload()
        self.assertEqual((plain.get_content_type(), html.get_content_type()), ("text/plain", "text/html"))
        self.assertEqual(self.body_of(html), page)
        return self.body_of(plain)

    def test_a_page_goes_with_its_text_as_a_careful_reader_would_write_it(self):
        article = (
            "<!DOCTYPE html><html><head><title>Not shown</title><style>p { color: red }</style>"
            "<script>var x = '<p>not text</p>';</script></head>\r\n<body>\r\n"
            "<h1>Grüße &amp; news</h1>\r\n<p>First   paragraph\r\n  with a line<br>break and a "
            "<a href=\"https://example.com/more?a=1&amp;b=2\">link</a>, <a href=\"https://example.com/\">https://example.com/</a>"
            " and <a href='#top'>an anchor</a>.</p>\r\n"
            "<ul>\r\n <li>one</li>\r\n <li>two <img src=\"c.png\" alt=\"a chart\"><ol><li>inner</li></ol></li>\r\n</ul>\r\n"
            "<table>\r\n<tr><th>Name</th> <th>Score</th></tr>\r\n<tr><td>Ann</td><td>42</td></tr>\r\n</table>\r\n"
            "<!-- <p>a comment</p> --><pre>  kept   as\r\n  it is</pre>"
            "<p>&copy; 2026 &#8212; &#x1F600; &unknown; 3 &lt; 4 &aring;&rarr;&Omega;</p>\r\n</body></html>\r\n")
        self.assertEqual(self.alternatives(article), "\r\n".join([
            "Grüße & news", "",
            "First paragraph with a line", "break and a link <https://example.com/more?a=1&b=2>, "
            "https://example.com/ and an anchor.", "",
            "- one", "- two a chart", "  - inner", "",
            "Name | Score", "Ann | 42", "",
            "  kept   as", "  it is", "",
            "© 2026 — 😀 &unknown; 3 < 4 å→Ω"]))
        # Markup that never ends, nesting no reader would follow, and 10 MB of a table cost nothing but their length.
        row = "<tr><td>Zeile</td><td>Grüße &amp; <b>fett</b></td><td>.dot</td></tr>\r\n"
        for page, text in [("<div>" * 100000 + "deep" + "</div>" * 100000, "deep"),
                           ("<html><body><table>\r\n" + row * 160000 + "</table></body></html>",
                            "\r\n".join(["Zeile | Grüße & fett | .dot"] * 160000)),
                           ("<ul><li>" * 30 + "x", " " * 16 + "- x"),
                           ("<p>a<b <!-- unclosed & < <a href=\"x", "a"),
                           ("a &" + "#" * 100000 + " < b" + "<" * 1000, "a &" + "#" * 100000 + " < b" + "<" * 1000)]:
            with self.subTest(page=page[:30]):
                self.assertEqual(self.alternatives(page), text)


class InternationalAddressTest(unittest.TestCase):
    """Addresses written beyond ASCII, at servers with and without SMTPUTF8."""

    # From the IDNA test data, where IDNA 2003 and 2008 agree (each build converts with its system's).
    PAIRS = [("info@bücher.example", "info@xn--bcher-kva.example"),
             ("Info@BÜCHER.Example", "Info@xn--bcher-kva.example"),
             ("a@例子.广告", "a@xn--fsqu00a.xn--4rr70v"),
             ("a@例子。广告", "a@xn--fsqu00a.xn--4rr70v"),
             ("a@пример.испытание", "a@xn--e1afmkfd.xn--80akhbyknj4f"),
             ("a@παράδειγμα.example", "a@xn--hxajbheg2az3al.example")]

    def deliver(self, smtputf8, to):
        """(sent, number, description, the server's inbox)."""
        with smtp_server(enable_SMTPUTF8=smtputf8) as (inbox, port):
            return (*CLIENT.send([("server", "127.0.0.1:%d" % port), ("from", "me@example.com"), ("fromname", "Me"),
                                  ("subject", "s"), ("body", "Grüße\r\n")] +
                                 [("to", address + "\t" + name) for address, name in to]), inbox)

    def test_domains_alone_go_in_their_ascii_form_and_read_as_written(self):
        sent, _, description, inbox = self.deliver(False, [(a, "") for a, _ in self.PAIRS] + [("ann@example.com", "Ann")])
        self.assertTrue(sent, description)
        _, rcpt_tos, raw = inbox.envelopes[0]
        self.assertEqual(rcpt_tos, [ascii for _, ascii in self.PAIRS] + ["ann@example.com"])
        self.assertNotIn("SMTPUTF8", inbox.mails[0][1])
        message = email.message_from_bytes(raw, policy=email.policy.default)  # readers see them as their names
        self.assertEqual([(a.display_name, a.addr_spec) for a in message["To"].addresses],
                         self.PAIRS + [("Ann", "ann@example.com")])
        self.assertTrue(all(b < 128 for b in raw.split(b"\r\n\r\n")[0]), "the headers are not ASCII")

    def test_a_local_part_beyond_ascii_goes_with_smtputf8_as_written_and_invalid_addresses_not_at_all(self):
        sent, _, description, inbox = self.deliver(True, [("jörg@bücher.example", "Jörg")])
        self.assertTrue(sent, description)
        self.assertEqual(inbox.mails, [("me@example.com", inbox.mails[0][1])])
        self.assertEqual(inbox.mails[0][1][:2], ["SMTPUTF8", "BODY=8BITMIME"])
        self.assertEqual(inbox.envelopes[0][1], ["jörg@bücher.example"])
        message = email.message_from_string(inbox.envelopes[0][2].decode("utf-8"), policy=email.policy.SMTPUTF8)
        self.assertEqual([(a.display_name, a.addr_spec) for a in message["To"].addresses], [("Jörg", "jörg@bücher.example")])
        self.assertEqual([d for part in message.walk() for d in part.defects], [])
        invalid_domain = "its domain is no valid international domain name"
        for address, number, words in [("a@-bücher.example", MAIL_BASE + 1, [invalid_domain]),
                                       ("a@bücher-.example", MAIL_BASE + 1, [invalid_domain]),
                                       ("a@" + "ü" * 60 + ".example", MAIL_BASE + 1, [invalid_domain]),
                                       ("jörg@example.de", MAIL_BASE + 14, ["jörg@example.de", "SMTPUTF8"])]:
            with self.subTest(address):  # to a server without SMTPUTF8: refused before MAIL
                sent, got, description, inbox = self.deliver(False, [(address, "Jörg")])
                self.assertEqual((sent, got), (False, number), description)
                for word in words:
                    self.assertIn(word, description)
                self.assertEqual((inbox.mails, inbox.envelopes), ([], []))


@unittest.skipIf(ARGS.wine, "the same bytes as the native client's")
class SpamScoreTest(unittest.TestCase):
    """Every kind of message the suite delivers, as Debian's SpamAssassin scores it by its local tests:
    nothing but the notes on a message that has not been relayed yet, and a total of 0 or below."""

    PAGE = ("<html><head><title>Welcome</title></head><body><h1>Welcome to Ardwyn</h1>"
            "<p>This page stands for whatever the user is reading, with a <a href=\"https://example.com/more\">link"
            "</a> and a list:</p><ul><li>one</li><li>two</li></ul></body></html>")
    KINDS = {
        "plain": [("subject", "A page worth reading"), ("body", "Dear Bob,\r\nhave a look at this page.\r\n")],
        "plain beyond ASCII": [("subject", "Grüße aus Köln — café"), ("fromname", "Zoë Ångström"),
                               ("body", "Grüße, naïve café\r\n日本語のテキスト\r\n")],
        "a page with a note": [("html", "1"), ("subject", "Welcome to Ardwyn"),
                               ("body", "<p>Have a look at this page.<br><br>Best wishes</p>\r\n<hr>\r\n" + PAGE)],
        "Bcc alone": [("bcc", "dee@example.com\tDee"), ("subject", "Hidden recipients"), ("body", "Hello\r\n")],
        "an international address": [("to", "info@bücher.example\t"), ("subject", "Bücher"), ("body", "Hallo\r\n")],
        "a local part beyond ASCII (SMTPUTF8)": [("to", "jörg@bücher.example\tJörg Müller"), ("subject", "Grüße"),
                                                 ("body", "Hallo Jörg\r\n")],
        "an article": [("html", "1"), ("subject", "Spring report"), ("body",
                       "<p>Worth a read.</p>\r\n<hr>\r\n<html><head><title>Spring report</title>"
                       "<style>td { padding: 2px }</style></head><body><h1>Spring report</h1>"
                       "<p>Figures for the season, with a <a href=\"https://example.com/chart\">chart</a>. Sales "
                       "rose in every region, most of all in the north, where the new shop opened in March.</p>"
                       "<table><tr><th>Month</th><th>Sales</th></tr>"
                       "<tr><td>March</td><td>120</td></tr><tr><td>April</td><td>135</td></tr></table>"
                       "<ol><li>Plan</li><li>Review</li></ol><p>&copy; 2026 Example &amp; Co.</p></body></html>")],
        "a long subject": [("subject", "A subject as long as subjects get when people paste a title " * 3),
                           ("body", "Hello\r\n")],
    }
    INFORMATIONAL = {"NO_RECEIVED", "NO_RELAYS", "HTML_MESSAGE"}

    def test_every_kind_of_message_scores_nothing(self):
        with smtp_server(enable_SMTPUTF8=True) as (inbox, port):
            for kind, fields in self.KINDS.items():
                with self.subTest(kind):
                    to = [] if any(k in ("to", "bcc") for k, _ in fields) else [("to", "bob@example.com\tBob Ray")]
                    sent, number, description = CLIENT.send([("server", "127.0.0.1:%d" % port),
                                                             ("from", "reader@example.com"),
                                                             ("fromname", "Ardwyn Reader")] + to + fields)
                    self.assertTrue(sent, description)
                    report = subprocess.run(["spamassassin", "-L", "-t"], input=inbox.envelopes[-1][2],
                                            capture_output=True, check=True).stdout.decode("utf-8", "replace")
                    score = float(re.search(r"Content analysis details:\s+\((-?[\d.]+) points", report).group(1))
                    rules = set(re.findall(r"^\s*-?[\d.]+ ([A-Z0-9_]+) ", report.split("Content analysis details:")[1],
                                           re.M))
                    self.assertLessEqual(score, 0, report[-1500:])
                    self.assertLessEqual(rules, self.INFORMATIONAL, report[-1500:])


class ScriptedServer:
    """Answers the dialogue normally except where `script` maps a step
    ("greeting", a verb, "BODY" in the data, "END" at its end) to a reply, a
    list of replies one per use, or a fault: SILENT, DROP, ENDLESS (reply
    lines as fast as the client takes them), ENDLESS_SLOWLY (one each 50 ms);
    for "BODY" also STALL (it stops reading), or a reply sent at the first
    line, after which it hangs up (or "BODY_THEN": STALL). A fault lasts three
    reply time-outs at most: a client that waited for it all then reports a
    closed connection, not the error the test wants. Records the commands."""

    DEFAULTS = {"greeting": "220 scripted.example ESMTP", "EHLO": "250-scripted.example\r\n250-PIPELINING\r\n250 8BITMIME",
                "DATA": "354 go ahead", "QUIT": "221 bye"}

    def __init__(self, script):
        self.script, self.message_completed, self.commands = script, False, []
        self.listener = socket.create_server(("127.0.0.1", 0))
        # Small buffers, so that a server that stops reading soon stops the client's writes, and one
        # that answers what it read waits for the client to read the answers.
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 16384)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self.dialogue, daemon=True)
        self.thread.start()

    def close(self):
        self.listener.close()
        self.thread.join(timeout=10)

    def step(self, connection, name):
        """Answers a step; False when the server goes no further."""
        reply = self.script.get(name, self.DEFAULTS.get(name, "250 ok"))
        if isinstance(reply, list):
            reply = reply.pop(0) if reply else "250 ok"
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

    def dialogue(self):
        try:
            connection = self.listener.accept()[0]
        except OSError:
            return
        connection.settimeout(30)
        if not self.step(connection, "greeting"):
            return connection.close()
        in_data = False
        for raw in connection.makefile("rb"):
            line = raw.rstrip(b"\r\n").decode("latin-1")
            if in_data:
                body = self.script.get("BODY")
                if body not in (None, DROP, STALL):
                    connection.sendall(body.encode("latin-1") + b"\r\n")
                    body = self.script.get("BODY_THEN", DROP)
                if body == DROP:
                    break
                if body == STALL:
                    time.sleep(REPLY_TIMEOUT_MS / 1000 * 3)
                    break
                if line == ".":
                    in_data = False
                    if not self.step(connection, "END"):
                        break
                    self.message_completed = str(self.script.get("END", "2")).startswith("2")
                continue
            self.commands.append(line)
            verb = line.split(":")[0].split(" ")[0].upper()
            if not self.step(connection, verb) or verb == "QUIT":
                break
            in_data = verb == "DATA" and self.script.get("DATA", "354").startswith("354")
        connection.close()


class FaultTest(unittest.TestCase):
    def deliver(self, script, *fields):
        """(sent, error number, description); the commands the server got are in self.commands."""
        server = ScriptedServer(script)
        try:
            sent, number, description = send("127.0.0.1:%d" % server.port, *fields)
        finally:
            server.close()
        if not sent:
            self.assertFalse(server.message_completed, "the server took a message reported as failed")
        self.commands = server.commands
        return sent, number, description

    def test_each_fault_ends_the_delivery_with_the_error_that_names_it(self):
        closed, timed_out = {CONNECTION_CLOSED}, {system_error("ETIMEDOUT")}
        broken_pipe = {CONNECTION_CLOSED, system_error("ECONNRESET"),
                       system_error("ECONNABORTED" if ARGS.wine else "EPIPE")}
        # A message far larger than the buffers, with a deadline for each write well below the server's patience.
        large = (("send_timeout_ms", "1000"), ("body", ("x" * 76 + "\r\n") * ((16 << 20) // 78)))
        too_big = "552 5.3.4 Error: message file too big"
        for script, numbers, text, *fields in [
            ({"greeting": "554 5.3.2 no service here"}, {MAIL_BASE + 554}, "no service here"),
            ({"EHLO": "421 4.7.0 closing"}, {MAIL_BASE + 421}, "EHLO"),
            ({"MAIL": "550 5.7.1 sender rejected"}, {MAIL_BASE + 550}, "MAIL FROM:<me@example.com>"),
            ({"RCPT": ["250 ok", "550 5.1.1 no such user"]}, {MAIL_BASE + 550}, "RCPT TO:<bob@example.com>"),
            ({"END": "451 4.3.0 local error"}, {MAIL_BASE + 451}, "local error"),
            # Control characters in the server's text are shown replaced, so they cannot cut a report.
            ({"MAIL": "550 5.7.1 no\x00 such\rFrom Address: x\x1b[2J"}, {MAIL_BASE + 550},
             "550 5.7.1 no? such?From Address: x?[2J"),
            ({"greeting": DROP}, closed, "closed the connection"),
            ({"RCPT": DROP}, closed, "closed the connection"),
            ({"BODY": DROP}, broken_pipe, ""),
            ({"greeting": SILENT}, timed_out, "did not answer in time"),
            ({"END": SILENT}, timed_out, "did not answer in time"),
            ({"greeting": ENDLESS}, {PROTOCOL_VIOLATION}, "sent a reply that never ends"),
            ({"EHLO": ENDLESS_SLOWLY}, timed_out, "did not answer in time"),
            # The server hangs up after three reply time-outs: a client still writing then would see that instead.
            ({"BODY": STALL}, timed_out, "took nothing more", *large),
            # A refusal mid-body is reported whether the server then hangs up or stops reading.
            ({"BODY": too_big, "BODY_THEN": DROP}, {MAIL_BASE + 552}, "message file too big", *large),
            ({"BODY": too_big, "BODY_THEN": STALL}, {MAIL_BASE + 552}, "message file too big", *large),
        ]:
            with self.subTest(script=str(script)[:50]):
                sent, number, description = self.deliver(script, *fields)
                self.assertFalse(sent, "a broken delivery was reported as sent")
                self.assertIn(number, numbers, description)
                self.assertIn(text, description)

    def test_five_thousand_recipients_reach_a_server_that_answers_one_command_at_a_time(self):
        # Written all at once, the long commands and replies (as sendmail's, which name the recipient)
        # would fill the buffers both ways.
        domain = ("a" * 60 + ".") * 3 + "example.com"
        recipients = [("to", "recipient-%04d@%s" % (i, domain)) for i in range(5000)]
        sent, number, description = self.deliver({"RCPT": "250 2.1.5 <recipient@%s>... Recipient ok" % domain},
                                                 *recipients)
        self.assertTrue(sent, "%d %s" % (number, description))
        self.assertEqual(len([c for c in self.commands if c.startswith("RCPT")]), 5002)

    def test_nobody_listening(self):
        port = free_port()
        sent, number, description = send("127.0.0.1:%d" % port)
        self.assertEqual((sent, number), (False, system_error("ECONNREFUSED")))
        self.assertIn("127.0.0.1:%d" % port, description)

    @unittest.skipUnless(ARGS.ca, "TLS is the Windows socket layer's")
    def test_tls_servers_that_speak_none_or_cannot_be_trusted_are_refused_at_once_with_the_reason(self):
        from certificates import Authority, self_signed
        trusted = Authority(ARGS.ca)
        unknown = Authority(os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "unknown"), "Unknown CA")
        current, not_trusted = ssl.TLSVersion.MAXIMUM_SUPPORTED, "is not trusted"
        for what, issued, leaf_only, newest, code, words in [
            # TLS from the first byte to a plain SMTP server: refused with the form to use, not at the deadline.
            ("plain SMTP", None, False, None, MAIL_BASE + 4, ["speaks plain SMTP on port %d", "write smtp://localhost:%d"]),
            ("an unknown authority", unknown.issue("chain"), False, current, 0x800B0109, [not_trusted]),
            ("self-signed", self_signed(unknown.directory, "self"), False, current, 0x800B0109, [not_trusted]),
            ("only the certificate, from an unknown authority", unknown.issue("leaf"), True, current, 0x800B010A,
             [not_trusted]),
            ("another host name", trusted.issue("other", "mail.example.net"), False, current, 0x800B010F,
             ["is for another name"]),
            ("expired", trusted.issue("expired", days=-1), False, current, 0x800B0101, ["has expired"]),
            ("TLS 1.0", trusted.issue("tls10"), False, ssl.TLSVersion.TLSv1, 0x80090331, ["offers only TLS 1.0"]),
        ]:
            with self.subTest(what):
                settings = {}
                if issued:
                    context = tls_context(issued, leaf_only)
                    if newest < ssl.TLSVersion.TLSv1_2:  # Python warns that this is deprecated: it is what the server is for
                        context.minimum_version = ssl.TLSVersion.MINIMUM_SUPPORTED
                        context.set_ciphers("DEFAULT:@SECLEVEL=0")
                    context.maximum_version = newest
                    settings = dict(tls_context=context, require_starttls=True)
                    words = words + ["(0x%08X)" % code]
                    code -= 1 << 32
                with smtp_server(**settings) as (inbox, port):
                    started = time.monotonic()
                    sent, number, description = send(("localhost:%d" if issued else "smtps://localhost:%d") % port,
                                                     ("reply_timeout_ms", "30000"))
                    took = time.monotonic() - started
                self.assertEqual((sent, number), (False, code), description)
                for word in words:
                    self.assertIn(word.replace("%d", str(port)), description)
                self.assertLess(took, 10, "waited for the reply deadline")
                self.assertEqual(inbox.envelopes, [])


if __name__ == "__main__":
    main()
