#!/usr/bin/python3
"""The SMTP mail component against a private Postfix (Debian's, with Cyrus
SASL) on loopback with its hardening on, delivering into a Maildir of the
test's. Its services: submission (STARTTLS, then a sign-in), TLS from the first
byte with a sign-in, plain with a sign-in offered and not needed, and one that
takes 100 kB at most. Skipped unless run as root.

    postfix_test.py --client PATH [--wine] --ca CA_DIR
"""

import email
import email.policy
import os
import pathlib
import pwd
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from mail_harness import MAIL_BASE, MailClient, free_port, main, options, run

ARGS = options("--client", "--ca")
CLIENT = MailClient(ARGS.client, ARGS.wine)
USER, PASSWORD, REALM = "reader", "P\u00f6stfix-Passw\u00f6rd-7", "postfix.test"
SMALL_LIMIT = 100000
MESSAGE_TOO_LARGE = MAIL_BASE + 10

MAIN_CF = """\
compatibility_level = 3.6
queue_directory = {dir}/queue
data_directory = {dir}/data
maillog_file = {dir}/maillog
maillog_file_prefixes = {dir}
alias_maps =
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
smtpd_sasl_local_domain = {realm}
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject
# The hardening of real servers.
smtpd_forbid_unauth_pipelining = yes
smtpd_forbid_bare_newline = yes
smtpd_data_restrictions = reject_unauth_pipelining
strict_rfc821_envelopes = yes
"""

SIGNED_IN_ONLY = "-o smtpd_sasl_auth_enable=yes -o smtpd_relay_restrictions=permit_sasl_authenticated,reject"
# Each service logs under a name of its own (postfix/submission/smtpd, ...);
# of Postfix's own services only those that a delivery into the Maildir uses.
MASTER_CF = """\
127.0.0.1:{submission} inet n - n - - smtpd -o syslog_name=postfix/submission
  -o smtpd_tls_security_level=encrypt -o smtpd_tls_auth_only=yes {signed_in}
127.0.0.1:{smtps} inet n - n - - smtpd -o syslog_name=postfix/smtps -o smtpd_tls_wrappermode=yes {signed_in}
127.0.0.1:{plain} inet n - n - - smtpd -o syslog_name=postfix/plain -o smtpd_sasl_auth_enable=yes
127.0.0.1:{small} inet n - n - - smtpd -o syslog_name=postfix/small -o message_size_limit={small_limit}
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
rewrite   unix - - n - - trivial-rewrite
bounce    unix - - n - 0 bounce
defer     unix - - n - 0 bounce
trace     unix - - n - 0 bounce
flush     unix n - n 1000 0 flush
proxymap  unix - - n - - proxymap
error     unix - - n - - error
virtual   unix - n n - - virtual
anvil     unix - - n - 1 anvil
tlsmgr    unix - - n 1000 1 tlsmgr
postlog   unix-dgram n - n - 1 postlogd
"""


