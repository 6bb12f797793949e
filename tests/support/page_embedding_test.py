#!/usr/bin/python3
"""A page mailed as its reader sees it: the composition window's page tests
(windows_tests, PageEmbeddingTest.*) send pages from a web server on
loopback (tools/page_server), then what arrived is judged here: by Python's
email parser (the structure, every cid: inside its related part, each
picture's bytes as served, the server's SIZE kept), and by a browser that
may fetch nothing, whose picture of the message must match its picture of
the page on the web.

    page_embedding_test.py --tests PATH_TO_windows_tests [--wine] --state DIR --catchers DIR --ca DIR

--ca names the authority the prefix trusts, whose certificate the page server's https side gets.

Runs in the Wine prefix and on the display of its environment."""

import argparse
import email
import email.policy
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

from mail_harness import windows_path

here = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(here, "..", "..", "tools", "page_server", "page_server.py")
ARGS = None
PORT = None
SENT = None  # the page tests' output


def setUpModule():
    global PORT, SENT
    subprocess.run([sys.executable, SERVER, "start", "--state-dir", ARGS.state, "--tls", ARGS.ca], check=True)
    with open(os.path.join(ARGS.state, "port")) as f:
        PORT = int(f.read())
    command = (["wine"] if ARGS.wine else []) + [ARGS.tests, "--gtest_filter=PageEmbeddingTest.*"]
    environment = dict(os.environ, KT_PAGE_SERVER_DIR=windows_path(ARGS.state) if ARGS.wine else ARGS.state)
    SENT = subprocess.run(command, env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", timeout=300)


def tearDownModule():
    subprocess.run([sys.executable, SERVER, "stop", "--state-dir", ARGS.state])


def caught(catcher, subject):
    """The last message whose subject starts so that the catcher took: its bytes, and as Python's email reads them."""
    spool = os.path.join(ARGS.catchers, "smtp-" + catcher, "spool")
    found = None
    for name in sorted((n for n in os.listdir(spool) if n.endswith(".eml")), key=lambda n: int(n.split(".")[0])):
        with open(os.path.join(spool, name), "rb") as f:
            raw = f.read()
        message = email.message_from_bytes(raw, policy=email.policy.default)
        if message["Subject"].startswith(subject + " "):
            found = raw, message
    if not found:
        raise AssertionError("no message %r caught by %s" % (subject, catcher))
    return found


def served(path):
    with open(os.path.join(ARGS.state, "site", path), "rb") as f:
        return f.read()


def same_picture(first, second):
    """Whether two pictures (any format ImageMagick reads) have the same pixels, near enough."""
    with tempfile.TemporaryDirectory() as work:
        paths = [os.path.join(work, name) for name in ("first", "second")]
        for path, data in zip(paths, (first, second)):
            with open(path, "wb") as f:
                f.write(data)
        compared = subprocess.run(["compare", "-metric", "AE", "-fuzz", "3%", *paths, "null:"],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return compared.stdout.split()[0] == "0"


def web(path):
    return "http://127.0.0.1:%d%s" % (PORT, path)


class Sent(unittest.TestCase):
    def test_the_page_tests_passed(self):
        self.assertIn("[  PASSED  ] 5 tests.", SENT.stdout, SENT.stdout[-6000:])


class Structure(unittest.TestCase):
    def parts(self, message):
        """The HTML, the text and the pictures by Content-ID, of a page's message with pictures inside."""
        self.assertEqual(message.get_content_type(), "multipart/alternative")
        text, related = message.get_payload()
        self.assertEqual(text.get_content_type(), "text/plain")
        self.assertEqual(related.get_content_type(), "multipart/related")
        self.assertEqual(related.get_param("type"), "text/html")
        html, *pictures = related.get_payload()
        self.assertEqual(html.get_content_type(), "text/html")
        for part in message.walk():
            self.assertEqual(part.defects, [], part.get_content_type())
        by_id = {}
        for picture in pictures:
            self.assertEqual(picture.get_content_disposition(), "inline")
            self.assertTrue(picture.get_filename())
            content_id = picture["Content-ID"]
            self.assertRegex(content_id, r"^<[!-~]{1,60}>$")  # short and plain: never folded
            by_id[content_id[1:-1]] = picture
        return html.get_content(), text.get_content(), by_id

    def test_a_hostile_page_carries_what_every_reader_shows_and_leaves_the_rest_on_the_web(self):
        _, message = caught("catcher", "Embedded hostile")
        html, text, pictures = self.parts(message)
        referenced = re.findall(r'cid:([^"\')\s&]+)', html)
        self.assertEqual(set(referenced), set(pictures), "every cid: resolves, every picture is named")
        by_location = {p["Content-Location"]: p for p in pictures.values() if p["Content-Location"]}
        # WebP and AVIF go as PNG, the same picture, where the system decodes them; else they stay on the web.
        for kind in ("webp", "avif"):
            with self.subTest(kind=kind):
                converted = by_location.pop(web("/img/leaf." + kind), None)
                if converted is None:
                    self.assertIn('src="%s"' % web("/img/leaf." + kind), html)
                    continue
                self.assertEqual(converted.get_content_type(), "image/png")
                self.assertEqual(converted.get_content()[:8], b"\x89PNG\r\n\x1a\n")
                self.assertTrue(same_picture(converted.get_content(), served("img/leaf." + kind)))
        expected = {
            web("/img/red.png"): "img/red.png", web("/img/blue.jpg"): "img/blue.jpg",
            web("/img/green.gif"): "img/green.gif", web("/img/bg.png"): "img/bg.png",
            web("/img/tile.png"): "img/tile.png", web("/img/stripe.gif"): "img/stripe.gif",
            web("/hop/5/ok.png"): "img/ok.png", web("/lying"): "img/ok.png",
        }
        self.assertEqual(sorted(by_location), sorted(expected))
        for location, path in expected.items():
            self.assertEqual(by_location[location].get_content(), served(path), location)
        self.assertEqual(by_location[web("/lying")].get_content_type(), "image/png")  # by its bytes
        carried = [p for p in pictures.values() if not p["Content-Location"]]
        self.assertEqual([p.get_content() for p in carried], [served("img/green.gif")])
        # A picture the page repeats goes once.
        red = next(i for i, p in pictures.items() if p["Content-Location"] == web("/img/red.png"))
        self.assertEqual(referenced.count(red), 2)
        for remote in ("/hop/6/far.png", "/img/big.png", "/never.png", "/private.png", "/img/drawing.svg"):
            self.assertIn('src="%s"' % web(remote), html)
        self.assertIn('alt="too big"', html)
        self.assertNotIn("<link", html)
        self.assertNotIn("<base", html)
        self.assertIn('href="%s"' % web("/news/about.html"), html)
        self.assertIn('href="#top"', html)
        self.assertIn(web("/news/about.html"), text)
        self.assertNotIn("cid:", text)

    def test_a_server_that_takes_little_gets_the_pictures_that_fit_in_page_order(self):
        raw, message = caught("small", "Embedded heavy")
        self.assertLessEqual(len(raw), 250000)
        html, _, pictures = self.parts(message)
        self.assertEqual(sorted(p["Content-Location"] for p in pictures.values()),
                         [web("/img/heavy0.jpg"), web("/img/heavy1.jpg")])
        self.assertIn('<img src="%s" alt="heavy 3">' % web("/img/heavy3.jpg"), html)


@unittest.skipUnless(shutil.which("chromium"), "no browser to judge with")
class WhatABlockingReaderSees(unittest.TestCase):
    def screenshot(self, address, path):
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        "--user-data-dir=" + os.path.join(os.path.dirname(path), "profile-" + os.path.basename(path)),
                        "--window-size=800,600", "--screenshot=" + path, *self.offline, address],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)

    offline = []

    def test_the_message_looks_as_the_page_did_with_no_network_at_all(self):
        _, message = caught("catcher", "Embedded pretty")
        _, related = message.get_payload()
        html, *pictures = related.get_payload()
        page = html.get_content().split("<hr>\r\n", 1)[1]  # without the note before it
        saved = MIMEMultipart("related", type="text/html")
        main = MIMEText(page, "html", "utf-8")
        main["Content-Location"] = "http://mail.invalid/message.html"
        saved.attach(main)
        for picture in pictures:
            saved.attach(picture)
        work = self.enterContext(tempfile.TemporaryDirectory())
        mhtml = os.path.join(work, "message.mhtml")
        with open(mhtml, "wb") as f:
            f.write(saved.as_bytes(policy=email.policy.SMTP))
        self.screenshot(web("/news/pretty.html"), os.path.join(work, "page.png"))
        self.offline = ["--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=http://127.0.0.1:9",
                        "--proxy-bypass-list=<-loopback>"]
        self.screenshot("file://" + mhtml, os.path.join(work, "message.png"))
        compared = subprocess.run(["compare", "-metric", "AE", "-fuzz", "8%", os.path.join(work, "page.png"),
                                   os.path.join(work, "message.png"), os.path.join(work, "difference.png")],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        differing = float(compared.stdout.split()[0])
        self.assertLess(differing, 800 * 600 * 0.002, "pixels that differ; see " + work)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tests", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--state", required=True)
    parser.add_argument("--catchers", required=True)
    parser.add_argument("--ca", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.state = os.path.abspath(ARGS.state)
    os.makedirs(ARGS.state, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
