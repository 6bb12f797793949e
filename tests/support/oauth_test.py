#!/usr/bin/python3
"""A provider's sign-in (OAuth 2.0) from end to end, with real parts: the
SMTP mail component (smtp_send under Wine, the component's own sign-in), a
real authorization server (oidc-provider from npm, over HTTPS with the test
authority), an SMTP server that takes XOAUTH2 and OAUTHBEARER and asks the
authorization server about every token, an IMAP server (Dovecot) that does the
same for the Sent copy, and a stand-in browser registered in the Wine prefix
for http and https URLs, which signs in, consents or denies.

    oauth_test.py --client PATH --ca CA_DIR --state DIR

While it runs, "localhost" has an OAuth profile in the prefix's HKCU; it is
removed afterwards, as are the browser's registrations.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

here = os.path.dirname(os.path.abspath(__file__))
tools = os.path.join(here, "..", "..", "tools")
sys.path[:0] = [here] + [os.path.join(tools, name) for name in ("smtp_send", "smtp_catcher", "imap_server")]
from imap_server import Dovecot  # noqa: E402
from smtp_client import MailClient, free_port  # noqa: E402

ARGS = None
PROFILE_KEY = r"HKCU\Software\Veltrano\Ardwyn\KT_EMailer\OAuth\localhost"
MAIL_BASE = -2147220992
SIGN_IN_CANCELLED, SIGN_IN_FAILED = MAIL_BASE + 8, MAIL_BASE + 11
ACCESS_SECONDS = 3  # short, so that expiry comes within a test


def wine(*args):
    return subprocess.run(["wine", *args], capture_output=True, text=True)


def python(script, *args):
    subprocess.run(["/usr/bin/python3", os.path.join(tools, script), *args], check=True, stdout=subprocess.DEVNULL)


def read_lines(path):
    try:
        with open(path) as f:
            return f.read().splitlines()
    except OSError:
        return []


class OAuthTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = ARGS.state
        cls.oauth, cls.catcher = os.path.join(cls.state, "oauth-server"), os.path.join(cls.state, "oauth-catcher")
        cls.browser = os.path.join(cls.state, "stand-in-browser")
        os.makedirs(cls.browser, exist_ok=True)
        with open(os.path.join(cls.browser, "ca"), "w") as f:
            f.write(os.path.join(os.path.abspath(ARGS.ca), "ca.pem"))
        os.environ["KT_STAND_IN_BROWSER"] = cls.browser
        python("oauth_server/oauth_server.py", "start", "--state-dir", cls.oauth, "--ca", ARGS.ca,
               "--access-seconds", str(ACCESS_SECONDS))
        cls.addClassCleanup(python, "oauth_server/oauth_server.py", "stop", "--state-dir", cls.oauth)
        cls.issuer = "https://localhost:" + open(os.path.join(cls.oauth, "port")).read().strip()
        python("smtp_catcher/smtp_catcher.py", "start", "--state-dir", cls.catcher, "--tls", ARGS.ca,
               "--oauth", cls.issuer + "/token/introspection")
        cls.addClassCleanup(python, "smtp_catcher/smtp_catcher.py", "stop", "--state-dir", cls.catcher)
        cls.server = "localhost:" + open(os.path.join(cls.catcher, "port")).read().strip()
        command = 'C:\\windows\\system32\\start.exe /unix /usr/bin/python3 %s "%%1"' % os.path.join(
            tools, "oauth_server", "stand_in_browser.py")
        for scheme in ("http", "https"):
            key = r"HKLM\Software\Classes\%s\shell\open\command" % scheme
            before = wine("reg", "query", key, "/ve").stdout.split("REG_SZ", 1)
            wine("reg", "add", key, "/ve", "/d", command, "/f")
            if len(before) == 2:
                cls.addClassCleanup(wine, "reg", "add", key, "/ve", "/d", before[1].strip(), "/f")
        cls.set_profile(TokenEndpoint=cls.issuer + "/token")
        cls.addClassCleanup(wine, "reg", "delete", PROFILE_KEY, "/f")

    @classmethod
    def set_profile(cls, **values):
        profile = dict(AuthorizationEndpoint=cls.issuer + "/auth", TokenEndpoint=cls.issuer + "/token",
                       ClientId="kt-emailer", Scope="openid")
        profile.update(values)
        for name, value in profile.items():
            wine("reg", "add", PROFILE_KEY, "/v", name, "/d", value, "/f")

    def browse(self, answer):
        with open(os.path.join(self.browser, "answer"), "w") as f:
            f.write(answer)

    @staticmethod
    def address(sender):
        return "%s-%d@example.com" % (sender, os.getpid())

    def send(self, sender, *fields, server=None):
        """One message from `sender`, an address of this run alone (each test its own, so each its own
        stored token); (sent, number, text)."""
        self.subject = "OAuth %s %d" % (sender, free_port())
        self.client = MailClient(ARGS.client, wine=True)
        return self.client.send(
            [("server", server or self.server), ("from", self.address(sender)),
             ("to", "ann@example.com"), ("subject", self.subject),
             ("body", "Signed in with a token.\r\n"), ("oauth", "1"), ("browser_timeout_ms", "30000"), *fields])

    def caught(self):
        spool = os.path.join(self.catcher, "spool")
        return [name for name in os.listdir(spool)
                if name.endswith(".txt") and "Subject: %s" % self.subject in read_lines(os.path.join(spool, name))]

    def counts(self):
        """How often the browser opened, and the token endpoint's answers so far."""
        return (len(read_lines(os.path.join(self.browser, "log"))), read_lines(os.path.join(self.oauth, "log")))

    def expect(self, before, browser_opened, token_requests):
        browser, tokens = self.counts()
        self.assertEqual(browser - before[0], browser_opened, "browser openings")
        self.assertEqual([line.split()[0] + " " + line.split()[1] for line in tokens[len(before[1]):]],
                         token_requests)

    def test_the_browser_once_then_stored_and_kept_tokens_and_expiry_refreshed_silently(self):
        self.browse("consent")
        before = self.counts()
        self.assertEqual(self.send("first"), (True, 0, ""))
        self.assertEqual(len(self.caught()), 1)
        self.expect(before, 1, ["authorization_code 200"])
        # Another process: the stored refresh token, which rotates.
        before = self.counts()
        self.assertEqual(self.send("first"), (True, 0, ""))
        self.expect(before, 0, ["refresh_token 200"])
        # One process: the second send uses the token kept in memory, the third
        # comes after it expired and refreshes.
        before = self.counts()
        self.assertEqual(self.send("first", ("repeat", "2")), (True, 0, ""))
        self.expect(before, 0, ["refresh_token 200"])
        before = self.counts()
        self.assertEqual(self.send("first", ("repeat", "2"), ("pause_ms", str(ACCESS_SECONDS * 1000))),
                         (True, 0, ""))
        self.expect(before, 0, ["refresh_token 200", "refresh_token 200"])

    def test_the_sent_copy_signs_in_to_imap_with_the_same_token(self):
        self.browse("consent")
        work = tempfile.mkdtemp(prefix="kt-dovecot-")
        self.addCleanup(shutil.rmtree, work, True)
        account = self.address("copy")
        dovecot = Dovecot(work, ARGS.ca, {}, {account: ["Sent"]}, introspection=self.issuer + "/token/introspection")
        self.addCleanup(dovecot.stop)
        before = self.counts()
        self.assertEqual(self.send("copy", ("copy_mode", "always"), ("copy_server", "localhost:%d" % dovecot.imap)),
                         (True, 0, ""))
        self.assertIn("\nCOPY PLACED Sent\n", self.client.output)
        self.expect(before, 1, ["authorization_code 200"])  # one consent for both
        with open(os.path.join(work, "dovecot.log")) as log:
            self.assertIn("imap-login: Info: Login: user=<%s>, method=XOAUTH2" % account, log.read())
        copies = os.listdir(os.path.join(work, "mail", account, ".Sent", "cur"))
        self.assertEqual(len(copies), 1, "one copy")
        self.assertTrue(copies[0].endswith(":2,S"), "seen: %s" % copies[0])

    def test_a_refused_token_is_refreshed_once_and_a_revoked_refresh_token_brings_the_browser_back(self):
        self.browse("consent")
        self.assertEqual(self.send("second")[0], True)
        # The token kept in memory refused as Google refuses one (334, JSON, 535): one refresh, then it goes.
        sign_ins = read_lines(os.path.join(self.catcher, "sign-ins"))
        with open(os.path.join(self.catcher, "refuse"), "w") as f:
            f.write(str(len(sign_ins) + 2))
        before = self.counts()
        self.assertEqual(self.send("second", ("repeat", "2")), (True, 0, ""))
        os.remove(os.path.join(self.catcher, "refuse"))
        self.expect(before, 0, ["refresh_token 200", "refresh_token 200"])
        self.assertEqual([line.split()[-1] for line in read_lines(os.path.join(self.catcher, "sign-ins"))[-3:]],
                         ["accepted", "refused", "accepted"])
        # Refused as Microsoft refuses one (a bare 535), over OAUTHBEARER where that is all that is offered.
        sign_ins = read_lines(os.path.join(self.catcher, "sign-ins"))
        with open(os.path.join(self.catcher, "refuse"), "w") as f:
            f.write("%d plain" % (len(sign_ins) + 2))
        with open(os.path.join(self.catcher, "offer"), "w") as f:
            f.write("OAUTHBEARER")
        before = self.counts()
        try:
            self.assertEqual(self.send("second", ("repeat", "2")), (True, 0, ""))
        finally:
            os.remove(os.path.join(self.catcher, "refuse"))
            os.remove(os.path.join(self.catcher, "offer"))
        self.expect(before, 0, ["refresh_token 200", "refresh_token 200"])
        self.assertEqual(read_lines(os.path.join(self.catcher, "sign-ins"))[-3:],
                         ["OAUTHBEARER second-%d@example.com %s" % (os.getpid(), verdict)
                          for verdict in ("accepted", "refused", "accepted")])
        # Revoked: the refresh is refused, the stored token goes, the browser opens once more.
        python("oauth_server/oauth_server.py", "revoke", "RefreshToken", "--state-dir", self.oauth, "--ca", ARGS.ca)
        before = self.counts()
        self.assertEqual(self.send("second"), (True, 0, ""))
        self.expect(before, 1, ["refresh_token 400", "authorization_code 200"])

    def test_denied_consent_cancels_and_a_wrong_state_is_refused_and_nothing_is_sent(self):
        for answer, number, words in [("deny", SIGN_IN_CANCELLED, "was cancelled"),
                                      ("wrong-state", SIGN_IN_FAILED, "its state does not match")]:
            with self.subTest(answer):
                self.browse(answer)
                sent, got, description = self.send(answer)
                self.assertEqual((sent, got), (False, number), description)
                self.assertIn(words, description)
                self.assertEqual(self.caught(), [])

    def test_a_token_endpoint_that_is_down_slow_unavailable_or_answers_garbage_fails_in_words_keeping_the_token(self):
        self.browse("consent")
        self.assertEqual(self.send("third")[0], True)  # a refresh token stored
        closed = free_port()
        before = self.counts()
        for what, setup, fields, words in [
            ("unavailable", lambda: self.mode("unavailable"), (), "temporarily_unavailable (try again later)"),
            ("garbage", lambda: self.mode("garbage"), (), "did not answer with JSON as OAuth 2.0 says"),
            ("slow", lambda: self.mode("slow"), (("token_timeout_ms", "1500"),), "did not answer in time"),
            ("down", lambda: self.set_profile(TokenEndpoint="https://localhost:%d/token" % closed), (),
             "could not be reached (12029)"),
        ]:
            with self.subTest(what):
                setup()
                try:
                    sent, number, description = self.send("third", *fields)
                finally:
                    self.mode("normal")
                    self.set_profile()
                self.assertEqual((sent, number), (False, SIGN_IN_FAILED), description)
                self.assertIn(words, description)
                self.assertEqual(self.caught(), [])
        # None of that was the grant's fault: the stored token still signs in, without the browser.
        self.assertEqual(self.send("third"), (True, 0, ""))
        self.assertEqual(self.counts()[0], before[0])

    def test_a_refresh_refused_for_its_scope_goes_once_without_it_and_then_to_the_browser(self):
        # This server leaves offline_access out of a grant made without a consent prompt, and
        # refuses a refresh that names it; without a scope the grant's own comes.
        self.set_profile(Scope="openid offline_access smtp.send")
        self.browse("consent")
        try:
            self.assertEqual(self.send("fourth")[0], True)
            before = self.counts()
            self.assertEqual(self.send("fourth"), (True, 0, ""))
            self.expect(before, 0, ["refresh_token 400", "refresh_token 200"])
            # Refused without a scope too: the grant is gone, and the browser opens once.
            self.mode("scope-refused")
            before = self.counts()
            self.assertEqual(self.send("fourth"), (True, 0, ""))
            self.expect(before, 1, ["refresh_token 400", "refresh_token 400", "authorization_code 200"])
        finally:
            self.mode("normal")
            self.set_profile()

    def mode(self, value):
        python("oauth_server/oauth_server.py", "mode", value, "--state-dir", self.oauth)


if __name__ == "__main__":
    import argparse
    parser = argparse.ArgumentParser()
    for option in ("--client", "--ca", "--state"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.state = os.path.abspath(ARGS.state)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
