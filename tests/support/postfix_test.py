#!/usr/bin/python3
"""The SMTP mail component against a production mail server: a private
Postfix instance on loopback (Debian's postfix with Cyrus SASL), started and
stopped here, with its hardening on. Mail it takes lands in a Maildir of the
test's; nothing leaves the machine. The Python servers of
smtp_delivery_test.py stay for the faults that only a scripted server makes.

    postfix_test.py --client PATH [--wine] --ca CA_DIR

Services, each on a loopback port of its own: submission (STARTTLS, then a
sign-in), TLS from the first byte with a sign-in, a plain one that offers a
sign-in without TLS and needs none, and one that takes messages of 100 kB at
most. Postfix runs as root; elsewhere the test is skipped.
"""

import email
import email.policy
import glob
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "..", "tools", name) for name in ("smtp_send", "smtp_catcher")]
from smtp_client import client_from_args, free_port  # noqa: E402

CLIENT, CA_DIR = None, None
USER, PASSWORD, REALM = "reader", "P\u00f6stfix-Passw\u00f6rd-7", "postfix.test"
SMALL_LIMIT = 100000
MAIL_BASE = -2147220992
MESSAGE_TOO_LARGE = MAIL_BASE + 10

MAIN_CF = """\
compatibility_level = 3.6
queue_directory = {dir}/queue
data_directory = {dir}/data
maillog_file = {dir}/maillog
maillog_file_prefixes = {dir}
alias_maps =
alias_database =
myhostname = postfix.test
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
virtual_mailbox_domains = example.com
virtual_mailbox_base = {dir}/mail
virtual_mailbox_maps = static:inbox/
virtual_uid_maps = static:{uid}
virtual_gid_maps = static:{gid}
virtual_minimum_uid = 1
default_transport = error:nothing leaves the test machine
relay_transport = error:nothing leaves the test machine
smtpd_tls_cert_file = {dir}/config/chain.pem
smtpd_tls_key_file = {dir}/config/key.pem
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
smtpd_sasl_local_domain = {realm}
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject
# The hardening of real servers.
smtpd_forbid_unauth_pipelining = yes
smtpd_forbid_bare_newline = yes
smtpd_data_restrictions = reject_unauth_pipelining
strict_rfc821_envelopes = yes
"""

SIGNED_IN_ONLY = "-o smtpd_sasl_auth_enable=yes -o smtpd_relay_restrictions=permit_sasl_authenticated,reject"
# Each service logs under a name of its own: postfix/submission/smtpd, ...
MASTER_CF = """\
127.0.0.1:{submission} inet n - n - - smtpd -o syslog_name=postfix/submission
  -o smtpd_tls_security_level=encrypt -o smtpd_tls_auth_only=yes {signed_in}
127.0.0.1:{smtps} inet n - n - - smtpd -o syslog_name=postfix/smtps -o smtpd_tls_wrappermode=yes {signed_in}
127.0.0.1:{plain} inet n - n - - smtpd -o syslog_name=postfix/plain -o smtpd_sasl_auth_enable=yes
127.0.0.1:{small} inet n - n - - smtpd -o syslog_name=postfix/small -o message_size_limit={small_limit}
pickup    unix n - n 60 1 pickup
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
rewrite   unix - - n - - trivial-rewrite
bounce    unix - - n - 0 bounce
defer     unix - - n - 0 bounce
trace     unix - - n - 0 bounce
verify    unix - - n - 1 verify
flush     unix n - n 1000 0 flush
proxymap  unix - - n - - proxymap
smtp      unix - - n - - smtp
relay     unix - - n - - smtp
error     unix - - n - - error
retry     unix - - n - - error
discard   unix - - n - - discard
virtual   unix - n n - - virtual
anvil     unix - - n - 1 anvil
scache    unix - - n - 1 scache
tlsmgr    unix - - n 1000 1 tlsmgr
postlog   unix-dgram n - n - 1 postlogd
"""


class PrivatePostfix:
    """A Postfix instance of its own in a temporary folder, on free loopback ports: its
    configuration (root's), queue, data, sign-ins and mail (Postfix's) in folders side by side."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kt-postfix-")
        os.chmod(self.dir, 0o755)
        postfix = pwd.getpwnam("postfix")
        self.ports = {name: free_port() for name in ("submission", "smtps", "plain", "small")}
        for folder in ("config", "sasl", "mail", "data", "queue"):
            os.makedirs(os.path.join(self.dir, folder))
            if folder in ("sasl", "mail", "data"):
                os.chown(os.path.join(self.dir, folder), postfix.pw_uid, postfix.pw_gid)
        self.config = os.path.join(self.dir, "config")
        from certificates import Authority
        issued = Authority(CA_DIR).issue("postfix")
        shutil.copy(issued.chain, os.path.join(self.config, "chain.pem"))
        shutil.copy(issued.key, os.path.join(self.config, "key.pem"))
        # Debian's Postfix reads the sign-in settings from its configuration's sasl folder.
        sasldb = os.path.join(self.dir, "sasl", "sasldb2")
        os.makedirs(os.path.join(self.config, "sasl"))
        with open(os.path.join(self.config, "sasl", "smtpd.conf"), "w") as conf:
            conf.write("pwcheck_method: auxprop\nauxprop_plugin: sasldb\nsasldb_path: %s\nmech_list: PLAIN LOGIN\n"
                       % sasldb)
        subprocess.run(["saslpasswd2", "-p", "-c", "-f", sasldb, "-u", REALM, USER], input=PASSWORD.encode(),
                       check=True)
        os.chown(sasldb, postfix.pw_uid, postfix.pw_gid)
        with open(os.path.join(self.config, "main.cf"), "w") as main:
            main.write(MAIN_CF.format(dir=self.dir, uid=postfix.pw_uid, gid=postfix.pw_gid, realm=REALM))
        with open(os.path.join(self.config, "master.cf"), "w") as master:
            master.write(MASTER_CF.format(signed_in=SIGNED_IN_ONLY, small_limit=SMALL_LIMIT, **self.ports))
        self.postfix("start")

    def postfix(self, command):
        done = subprocess.run(["postfix", "-c", self.config, command], capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError("postfix %s: %s%s" % (command, done.stdout, done.stderr))

    def stop(self):
        try:
            self.postfix("stop")
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)

    def server(self, service):
        return ("smtps://" if service == "smtps" else "") + "localhost:%d" % self.ports[service]

    def inbox(self):
        """The messages delivered so far, oldest first, as bytes."""
        files = glob.glob(os.path.join(self.dir, "mail", "inbox", "new", "*"))
        return [read(path, "rb") for path in sorted(files, key=os.path.getmtime)]

    def log(self, service=""):
        """What Postfix logged, or one service's smtpd of it."""
        path = os.path.join(self.dir, "maillog")
        lines = read(path, "r").splitlines() if os.path.exists(path) else []
        return "\n".join(line for line in lines if "postfix/%s/smtpd[" % service in line or not service)


