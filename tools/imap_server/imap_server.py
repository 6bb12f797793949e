#!/usr/bin/python3
"""A private IMAP server for the tests and the demo: Debian's Dovecot,
started unprivileged with a configuration of its own on loopback, TLS from a
test authority (implicit on one port, STARTTLS on another), passwords from a
file, and optionally tokens checked at an authorization server.

    imap_server.py start --state-dir DIR --ca CA_DIR --users FILE   DIR/port: the STARTTLS port,
                                                                    DIR/imaps-port: the implicit one
    imap_server.py stop  --state-dir DIR                            stop it (by its pid)
    imap_server.py show  --state-dir DIR --ca CA_DIR --users FILE --user USER --folder FOLDER
                                                                    what the folder holds

FILE holds a line USER:PASSWORD per account; each has a folder "Sent"
flagged \\Sent. The tests use the Dovecot class, which takes any folders.
"""

import argparse
import email
import email.policy
import imaplib
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", name) for name in ("smtp_send", "smtp_catcher")]
from certificates import Authority  # noqa: E402
from smtp_client import free_port  # noqa: E402

CONFIGURATION = """protocols = imap
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
{oauth}userdb {{
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
"""

# Tokens are asked about at the introspection endpoint (RFC 7662) as the
# authorization server's client "smtp-server"; the account is the token's subject.
OAUTH_PASSDB = """passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {w}/oauth2.conf.ext
}}
"""


class Dovecot:
    """Dovecot on two free ports of loopback: `imap` (STARTTLS) and `imaps`.
    `passwords` maps each account to its password, `folders` each account to
    the folders it starts with; `introspection` is the authorization server's
    endpoint for tokens, if any."""

    def __init__(self, work, ca_dir, passwords, folders, introspection=None):
        self.work, self.ca_file, self.passwords = work, os.path.join(ca_dir, "ca.pem"), passwords
        self.imaps, self.imap = free_port(), free_port()
        issued = Authority(ca_dir).issue("dovecot")
        user = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
        group = subprocess.run(["id", "-gn"], capture_output=True, text=True).stdout.strip()
        # Dovecot runs no process but its master as root: as root the others go as nobody.
        if os.getuid() == 0:
            user, group = "nobody", "nogroup"
            os.chmod(work, 0o755)
        with open(os.path.join(work, "passwd"), "w") as f:
            for name, password in passwords.items():
                f.write("%s:{PLAIN}%s\n" % (name, password))
        oauth = ""
        if introspection:
            with_client = introspection.replace("://", "://smtp-server:smtp-server-secret@", 1)
            with open(os.path.join(work, "oauth2.conf.ext"), "w") as f:
                f.write("introspection_mode = post\nintrospection_url = %s\nusername_attribute = sub\n"
                        "active_attribute = active\nactive_value = true\ntls_ca_cert_file = %s\n" %
                        (with_client, self.ca_file))
            oauth = OAUTH_PASSDB.format(w=work)
        for account, names in folders.items():
            for folder in names:
                for sub in ("cur", "new", "tmp"):
                    os.makedirs(os.path.join(work, "mail", account, "." + folder, sub), exist_ok=True)
        for top, names, files in os.walk(os.path.join(work, "mail")):
            for name in [top] + [os.path.join(top, f) for f in names + files]:
                shutil.chown(name, user, group)
        self.config = os.path.join(work, "dovecot.conf")
        with open(self.config, "w") as f:
            f.write(CONFIGURATION.format(w=work, u=user, g=group, cert=issued.chain, key=issued.key, imap=self.imap,
                                         imaps=self.imaps, oauth=oauth))
        errors = os.path.join(work, "dovecot.err")
        with open(errors, "w") as f:
            self.process = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", self.config], stdout=f, stderr=f,
                                            stdin=subprocess.DEVNULL, start_new_session=True)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.imaps), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    raise AssertionError("Dovecot did not start: %r" % open(errors).read())
                time.sleep(0.1)
        self.stop()
        raise AssertionError("Dovecot did not listen")

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def mailbox(self, user, folder):
        """What the folder holds, read by imaplib: [(flags, bytes)]."""
        return read_folder(self.imaps, self.ca_file, user, self.passwords[user], folder)


def read_folder(port, ca_file, user, password, folder):
    context = ssl.create_default_context(cafile=ca_file)
    with imaplib.IMAP4_SSL("localhost", port, ssl_context=context) as imap:
        imap.login(user, password)
        status, _ = imap.select('"%s"' % folder, readonly=True)
        assert status == "OK", folder
        _, numbers = imap.search(None, "ALL")
        found = []
        for number in numbers[0].split():
            _, data = imap.fetch(number, "(FLAGS BODY.PEEK[])")
            found.append((data[0][0].decode(), data[0][1]))
        return found


def accounts(users_file):
    with open(users_file) as f:
        return dict(line.strip().split(":", 1) for line in f if ":" in line)


def start(state_dir, ca_dir, users_file):
    os.makedirs(state_dir, exist_ok=True)
    passwords = accounts(users_file)
    server = Dovecot(state_dir, os.path.abspath(ca_dir), passwords, {user: ["Sent"] for user in passwords})
    for name, value in (("pid", server.process.pid), ("port", server.imap), ("imaps-port", server.imaps)):
        with open(os.path.join(state_dir, name), "w") as f:
            f.write(str(value))
    print("IMAP server on localhost:%d (STARTTLS) and :%d (TLS)" % (server.imap, server.imaps))
    return 0


def stop(state_dir):
    try:
        with open(os.path.join(state_dir, "pid")) as f:
            os.kill(int(f.read()), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    return 0


def show(state_dir, ca_dir, users_file, user, folder):
    """Each message's flags and header, as the demo shows them; fails if there are none."""
    port = int(open(os.path.join(state_dir, "imaps-port")).read())
    found = read_folder(port, os.path.join(ca_dir, "ca.pem"), user, accounts(users_file)[user], folder)
    for number, (flags, data) in enumerate(found, 1):
        message = email.message_from_bytes(data, policy=email.policy.default)
        print("----- %s, message %d, flags %s -----" % (folder, number, re.search(r"FLAGS \(([^)]*)\)", flags).group(1)))
        for name in ("Message-ID", "From", "To", "Cc", "Bcc", "Subject"):
            if message[name]:
                print("%s: %s" % (name, message[name]))
    return 0 if found else 1


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "show"])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--ca")
    parser.add_argument("--users")
    parser.add_argument("--user")
    parser.add_argument("--folder", default="Sent")
    args = parser.parse_args()
    state = os.path.abspath(args.state_dir)
    if args.command == "start":
        sys.exit(start(state, args.ca, args.users))
    elif args.command == "stop":
        sys.exit(stop(state))
    sys.exit(show(state, args.ca, args.users, args.user, args.folder))
