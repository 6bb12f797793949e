#!/usr/bin/python3
"""A web server on loopback with the pages the tests and the bench mail, and
the ways real servers make fetching their pictures hard.

    page_server.py start --state-dir DIR [--tls CA_DIR]
                                           start in the background; DIR/port holds the port
    page_server.py stop  --state-dir DIR   stop the server started there (by its pid)

DIR/site holds what it serves, made at the start: pictures (PNG, JPEG, GIF,
SVG, WebP and AVIF) and the pages news/pretty.html (pictures, a stylesheet with url() and
an @import, a srcset, inline styles), news/hostile.html (the same, and
pictures that redirect too often, lie about their type, are too large,
never answer, want a Windows sign-in, or sit on file: and UNC paths),
news/heavy.html (four pictures of some 85 KB each), news/never.html (one picture
that never answers) and news/twenty.html (20 pictures of 50 KB each).

Beyond the files: /hop/N/NAME redirects N times before NAME is served from
img/; /lying serves a PNG called text/plain; /never.png takes the request and
never answers; /private.png asks for a Windows sign-in. Every answer sets a
cookie. DIR/requests has a line per request: its path, then "cookie" and
"authorization" where the request carried them, and "host" with the Host
header where it names the server otherwise than by its address; with --timed (for the
bench) written once the answer is out, ending with the time (seconds since 1970).
With --tls, the same is served over https on DIR/tls-port too, as "localhost"
with a certificate from the authority in CA_DIR."""

import argparse
import http.server
import os
import random
import signal
import ssl
import subprocess
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "smtp_catcher"), os.path.join(here, "..", "smtp_send")]
import background  # noqa: E402

PRETTY = """<html><head><title>Pretty</title>
<link rel="stylesheet" href="../css/site.css">
</head><body>
<h1>A page with pictures</h1>
<p><img src="../img/red.png" alt="red" width="120" height="80">
<img src="http://127.0.0.1:{port}/img/blue.jpg" alt="blue" width="100" height="60">
<img src="../img/red.png" alt="red again" width="120" height="80"></p>
<p><img srcset="../img/small.gif 300w, ../img/green.gif 1000w, ../img/huge.png 3000w" alt="chosen" width="64" height="64"></p>
<div class="tiled">A tiled box</div>
<div style="background: url('../img/bg.png'); width: 200px; height: 50px">Inline</div>
<p><a href="about.html">About</a> <a href="#top">Top</a></p>
</body></html>
"""

HOSTILE_EXTRA = """<p><img src="/hop/5/ok.png" alt="five hops"> <img src="/hop/6/far.png" alt="six hops">
<img src="/lying" alt="lying"> <img src="/img/big.png" alt="too big"> <img src="/never.png" alt="never">
<img src="/private.png" alt="private"> <img src="file:///Z:{site}/img/secret.png" alt="file">
<img src="\\\\127.0.0.1\\share\\unc.png" alt="unc"> <img src="/img/drawing.svg" alt="drawing">
<img src="data:image/gif;base64,{carried}" alt="carried"> <img src="/img/leaf.webp" alt="webp">
<img src="/img/leaf.avif" alt="avif"></p>
</body></html>
"""


def picture(path, *arguments):
    subprocess.run(["convert", *arguments, path], check=True)


def make_site(site, port):
    for folder in ("img", "css", "news"):
        os.makedirs(os.path.join(site, folder), exist_ok=True)
    img = lambda name: os.path.join(site, "img", name)
    picture(img("red.png"), "-size", "120x80", "xc:#d01010")
    picture(img("blue.jpg"), "-size", "100x60", "xc:#1030c0")
    picture(img("green.gif"), "-size", "64x64", "xc:#10a020")
    picture(img("leaf.webp"), "-size", "24x24", "xc:#2080c0", "-define", "webp:lossless=true")
    picture(img("leaf.avif"), "-size", "24x24", "xc:#2080c0", "-quality", "100")
    picture(img("small.gif"), "-size", "64x64", "xc:#ff00ff")
    picture(img("huge.png"), "-size", "64x64", "xc:#00ffff")
    picture(img("bg.png"), "-size", "20x20", "pattern:checkerboard")
    picture(img("tile.png"), "-size", "16x16", "xc:#f0c000")
    picture(img("stripe.gif"), "-size", "8x8", "xc:#8040ff")
    picture(img("ok.png"), "-size", "30x30", "xc:#404040")
    picture(img("far.png"), "-size", "30x30", "xc:#808080")
    picture(img("secret.png"), "-size", "30x30", "xc:#000000")
    picture(img("big.png"), "-size", "1400x1400", "xc:", "+noise", "Random")  # more than 5 MB
    for n in range(4):
        picture(img("heavy%d.jpg" % n), "-size", "400x400", "xc:", "+noise", "Random", "-quality", "70")
    for n in range(20):
        picture(img("twenty%d.png" % n), "-size", "130x128", "xc:", "+noise", "Random", "-depth", "8")
    with open(img("drawing.svg"), "w") as f:
        f.write("<svg xmlns='http://www.w3.org/2000/svg' width='30' height='30'><rect width='30' height='30'/></svg>")
    with open(os.path.join(site, "css", "site.css"), "w") as f:
        f.write('@import "parts.css";\n.tiled { background: url(../img/tile.png); width: 200px; height: 40px }\n')
    with open(os.path.join(site, "css", "parts.css"), "w") as f:
        f.write("h1 { background: url(../img/stripe.gif); color: #202020 }\n")
    pretty = PRETTY.format(port=port)
    carried = subprocess.run(["base64", "-w0", img("green.gif")], stdout=subprocess.PIPE, text=True).stdout
    pages = {
        "pretty.html": pretty,
        "hostile.html": pretty.replace("</body></html>\n", HOSTILE_EXTRA.format(site=site.replace("/", "\\")
                                                                                   .replace("\\", "/"),
                                                                              carried=carried)),
        "heavy.html": "<html><body>%s</body></html>\n" % "".join(
            '<img src="../img/heavy%d.jpg" alt="heavy %d">' % (n, n) for n in range(4)),
        "never.html": '<html><body><img src="/never.png" alt="never"></body></html>\n',
        "twenty.html": "<html><body>%s</body></html>\n" % "".join(
            '<img src="../img/twenty%d.png" alt="%d">' % (n, n) for n in range(20)),
    }
    for name, text in pages.items():
        with open(os.path.join(site, "news", name), "w", encoding="utf-8") as f:
            f.write(text)


