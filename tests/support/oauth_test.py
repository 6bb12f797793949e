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

import contextlib
import os
import subprocess
import unittest

from mail_harness import COMPONENT_KEY, MAIL_BASE, TOOLS, MailClient, dovecot, free_port, main, options, windows

ARGS = options("--client", "--ca", "--state")
PROFILE_KEY = COMPONENT_KEY + r"\OAuth\localhost"
SIGN_IN_CANCELLED, SIGN_IN_FAILED = MAIL_BASE + 8, MAIL_BASE + 11
ACCESS_SECONDS = 3  # short, so that expiry comes within a test


def python(script, *args):
    subprocess.run(["/usr/bin/python3", os.path.join(TOOLS, script), *args], check=True, stdout=subprocess.DEVNULL)


def read_lines(path):
    try:
        with open(path) as f:
            return f.read().splitlines()
    except OSError:
        return []


class OAuthTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        state = os.path.abspath(ARGS.state)
        cls.oauth, cls.catcher = os.path.join(state, "oauth-server"), os.path.join(state, "oauth-catcher")
        cls.browser = os.path.join(state, "stand-in-browser")
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
            TOOLS, "oauth_server", "stand_in_browser.py")
        for scheme in ("http", "https"):
            key = r"HKLM\Software\Classes\%s\shell\open\command" % scheme
            before = windows("reg", "query", key, "/ve").stdout.split("REG_SZ", 1)
            windows("reg", "add", key, "/ve", "/d", command, "/f")
            if len(before) == 2:
                cls.addClassCleanup(windows, "reg", "add", key, "/ve", "/d", before[1].strip(), "/f")
        cls.set_profile(TokenEndpoint=cls.issuer + "/token")
        cls.addClassCleanup(windows, "reg", "delete", PROFILE_KEY, "/f")

    @classmethod
    def set_profile(cls, **values):
        profile = dict(AuthorizationEndpoint=cls.issuer + "/auth", TokenEndpoint=cls.issuer + "/token",
                       ClientId="kt-emailer", Scope="openid")
        profile.update(values)
        for name, value in profile.items():
            windows("reg", "add", PROFILE_KEY, "/v", name, "/d", value, "/f")

    def mode(self, value):
        python("oauth_server/oauth_server.py", "mode", value, "--state-dir", self.oauth)

    @contextlib.contextmanager
    def provider(self, mode=None, **profile):
        """The authorization server in `mode`, the profile with `profile`'s values, for the block."""
        if mode:
            self.mode(mode)
        if profile:
            self.set_profile(**profile)
        try:
            yield
        finally:
            self.mode("normal")
            self.set_profile()

    @contextlib.contextmanager
    def catcher_told(self, **files):
        """For the block, the SMTP server's `refuse` (the sign-in of that number; " plain": by a bare 535) and
        `offer` (only that mechanism) files."""
        for name, text in files.items():
            with open(os.path.join(self.catcher, name), "w") as f:
                f.write(text)
        try:
            yield
        finally:
            for name in files:
                os.remove(os.path.join(self.catcher, name))

    def browse(self, answer):
        with open(os.path.join(self.browser, "answer"), "w") as f:
            f.write(answer)

    @staticmethod
    def address(sender):
        return "%s-%d@example.com" % (sender, os.getpid())

    def send(self, sender, *fields):
        """One message from `sender`, an address of this run alone (each test its own, so each its own
        stored token); (sent, number, text)."""
        self.subject = "OAuth %s %d" % (sender, free_port())
        self.client = MailClient(ARGS.client, wine=True)
        return self.client.send(
            [("server", self.server), ("from", self.address(sender)),
             ("to", "ann@example.com"), ("subject", self.subject),
             ("body", "Signed in with a token.\r\n"), ("oauth", "1"), ("browser_timeout_ms", "30000"), *fields])

    def openings(self):
        return len(read_lines(os.path.join(self.browser, "log")))

    def sends(self, sender, *fields, browser=0, tokens=()):
        """send(), which must go, with the browser opened that often and the token endpoint's answers
        ("<grant type> <status>") in between those."""
        opened, answers = self.openings(), len(read_lines(os.path.join(self.oauth, "log")))
        self.assertEqual(self.send(sender, *fields), (True, 0, ""))
        self.assertEqual(self.openings() - opened, browser, "browser openings")
        self.assertEqual([" ".join(line.split()[:2]) for line in read_lines(os.path.join(self.oauth, "log"))[answers:]],
                         list(tokens))

    def caught(self):
        spool = os.path.join(self.catcher, "spool")
        return [name for name in os.listdir(spool)
                if name.endswith(".txt") and "Subject: %s" % self.subject in read_lines(os.path.join(spool, name))]

    def test_the_browser_once_then_stored_and_kept_tokens_and_expiry_refreshed_silently(self):
        self.browse("consent")
        self.sends("first", browser=1, tokens=["authorization_code 200"])
        self.assertEqual(len(self.caught()), 1)
        # Another process: the stored refresh token, which rotates.
        self.sends("first", tokens=["refresh_token 200"])
        # One process: the second send uses the token kept in memory, the third
        # comes after it expired and refreshes.
        self.sends("first", ("repeat", "2"), tokens=["refresh_token 200"])
        self.sends("first", ("repeat", "2"), ("pause_ms", str(ACCESS_SECONDS * 1000)),
                   tokens=["refresh_token 200", "refresh_token 200"])

    def test_the_sent_copy_signs_in_to_imap_with_the_same_token(self):
        self.browse("consent")
        account = self.address("copy")
        imap = self.enterContext(dovecot(ARGS.ca, {}, {account: ["Sent"]}, introspection=self.issuer + "/token/introspection"))
        self.sends("copy", ("copy_mode", "always"), ("copy_server", "localhost:%d" % imap.imap),
                   browser=1, tokens=["authorization_code 200"])  # one consent for both
        self.assertIn("\nCOPY PLACED Sent\n", self.client.output)
        with open(os.path.join(imap.work, "dovecot.log")) as log:
            self.assertIn("imap-login: Info: Login: user=<%s>, method=XOAUTH2" % account, log.read())
        copies = os.listdir(os.path.join(imap.work, "mail", account, ".Sent", "cur"))
        self.assertEqual(len(copies), 1, "one copy")
        self.assertTrue(copies[0].endswith(":2,S"), "seen: %s" % copies[0])

    def test_a_refused_token_is_refreshed_once_and_a_revoked_refresh_token_brings_the_browser_back(self):
        self.browse("consent")
        self.assertEqual(self.send("second")[0], True)
        # The token kept in memory refused as Google refuses one (334, JSON, 535), then as Microsoft does
        # (a bare 535) over OAUTHBEARER where that is all that is offered: one refresh each, then it goes.
        sign_ins = os.path.join(self.catcher, "sign-ins")
        for refuse, offer in (("%d", {}), ("%d plain", {"offer": "OAUTHBEARER"})):
            with self.catcher_told(refuse=refuse % (len(read_lines(sign_ins)) + 2), **offer):
                self.sends("second", ("repeat", "2"), tokens=["refresh_token 200", "refresh_token 200"])
            last = read_lines(sign_ins)[-3:]
            self.assertEqual([line.split()[-1] for line in last], ["accepted", "refused", "accepted"])
            if offer:
                self.assertEqual({line.rsplit(" ", 1)[0] for line in last}, {"OAUTHBEARER " + self.address("second")})
        # Revoked: the refresh is refused, the stored token goes, the browser opens once more.
        python("oauth_server/oauth_server.py", "revoke", "RefreshToken", "--state-dir", self.oauth, "--ca", ARGS.ca)
        self.sends("second", browser=1, tokens=["refresh_token 400", "authorization_code 200"])

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
        opened, closed = self.openings(), free_port()
        for mode, profile, fields, words in [
            ("unavailable", {}, (), "temporarily_unavailable (try again later)"),
            ("garbage", {}, (), "did not answer with JSON as OAuth 2.0 says"),
            ("slow", {}, (("token_timeout_ms", "1500"),), "did not answer in time"),
            (None, {"TokenEndpoint": "https://localhost:%d/token" % closed}, (), "could not be reached (12029)"),
        ]:
            with self.subTest(mode or "down"), self.provider(mode, **profile):
                sent, number, description = self.send("third", *fields)
                self.assertEqual((sent, number), (False, SIGN_IN_FAILED), description)
                self.assertIn(words, description)
                self.assertEqual(self.caught(), [])
        # None of that was the grant's fault: the stored token still signs in, without the browser.
        self.assertEqual(self.send("third"), (True, 0, ""))
        self.assertEqual(self.openings(), opened)

    def test_a_refresh_refused_for_its_scope_goes_once_without_it_and_then_to_the_browser(self):
        # This server leaves offline_access out of a grant made without a consent prompt, and
        # refuses a refresh that names it; without a scope the grant's own comes.
        self.browse("consent")
        with self.provider(Scope="openid offline_access smtp.send"):
            self.assertEqual(self.send("fourth")[0], True)
            self.sends("fourth", tokens=["refresh_token 400", "refresh_token 200"])
            # Refused without a scope too: the grant is gone, and the browser opens once.
            self.mode("scope-refused")
            self.sends("fourth", browser=1, tokens=["refresh_token 400", "refresh_token 400", "authorization_code 200"])


if __name__ == "__main__":
    main()
