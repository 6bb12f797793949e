#!/usr/bin/python3
"""The SMTP mail component against a real SMTP server (aiosmtpd) on loopback,
with Python's email package reading what arrived as the independent oracle.

    smtp_oracle_test.py --client PATH [--wine]
"""

import email
import email.header
import email.policy
import os
import re
import sys
import threading
import unittest

from aiosmtpd.controller import Controller

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "smtp_send"))
from smtp_client import client_from_args, free_port  # noqa: E402

CLIENT = None
FROM = "Reader <reader@example.com>"


class Inbox:
    """aiosmtpd handler that keeps every envelope; offers 8BITMIME or not."""

    def __init__(self):
        self.envelopes = []
        self.lock = threading.Lock()
        self.offer_8bit = True

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return [r for r in responses if self.offer_8bit or r != "250-8BITMIME"]

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.envelopes.append((envelope.mail_from, list(envelope.rcpt_tos), bytes(envelope.original_content)))
            self.mail_options = list(envelope.mail_options)
        return "250 2.0.0 Accepted"


class OracleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.inbox = Inbox()
        cls.port = free_port()
        cls.controller = Controller(cls.inbox, hostname="127.0.0.1", port=cls.port, data_size_limit=64 * 1024 * 1024)
        cls.controller.start()

    @classmethod
    def tearDownClass(cls):
        cls.controller.stop()

    def deliver(self, body="Hello", subject="Greetings", to=(("ann@example.com", "Ann"),), cc=(), bcc=(),
                sender=("reader@example.com", "Reader"), html=False):
        before = len(self.inbox.envelopes)
        fields = [("server", "127.0.0.1:%d" % self.port), ("port", "25"), ("html", "1" if html else "0"),
                  ("from", sender[0])]
        if sender[1] is not None:
            fields.append(("fromname", sender[1]))
        for kind, entries in (("to", to), ("cc", cc), ("bcc", bcc)):
            for address, name in entries:
                fields.append((kind, address if name is None else address + "\t" + name))
        fields += [("subject", subject), ("body", body)]
        sent, number, description = CLIENT.send(fields)
        self.assertTrue(sent, "delivery failed: %d %s" % (number, description))
        self.assertEqual(len(self.inbox.envelopes), before + 1)
        mail_from, rcpt_tos, raw = self.inbox.envelopes[-1]
        message = email.message_from_bytes(raw, policy=email.policy.default)
        self.assertWireForm(raw, message["Content-Transfer-Encoding"])
        return mail_from, rcpt_tos, raw, message

    def assertWireForm(self, raw, transfer_encoding):
        if transfer_encoding == "8bit":
            self.assertTrue(self.inbox.offer_8bit, "8-bit text to a server that did not offer 8BITMIME")
            self.assertIn("BODY=8BITMIME", self.inbox.mail_options)
        else:
            self.assertEqual(transfer_encoding, "quoted-printable")
            self.assertTrue(all(b < 128 for b in raw), "the message is not 7-bit")
        lines = raw.split(b"\r\n")
        self.assertNotIn(b"\n", b"".join(lines), "a line ends without CR")
        self.assertNotIn(b"\r", b"".join(lines), "a lone CR")
        self.assertLessEqual(max(len(line) for line in lines), 998)

    def body_of(self, message):
        return message.get_payload(decode=True).decode(message.get_content_charset())

    def test_envelope_and_headers(self):
        mail_from, rcpt_tos, raw, message = self.deliver(
            to=(("ann@example.com", "Ann Lee"), ("bob@example.com", "Bob")),
            cc=(("cy@example.com", "Cy"),), bcc=(("dee@example.com", "Dee"),))
        self.assertEqual(mail_from, "reader@example.com")
        self.assertEqual(rcpt_tos, ["ann@example.com", "bob@example.com", "cy@example.com", "dee@example.com"])
        self.assertNotIn("Bcc", message)
        self.assertNotIn(b"dee@example.com", raw)
        self.assertEqual([(a.display_name, a.addr_spec) for a in message["To"].addresses],
                         [("Ann Lee", "ann@example.com"), ("Bob", "bob@example.com")])
        self.assertEqual(message["Cc"].addresses[0].addr_spec, "cy@example.com")
        self.assertEqual(message["From"].addresses[0].display_name, "Reader")
        self.assertEqual(str(message["Subject"]), "Greetings")
        self.assertEqual(message["MIME-Version"], "1.0")
        self.assertIsNotNone(message["Date"].datetime)
        self.assertRegex(message["Message-ID"], r"^<[^<>@\s]+@example\.com>$")
        self.assertEqual(message.get_content_type(), "text/plain")
        self.assertEqual(message.get_content_charset(), "utf-8")

    def test_only_bcc_recipients(self):
        _, rcpt_tos, raw, message = self.deliver(to=(), bcc=(("hidden@example.com", "Hidden"),))
        self.assertEqual(rcpt_tos, ["hidden@example.com"])
        self.assertNotIn(b"hidden@example.com", raw)

    def test_names_and_subjects_that_need_encoding(self):
        names = ['Lee, Ann', 'Zoë Ångström', '"Quoted" \\ name', 'Two  blanks', '日本語の名前', 'Dr. Who (TARDIS)']
        to = tuple(("p%d@example.com" % i, name) for i, name in enumerate(names))
        for subject in ["Plain subject", "Grüße aus Köln — café ☕", "=?UTF-8?B?not-an-encoded-word?=",
                        " leading and trailing ", "word " * 60, "x" * 300, "😀 emoji subject"]:
            with self.subTest(subject=subject[:30]):
                _, _, _, message = self.deliver(subject=subject, to=to, sender=("me@example.com", "Zoë Sender"))
                self.assertEqual(str(message["Subject"]), subject)
                self.assertEqual([a.display_name for a in message["To"].addresses], names)
                self.assertEqual(message["From"].addresses[0].display_name, "Zoë Sender")

    def test_long_names_and_subjects_fold_within_the_line_limit_and_read_back_equal(self):
        many_words = " ".join("Word%d" % i for i in range(300))
        names = [many_words, ("Lee, Ann " * 30).strip(), ("Zoë Ångström Smith " * 12).strip()]
        # A word too long for a line becomes adjacent encoded words, between
        # which RFC 2047 drops the blank; the email package's address parser
        # keeps it, so these are read with its RFC 2047 decoder.
        unbroken = ["a" * 300, "é" * 100]
        to = tuple(("p%d@example.com" % i, name) for i, name in enumerate(names + unbroken))
        for subject in [many_words, "a" * 300, "日" * 200]:
            with self.subTest(subject=subject[:20]):
                _, _, raw, message = self.deliver(subject=subject, to=to, sender=("me@example.com", many_words))
                header_block = raw.split(b"\r\n\r\n", 1)[0].decode("ascii")
                self.assertLessEqual(max(len(line) for line in header_block.split("\r\n")), 78)
                self.assertEqual(str(message["Subject"]), subject)
                self.assertEqual([a.display_name for a in message["To"].addresses][:len(names)], names)
                self.assertEqual(message["From"].addresses[0].display_name, many_words)
                to_field = re.search(r"^To: (.*?)\r\n(?! )", header_block, re.S | re.M).group(1)
                decoded = str(email.header.make_header(email.header.decode_header(to_field.replace("\r\n", ""))))
                for name in unbroken:
                    self.assertIn(name + " <", decoded)

    def test_bodies_decode_to_exactly_what_was_sent(self):
        bodies = {
            "ascii": "Hello there,\r\nthis is plain ASCII.\r\n\r\nBye",
            "non-ascii": "Grüße — naïve café\r\n日本語のテキスト\r\n😀 and 𝄞",
            "long line": "x" * 10000 + "\r\n" + "word " * 4000,
            "dots": ".\r\n..\r\n.leading dot\r\nmiddle.\r\n.\r\n",
            "crlf at end": "last line has a break\r\n",
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
        self.assertEqual(encodings["dots", True], "8bit")
        self.assertEqual(encodings["non-ascii", False], "quoted-printable")
        for label in ("long line", "lone breaks", "crlf at end"):
            self.assertEqual(encodings[label, True], "8bit" if label == "crlf at end" else "quoted-printable")

    def test_html_page_of_several_megabytes(self):
        row = "<tr><td>Zeile</td><td>Grüße &amp; <b>fett</b></td><td>.dot</td></tr>\r\n"
        page = "<html><body><table>\r\n" + row * 60000 + "</table></body></html>"
        self.assertGreater(len(page.encode("utf-8")), 4 * 1024 * 1024)
        _, _, _, message = self.deliver(body=page, html=True)
        self.assertEqual(message.get_content_type(), "text/html")
        self.assertEqual(self.body_of(message), page)

    def test_line_breaks_in_subject_and_names_add_no_header(self):
        _, rcpt_tos, raw, message = self.deliver(
            subject="Hello\r\nBcc: evil@example.net\r\nX-Injected: 1",
            to=(("ann@example.com", "Ann\r\nX-Injected: 2"),), sender=("me@example.com", "Me\r\nReply-To: evil@x.net"))
        for header in ("Bcc", "X-Injected", "Reply-To"):
            self.assertNotIn(header, message)
        self.assertEqual(rcpt_tos, ["ann@example.com"])
        self.assertEqual(str(message["Subject"]), "Hello  Bcc: evil@example.net  X-Injected: 1")

    def test_addresses_that_could_carry_commands_are_refused(self):
        before = len(self.inbox.envelopes)
        for address in ["ann@example.com\r\nRCPT TO:<evil@example.net>", "ann@example.com>\r\nDATA", "a b@example.com",
                        "<ann@example.com>", "ann@exa\x00mple.com", "", "   "]:
            with self.subTest(address=address):
                sent, number, description = CLIENT.send([
                    ("server", "127.0.0.1:%d" % self.port), ("from", "me@example.com"), ("to", address),
                    ("subject", "s"), ("body", "b")])
                self.assertFalse(sent)
                self.assertEqual(number, -2147220992 + 1)
                self.assertTrue(description)
        self.assertEqual(len(self.inbox.envelopes), before)

    def test_blanks_around_addresses_and_names_are_folding_space(self):
        _, rcpt_tos, _, message = self.deliver(to=((" ann@example.com ", " Ann "),), sender=("me@example.com", "Me "))
        self.assertEqual(rcpt_tos, ["ann@example.com"])
        self.assertEqual(str(message["To"]), "Ann <ann@example.com>")
        self.assertEqual(str(message["From"]), "Me <me@example.com>")


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
