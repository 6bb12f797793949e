#!/usr/bin/python3
"""A real OAuth 2.0 authorization server on loopback for the tests and the
demo: oidc-provider from npm (server.mjs), over HTTPS with a certificate for
"localhost" from a test authority.

    oauth_server.py start --state-dir DIR --ca CA_DIR [--access-seconds N]
    oauth_server.py stop  --state-dir DIR
    oauth_server.py mode  --state-dir DIR slow|garbage|unavailable|scope-refused|normal    how the token endpoint answers
    oauth_server.py revoke --state-dir DIR RefreshToken|AccessToken

The npm packages (package-lock.json) are installed once into DIR/../oauth-server-modules.
DIR/port holds the port; DIR/log a line per token request ("refresh_token 200").
"""

import argparse
import filecmp
import os
import shutil
import ssl
import subprocess
import sys
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", name) for name in ("smtp_catcher", "smtp_send")]
import background  # noqa: E402


def modules_folder(state_dir):
    """The server and its npm packages, beside the state folder; installed again when the lock changes."""
    folder = os.path.join(os.path.dirname(state_dir), "oauth-server-modules")
    os.makedirs(folder, exist_ok=True)
    installed_lock = os.path.join(folder, "package-lock.json")
    fresh = not os.path.isdir(os.path.join(folder, "node_modules")) or not os.path.exists(installed_lock) or \
        not filecmp.cmp(installed_lock, os.path.join(HERE, "package-lock.json"), shallow=False)
    for name in ("package.json", "package-lock.json", "server.mjs"):
        shutil.copy(os.path.join(HERE, name), folder)
    if fresh:
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL)
    return folder


def start(state_dir, ca_dir, access_seconds):
    from certificates import Authority
    from smtp_client import free_port
    os.makedirs(state_dir, exist_ok=True)
    for name in ("port", "pid", "ready", "log", "mode"):
        if os.path.exists(os.path.join(state_dir, name)):
            os.remove(os.path.join(state_dir, name))
    folder = modules_folder(state_dir)
    issued = Authority(os.path.abspath(ca_dir)).issue("oauth-server")
    port = free_port()
    if not background.start(["node", os.path.join(folder, "server.mjs"), str(port), issued.chain, issued.key,
                             state_dir, str(access_seconds)], state_dir, "server.log", "ready", seconds=30):
        return 1
    with open(os.path.join(state_dir, "port"), "w") as f:
        f.write(str(port))
    print("OAuth server on https://localhost:%d" % port)
    return 0


def stop(state_dir):
    return background.stop(state_dir)


def revoke(state_dir, ca_dir, kind):
    port = open(os.path.join(state_dir, "port")).read().strip()
    request = urllib.request.Request("https://localhost:%s/test/revoke?kind=%s" % (port, kind), data=b"")
    urllib.request.urlopen(request, context=ssl.create_default_context(cafile=os.path.join(ca_dir, "ca.pem")))
    return 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop", "mode", "revoke"])
    parser.add_argument("value", nargs="?")
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--ca")
    parser.add_argument("--access-seconds", type=int, default=60)
    args = parser.parse_args()
    state = os.path.abspath(args.state_dir)
    if args.command == "start":
        sys.exit(start(state, args.ca, args.access_seconds))
    elif args.command == "stop":
        sys.exit(stop(state))
    elif args.command == "mode":
        with open(os.path.join(state, "mode"), "w") as f:
            f.write(args.value)
    else:
        sys.exit(revoke(state, args.ca, args.value))
