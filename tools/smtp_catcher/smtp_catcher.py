#!/usr/bin/python3
"""A local SMTP catcher (aiosmtpd) for the demo and the end-to-end tests.

    smtp_catcher.py start --state-dir DIR [TLS]   start in the background; DIR/port holds the port
    smtp_catcher.py stop  --state-dir DIR         stop the catcher started there (by its pid)
    smtp_catcher.py show  --state-dir DIR         print the messages caught, as Python's email reads them

TLS, for a catcher like a provider's submission server (it listens on
127.0.0.1 and its certificate is for "localhost"):
    --tls CA_DIR              offer STARTTLS, and require it, with a certificate issued by the
                              authority kept in CA_DIR (made there the first time; trust CA_DIR/ca.pem)
    --implicit-tls            TLS from the first byte instead of STARTTLS
    --sign-in FILE            offer a sign-in after TLS and require it: the account
                              is the line USER:PASSWORD of FILE
    --sign-in-optional        offer it without requiring it
    --login-only              offer AUTH LOGIN only (PLAIN too otherwise)

A slow catcher, like a server at the end of a slow uplink:
    --rate BYTES              take what clients send at BYTES a second, TLS or not (its socket
                              buffers are small, so the client sees the rate at once)
    --verdict-delay SECONDS   wait this long before accepting a message
    --size-limit BYTES        the largest message it takes, as its SIZE announces (64 MB otherwise)
    --oauth URL               require a sign-in with a bearer token (XOAUTH2, OAUTHBEARER) after TLS,
                              each token checked at the authorization server's introspection endpoint
                              URL (trusting CA_DIR); a bad one is answered as Google's server does:
                              334 and an error in JSON, then 535. DIR/refuse may name the Nth
                              sign-in since the start, which is then refused whatever its token
                              ("N plain": with a bare 535, as Microsoft's server does); DIR/offer
                              may name the mechanisms the greeting offers (both otherwise)

Each message is kept as DIR/spool/N.eml (as received) and DIR/spool/N.txt, a
summary: envelope, decoded headers and the decoded body (of a page's, the
HTML, then the text part after a line "Text part:"). Each sign-in since
the start is a line of DIR/sign-ins: mechanism, user, "accepted" or "refused"."""

import argparse
import email
import email.policy
import os
import signal
import sys
import threading

import background


def decoded(part):
    return (part.get_payload(decode=True) or b"").decode(part.get_content_charset() or "utf-8", "replace")


def summary(mail_from, rcpt_tos, raw):
    """Envelope, decoded headers and the body: of a page's, its HTML (inside a related part or not), its
    type named, then its text."""
    message = email.message_from_bytes(raw, policy=email.policy.default)
    shown, first = message, None
    if message.is_multipart():
        leaves = [part for part in message.walk() if not part.is_multipart()]
        shown = next((p for p in leaves if p.get_content_type() == "text/html"), message.get_payload()[-1])
        first = next((p for p in leaves if p.get_content_type() == "text/plain"), message.get_payload()[0])
    lines = ["Envelope-From: " + mail_from, "Envelope-To: " + ", ".join(rcpt_tos)]
    for header in ("From", "To", "Cc", "Subject", "Content-Type"):
        if header in message:
            lines.append("%s: %s" % (header, message[header]))
    if shown is not message:
        lines.append("Content-Type: %s" % shown["Content-Type"])
    text = "\n\nText part:\n" + decoded(first) if shown is not message else ""
    return "\n".join(lines) + "\n\n" + decoded(shown) + text


class Spool:
    def __init__(self, directory, verdict_delay=0):
        self.directory, self.verdict_delay = directory, verdict_delay
        os.makedirs(directory, exist_ok=True)
        self.count = len([n for n in os.listdir(directory) if n.endswith(".eml")])
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        if self.verdict_delay:
            import asyncio
            await asyncio.sleep(self.verdict_delay)
        with self.lock:
            self.count += 1
            base = os.path.join(self.directory, str(self.count))
        raw = bytes(envelope.original_content)
        with open(base + ".eml", "wb") as f:
            f.write(raw)
        with open(base + ".txt.part", "w", encoding="utf-8", newline="") as f:
            f.write(summary(envelope.mail_from, envelope.rcpt_tos, raw))
        os.replace(base + ".txt.part", base + ".txt")
        return "250 2.0.0 Caught"