@unittest.skipUnless(os.geteuid() == 0, "a Postfix instance is started as root")
@unittest.skipUnless(shutil.which("postfix"), "Postfix is not installed (another mail server is)")
class PostfixTest(unittest.TestCase):
    """One instance for the class: its configuration (root's), queue, data, sign-ins and mail (Postfix's)."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kt-postfix-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, ignore_errors=True)
        os.chmod(cls.dir, 0o755)
        uid, gid = pwd.getpwnam("postfix")[2:4]
        cls.ports = {name: free_port() for name in ("submission", "smtps", "plain", "small")}
        cls.config = path = os.path.join(cls.dir, "config")
        for folder in ("config/sasl", "queue", "sasl", "mail", "data"):
            os.makedirs(os.path.join(cls.dir, folder))
        for folder in ("sasl", "mail", "data"):
            os.chown(os.path.join(cls.dir, folder), uid, gid)
        from certificates import Authority
        issued = Authority(ARGS.ca).issue("postfix")
        shutil.copy(issued.chain, os.path.join(path, "chain.pem"))
        shutil.copy(issued.key, os.path.join(path, "key.pem"))
        # Debian's Postfix reads the sign-in settings from its configuration's sasl folder.
        sasldb = os.path.join(cls.dir, "sasl", "sasldb2")
        pathlib.Path(path, "sasl", "smtpd.conf").write_text(
            "pwcheck_method: auxprop\nauxprop_plugin: sasldb\nsasldb_path: %s\nmech_list: PLAIN LOGIN\n" % sasldb)
        subprocess.run(["saslpasswd2", "-p", "-c", "-f", sasldb, "-u", REALM, USER], input=PASSWORD.encode(),
                       check=True)
        os.chown(sasldb, uid, gid)
        pathlib.Path(path, "main.cf").write_text(MAIN_CF.format(dir=cls.dir, uid=uid, gid=gid, realm=REALM))
        pathlib.Path(path, "master.cf").write_text(MASTER_CF.format(signed_in=SIGNED_IN_ONLY, small_limit=SMALL_LIMIT,
                                                                    **cls.ports))
        cls.postfix("start")
        cls.addClassCleanup(cls.postfix, "stop")

    @classmethod
    def postfix(cls, command):
        done = run("postfix", "-c", cls.config, command)
        assert done.returncode == 0, "postfix %s: %s%s" % (command, done.stdout, done.stderr)

    def log(self, service=""):
        """What Postfix logged, or one service's smtpd of it."""
        path = pathlib.Path(self.dir, "maillog")
        lines = path.read_text(errors="replace").splitlines() if path.exists() else []
        return "\n".join(line for line in lines if "postfix/%s/smtpd[" % service in line or not service)

    def send(self, service, body, subject, *fields):
        server = ("smtps://" if service == "smtps" else "") + "localhost:%d" % self.ports[service]
        return CLIENT.send([("server", server), ("from", "me@example.com"), ("fromname", "Zo\u00eb Reader"),
                            ("to", "ann@example.com\tAnn"), ("subject", subject), ("body", body), *fields])

    def arrived(self, subject):
        """The one message with this subject that Postfix put in the inbox (it delivers at its own pace)."""
        for _ in range(100):
            found = [raw for raw in (path.read_bytes() for path in pathlib.Path(self.dir, "mail/inbox/new").glob("*"))
                     if ("Subject: " + subject).encode() in raw]
            if found:
                self.assertEqual(len(found), 1)
                return email.message_from_bytes(found[0], policy=email.policy.default)
            time.sleep(0.1)
        self.fail("nothing arrived with the subject " + subject + "\n" + self.log()[-3000:])

    def assert_the_hardened_server_had_nothing_to_say(self):
        """Against any session so far: no complaint, every command taken, QUIT at the end."""
        log = self.log()
        for complaint in ("improper command pipelining", "bare <LF>", "non-SMTP command", "lost connection",
                          r"/smtpd\[\d+\]: warning:"):
            self.assertNotRegex(log, complaint)
        sessions = re.findall(r"disconnect from \S+ (.*)", log)
        self.assertTrue(sessions)
        for counts in sessions:
            self.assertIn("quit=1", counts, "a session ended without QUIT")
            self.assertNotRegex(counts, r"=\d+/\d+", "a command was refused: " + counts)

    def test_each_service_takes_the_message_signed_in_where_it_asks_byte_for_byte(self):
        body = "Gr\u00fc\u00dfe aus K\u00f6ln\r\n.a leading dot\r\n" + "x" * 990 + "\r\n"
        # The plain service offers a sign-in without TLS and needs none: a kept password is not given there.
        for service, signed_in in [("submission", True), ("smtps", True), ("plain", False)]:
            with self.subTest(service):
                subject = "Through the %s service" % service
                sent, number, description = self.send(service, body, subject, ("user", USER), ("password", PASSWORD))
                self.assertTrue(sent, "%d %s" % (number, description))
                message = self.arrived(subject)
                self.assertEqual(message.get_content(), body.replace("\r\n", "\n"))
                self.assertEqual(str(message["From"]), "Zo\u00eb Reader <me@example.com>")
                log = self.log(service)
                self.assertEqual("sasl_method=PLAIN, sasl_username=%s@%s" % (USER, REALM) in log, signed_in, log)
                self.assertEqual("auth=" in log, signed_in, log)
        self.assert_the_hardened_server_had_nothing_to_say()

    def test_a_message_larger_than_the_server_takes_is_refused_before_it_is_sent(self):
        sent, number, description = self.send("small", "y" * 76 + "\r\n", "Small enough")
        self.assertTrue(sent, description)
        self.arrived("Small enough")
        sent, number, description = self.send("small", ("y" * 76 + "\r\n") * (SMALL_LIMIT // 70), "Too large")
        self.assertEqual((sent, number), (False, MESSAGE_TOO_LARGE), description)
        self.assertRegex(description, r"^The message is 11\d kB, more than the 100 kB that the SMTP server localhost "
                                      r"takes; nothing was sent\.$")
        self.assertNotIn("message file too big", self.log())
        self.assert_the_hardened_server_had_nothing_to_say()


if __name__ == "__main__":
    main()