def read(path, mode):
    with open(path, mode, **({} if "b" in mode else {"errors": "replace"})) as f:
        return f.read()


@unittest.skipUnless(os.geteuid() == 0, "a Postfix instance is started as root")
@unittest.skipUnless(shutil.which("postfix"), "Postfix is not installed (another mail server is)")
class PostfixTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.postfix = PrivatePostfix()

    @classmethod
    def tearDownClass(cls):
        cls.postfix.stop()

    def send(self, service, body, subject, *fields):
        return CLIENT.send([("server", self.postfix.server(service)), ("from", "me@example.com"),
                            ("fromname", "Zo\u00eb Reader"), ("to", "ann@example.com\tAnn"), ("subject", subject),
                            ("body", body), *fields])

    def arrived(self, subject):
        """The one message with this subject that Postfix put in the inbox (it delivers at its own pace)."""
        for _ in range(100):
            found = [raw for raw in self.postfix.inbox() if ("Subject: " + subject).encode() in raw]
            if found:
                self.assertEqual(len(found), 1)
                return email.message_from_bytes(found[0], policy=email.policy.default)
            time.sleep(0.1)
        self.fail("nothing arrived with the subject " + subject + "\n" + self.postfix.log()[-3000:])

    def test_each_service_takes_the_message_signed_in_where_it_asks_byte_for_byte(self):
        body = "Gr\u00fc\u00dfe aus K\u00f6ln\r\n.a leading dot\r\n" + "x" * 990 + "\r\n"
        sign_in = (("user", USER), ("password", PASSWORD))
        # The plain service offers a sign-in without TLS and needs none: a kept password is not given there.
        for service, signed_in in [("submission", True), ("smtps", True), ("plain", False)]:
            with self.subTest(service):
                subject = "Through the %s service" % service
                sent, number, description = self.send(service, body, subject, *sign_in)
                self.assertTrue(sent, "%d %s" % (number, description))
                message = self.arrived(subject)
                self.assertEqual(message.get_content(), body.replace("\r\n", "\n"))
                self.assertEqual(str(message["From"]), "Zo\u00eb Reader <me@example.com>")
                log = self.postfix.log(service)
                self.assertEqual("sasl_method=PLAIN, sasl_username=%s@%s" % (USER, REALM) in log, signed_in, log)
                self.assertEqual("auth=" in log, signed_in, log)

    def test_a_message_larger_than_the_server_takes_is_refused_before_it_is_sent(self):
        subject = "Too large"
        sent, number, description = self.send("small", "y" * 76 + "\r\n", subject + " fits")
        self.assertTrue(sent, description)
        self.arrived(subject + " fits")
        sent, number, description = self.send("small", ("y" * 76 + "\r\n") * (SMALL_LIMIT // 70), subject)
        self.assertEqual((sent, number), (False, MESSAGE_TOO_LARGE), description)
        self.assertRegex(description, r"^The message is 11\d kB, more than the 100 kB that the SMTP server localhost "
                                      r"takes; nothing was sent\.$")
        self.assertNotIn("message file too big", self.postfix.log())

    def test_the_hardened_server_has_nothing_to_say_against_any_session(self):
        self.send("plain", "Hello\r\n", "Hardening")
        self.arrived("Hardening")
        log = self.postfix.log()
        for complaint in ("improper command pipelining", "bare <LF>", "non-SMTP command", "lost connection",
                          r"/smtpd\[\d+\]: warning:"):
            self.assertNotRegex(log, complaint)
        sessions = re.findall(r"disconnect from \S+ (.*)", log)
        self.assertTrue(sessions)
        for counts in sessions:
            self.assertIn("quit=1", counts, "a session ended without QUIT")
            self.assertNotRegex(counts, r"=\d+/\d+", "a command was refused: " + counts)


if __name__ == "__main__":
    CLIENT, rest = client_from_args(sys.argv[1:])
    CA_DIR = rest.pop(rest.index("--ca") + 1)
    rest.remove("--ca")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