class BearerTokens(Spool):
    """A catcher that takes sign-ins with tokens and asks the authorization server about each."""

    def __init__(self, directory, introspection, ca_file, log_path):
        super().__init__(directory)
        self.introspection, self.ca_file, self.log_path = introspection, ca_file, log_path
        self.attempts = 0

    def state(self, name):
        """The words of DIR/name, none when there is no such file."""
        try:
            with open(os.path.join(os.path.dirname(self.log_path), name)) as f:
                return f.read().split()
        except OSError:
            return []

    def refusal(self):
        """How this sign-in is refused whatever its token, as DIR/refuse says: None, "json" or "plain"."""
        words = self.state("refuse")
        if not words or int(words[0]) != self.attempts:
            return None
        return words[1] if len(words) > 1 else "json"

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        offered = self.state("offer")
        return [line[:4] + "AUTH " + " ".join(offered) if offered and line[4:].startswith("AUTH ") else line
                for line in responses]

    def token_owner(self, token):
        """The account an active token is for; None for any other token."""
        import base64
        import json
        import ssl
        import urllib.parse
        import urllib.request
        request = urllib.request.Request(self.introspection, data=urllib.parse.urlencode({"token": token}).encode())
        request.add_header("Authorization", "Basic " + base64.b64encode(b"smtp-server:smtp-server-secret").decode())
        with urllib.request.urlopen(request, context=ssl.create_default_context(cafile=self.ca_file)) as answer:
            verdict = json.load(answer)
        return verdict.get("sub") if verdict.get("active") else None

    async def bearer(self, server, args, mechanism):
        import base64
        import json
        from aiosmtpd.smtp import AuthResult
        response = base64.b64decode(args[1]) if len(args) > 1 else b""
        fields = dict(part.split(b"=", 1) for part in response.split(b"\x01") if b"=" in part)
        user = fields.get(b"user", b"").decode() if mechanism == "XOAUTH2" else \
            response.split(b",")[1][2:].decode() if response.count(b",") >= 2 else ""
        token = fields.get(b"auth", b"").decode().replace("Bearer ", "", 1)
        self.attempts += 1
        refusal = self.refusal()
        accepted = bool(token) and not refusal and self.token_owner(token) == user
        with open(self.log_path, "a") as log:
            log.write("%s %s %s\n" % (mechanism, user, "accepted" if accepted else "refused"))
        if accepted:
            return AuthResult(success=True, handled=False)
        if refusal == "plain":
            return AuthResult(success=False, handled=False, message="535 5.7.3 Authentication unsuccessful")
        # As Google's server does: the error as JSON, which the client answers, then 535.
        error = json.dumps({"status": "401", "schemes": "bearer", "scope": "https://mail.google.com/"})
        await server.challenge_auth(error)
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")

    async def auth_XOAUTH2(self, server, args):
        return await self.bearer(server, args, "XOAUTH2")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.bearer(server, args, "OAUTHBEARER")


class Accounts:
    """The one account the catcher knows; logs every sign-in without its password."""

    def __init__(self, account_file, log_path):
        with open(account_file, "rb") as f:
            self.user, _, self.password = f.read().strip().partition(b":")
        self.log_path = log_path

    def __call__(self, server, session, envelope, mechanism, auth_data):
        from aiosmtpd.smtp import AuthResult
        accepted = auth_data.login == self.user and auth_data.password == self.password
        with open(self.log_path, "a") as log:
            log.write("%s %s %s\n" % (mechanism, auth_data.login.decode(errors="replace"),
                                      "accepted" if accepted else "refused"))
        return AuthResult(success=accepted, handled=False)


def slow_controller(rate):
    """A Controller whose connections read what arrives at `rate` bytes a second."""
    import socket
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import SMTP

    class SlowReading(SMTP):
        def connection_made(self, transport):
            # The first transport is the socket's, under any TLS started later.
            if not hasattr(self, "socket_transport"):
                self.socket_transport, self.next_read = transport, 0.0
                # The stream reader resumes the socket when it has read its fill: not before its time.
                self.resume_now, transport.resume_reading = transport.resume_reading, self.resume
            super().connection_made(transport)

        def data_received(self, data):
            super().data_received(data)
            now = self.loop.time()
            self.next_read = max(self.next_read, now) + len(data) / rate
            if self.next_read > now and self.socket_transport.is_reading():
                self.socket_transport.pause_reading()
                self.loop.call_at(self.next_read, self.resume)

        def resume(self):
            if self.loop.time() < self.next_read:
                self.loop.call_at(self.next_read, self.resume)
            elif not self.socket_transport.is_closing():
                self.resume_now()

    class SlowController(Controller):
        def factory(self):
            return SlowReading(self.handler, **self.SMTP_kwargs)

        def _create_server(self):
            listener = socket.socket()
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
            listener.bind((self.hostname, self.port))
            listener.listen()
            return self.loop.create_server(self._factory_invoker, sock=listener, ssl=self.ssl_context)

    return SlowController