def handler_for(state_dir, timed):
    site = os.path.join(state_dir, "site")
    log_lock = threading.Lock()

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=site, **kwargs)

        def log_message(self, *args):
            pass

        def end_headers(self):
            self.send_header("Set-Cookie", "tracker=%d; Path=/" % random.randrange(1 << 30))
            super().end_headers()

        def do_GET(self):
            line = self.path
            line += " cookie" if self.headers.get("Cookie") else ""
            line += " authorization" if self.headers.get("Authorization") else ""
            if self.headers.get("Host") != "127.0.0.1:%d" % self.server.server_port:
                line += " host " + str(self.headers.get("Host"))
            if not timed:
                self.log_request_line(line)
            self.answer()
            if timed:
                self.log_request_line("%s %.4f" % (line, time.time()))

        def log_request_line(self, line):
            with log_lock, open(os.path.join(state_dir, "requests"), "a") as log:
                log.write(line + "\n")

        def answer(self):
            if self.path.startswith("/hop/"):
                _, _, hops, name = self.path.split("/", 3)
                self.send_response(302)
                self.send_header("Location", "/hop/%d/%s" % (int(hops) - 1, name) if int(hops) > 1 else "/img/" + name)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif self.path == "/lying":
                with open(os.path.join(site, "img", "ok.png"), "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
            elif self.path == "/never.png":
                time.sleep(120)
            elif self.path == "/private.png":
                self.send_response(401)
                self.send_header("WWW-Authenticate", "Negotiate")
                self.send_header("WWW-Authenticate", "NTLM")
                self.send_header("Content-Length", "0")
                self.end_headers()
            else:
                super().do_GET()

    return Handler


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64  # twenty connections at once are not turned away


def serve(state_dir, timed, ca_dir):
    from smtp_client import free_port
    port = free_port()
    make_site(os.path.join(state_dir, "site"), port)
    servers = {"port": Server(("127.0.0.1", port), handler_for(state_dir, timed))}
    if ca_dir:
        import certificates
        issued = certificates.Authority(ca_dir).issue("page-server")
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(issued.chain, issued.key)
        secure = Server(("127.0.0.1", free_port()), handler_for(state_dir, timed))
        # Each connection's handshake on its own thread, as the rest of its answer.
        secure.socket = context.wrap_socket(secure.socket, server_side=True, do_handshake_on_connect=False)
        servers["tls-port"] = secure
    for server in servers.values():
        threading.Thread(target=server.serve_forever, daemon=True).start()
    stopped = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopped.set())
    for name, server in reversed(servers.items()):  # "port" last: it tells the starter all are up
        with open(os.path.join(state_dir, name + ".part"), "w") as f:
            f.write(str(server.server_port))
        os.replace(os.path.join(state_dir, name + ".part"), os.path.join(state_dir, name))
    stopped.wait()


def start(state_dir, timed, ca_dir):
    os.makedirs(state_dir, exist_ok=True)
    for name in ("port", "tls-port", "pid", "requests"):
        if os.path.exists(os.path.join(state_dir, name)):
            os.remove(os.path.join(state_dir, name))
    if not background.start([sys.executable, os.path.abspath(__file__), "serve", "--state-dir", state_dir] +
                            (["--timed"] if timed else []) + (["--tls", ca_dir] if ca_dir else []),
                            state_dir, "server.log", "port", seconds=60):
        return 1
    print("page server on 127.0.0.1:%s" % open(os.path.join(state_dir, "port")).read())
    return 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--timed", action="store_true")
    parser.add_argument("--tls", metavar="CA_DIR")
    args = parser.parse_args()
    state = os.path.abspath(args.state_dir)
    if args.command == "serve":
        serve(state, args.timed, args.tls and os.path.abspath(args.tls))
    elif args.command == "start":
        sys.exit(start(state, args.timed, args.tls and os.path.abspath(args.tls)))
    else:
        sys.exit(background.stop(state, "port"))