def controller_options(args, state_dir):
    if not args.tls:
        return {}
    import ssl
    from certificates import Authority
    issued = Authority(os.path.abspath(args.tls)).issue("catcher-%d" % os.getpid())
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(issued.chain, issued.key)
    options = {"ssl_context": context} if args.implicit_tls else {"tls_context": context, "require_starttls": True}
    if args.oauth:
        options.update(auth_required=True, auth_exclude_mechanism=["PLAIN", "LOGIN"])
    if args.sign_in:
        options.update(authenticator=Accounts(args.sign_in, os.path.join(state_dir, "sign-ins")),
                       auth_required=not args.sign_in_optional,
                       auth_require_tls=not args.implicit_tls,  # aiosmtpd counts only STARTTLS as TLS
                       auth_exclude_mechanism=["PLAIN"] if args.login_only else [])
    return options


def serve(args, state_dir):
    from aiosmtpd.controller import Controller
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path[:0] = [here, os.path.join(here, "..", "smtp_send")]
    from smtp_client import free_port
    port = free_port()
    spool = os.path.join(state_dir, "spool")
    handler = BearerTokens(spool, args.oauth, os.path.join(os.path.abspath(args.tls), "ca.pem"),
                           os.path.join(state_dir, "sign-ins")) if args.oauth else Spool(spool, args.verdict_delay)
    controller_class = slow_controller(args.rate) if args.rate else Controller
    controller = controller_class(handler, hostname="127.0.0.1", port=port,
                                  data_size_limit=args.size_limit or 64 * 1024 * 1024, **controller_options(args, state_dir))
    controller.start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    with open(os.path.join(state_dir, "port.part"), "w") as f:
        f.write(str(port))
    os.replace(os.path.join(state_dir, "port.part"), os.path.join(state_dir, "port"))
    stop.wait()
    controller.stop()


def serve_options(args):
    """The options of `start` for the server it starts."""
    options = ["--tls", os.path.abspath(args.tls)] if args.tls else []
    options += ["--sign-in", os.path.abspath(args.sign_in)] if args.sign_in else []
    options += ["--oauth", args.oauth] if args.oauth else []
    for flag in ("implicit_tls", "sign_in_optional", "login_only"):
        options += ["--" + flag.replace("_", "-")] if getattr(args, flag) else []
    for value in ("rate", "verdict_delay", "size_limit"):
        options += ["--" + value.replace("_", "-"), str(getattr(args, value))] if getattr(args, value) else []
    return options


def start(state_dir, options):
    os.makedirs(state_dir, exist_ok=True)
    for name in ("port", "pid", "sign-ins"):
        if os.path.exists(os.path.join(state_dir, name)):
            os.remove(os.path.join(state_dir, name))
    if not background.start([sys.executable, os.path.abspath(__file__), "serve", "--state-dir", state_dir] + options,
                            state_dir, "catcher.log", "port", seconds=10):
        return 1
    print("SMTP catcher on 127.0.0.1:%s" % open(os.path.join(state_dir, "port")).read())
    return 0


def stop(state_dir):
    return background.stop(state_dir, "port")


def show(state_dir):
    spool = os.path.join(state_dir, "spool")
    names = sorted((n for n in os.listdir(spool) if n.endswith(".txt")), key=lambda n: int(n.split(".")[0])) \
        if os.path.isdir(spool) else []
    for name in names:
        print("----- message %s -----" % name.split(".")[0])
        print(open(os.path.join(spool, name), encoding="utf-8").read())
    return 0 if names else 1


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "show", "serve"])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--tls", metavar="CA_DIR")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--sign-in", metavar="FILE")
    parser.add_argument("--sign-in-optional", action="store_true")
    parser.add_argument("--login-only", action="store_true")
    parser.add_argument("--oauth", metavar="URL")
    parser.add_argument("--rate", type=int, metavar="BYTES")
    parser.add_argument("--verdict-delay", type=float, default=0, metavar="SECONDS")
    parser.add_argument("--size-limit", type=int, metavar="BYTES")
    args = parser.parse_args()
    state = os.path.abspath(args.state_dir)
    if args.command == "serve":
        serve(args, state)
    elif args.command == "start":
        sys.exit(start(state, serve_options(args)))
    else:
        sys.exit({"stop": stop, "show": show}[args.command](state))
