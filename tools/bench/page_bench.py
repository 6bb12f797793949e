#!/usr/bin/python3
"""A page of 20 pictures of 50 KB each from a web server on loopback
(tools/page_server), over http and over https (with a bench authority that
only the bench's Wine prefix and curl trust): the component's fetch, from SendEMail to the last
picture served, next to its floor (a bare WinHTTP client fetching the same
files over as many connections at once as the component opens) and to curl
fetching the same 20 files in parallel; then
Send to the window gone with the pictures fetched, next to the same page
without them, and the memory in use through those sends. Prints figures;
judges nothing.

    page_bench.py --component-bench component_bench.exe --fetch-floor fetch_floor.exe --trust-ca trust_ca.exe --ca-dir DIR

Runs in the Wine prefix and on the display of its environment."""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
tools = os.path.join(here, "..")
sys.path[:0] = [os.path.join(tools, "smtp_catcher"), os.path.join(tools, "smtp_send")]
from certificates import Authority  # noqa: E402
from smtp_client import windows_path  # noqa: E402


CONNECTIONS_AT_ONCE = 6  # as the component opens, as browsers do to one server


def medians_of_five(command):
    """The median of five runs of `command`, a function that returns milliseconds."""
    return statistics.median(command() for _ in range(5))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--component-bench", required=True)
    parser.add_argument("--fetch-floor", required=True)
    parser.add_argument("--trust-ca", required=True)
    parser.add_argument("--ca-dir", required=True)
    options = parser.parse_args()
    authority = Authority(options.ca_dir, "KT_EMailer Bench CA")
    subprocess.run(["wine", options.trust_ca, windows_path(authority.certificate)], check=True)
    work = tempfile.mkdtemp(prefix="kt-page-bench.")
    server, catcher = os.path.join(work, "web"), os.path.join(work, "catcher")
    subprocess.run([sys.executable, os.path.join(tools, "page_server", "page_server.py"), "start",
                    "--state-dir", server, "--timed", "--tls", options.ca_dir], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([sys.executable, os.path.join(tools, "smtp_catcher", "smtp_catcher.py"), "start",
                    "--state-dir", catcher], check=True, stdout=subprocess.DEVNULL)
    try:
        sink = int(open(os.path.join(catcher, "port")).read())
        log = os.path.join(server, "requests")
        # Plain http goes to the addresses checked, once a proxy is ruled out; https by name.
        for site, port_file in (("http://127.0.0.1", "port"), ("https://localhost", "tls-port")):
            site += ":%d" % int(open(os.path.join(server, port_file)).read())
            pictures = ["%s/img/twenty%d.png" % (site, n) for n in range(20)]

            def floor_run():
                out = subprocess.run(["wine", options.fetch_floor, str(CONNECTIONS_AT_ONCE)] + pictures,
                                     stdout=subprocess.PIPE, text=True, check=True).stdout
                return float(re.search(r"FETCHED 20 in ([\d.]+) ms", out).group(1))

            def curl_run():
                start = time.monotonic()
                subprocess.run(["curl", "-s", "--no-progress-meter", "--cacert", authority.certificate, "--parallel",
                                "--parallel-max", "20"] + [a for p in pictures for a in (p, "-o", "/dev/null")],
                               check=True)
                return (time.monotonic() - start) * 1000

            floor, curl = medians_of_five(floor_run), medians_of_five(curl_run)
            before = len(open(log).read().splitlines())
            out = subprocess.run(["wine", options.component_bench, "--server", "127.0.0.1:%d" % sink,
                                  "--page-file", windows_path(os.path.join(server, "site", "news", "twenty.html")),
                                  "--page-url", site + "/news/twenty.html"],
                                 stdout=subprocess.PIPE, text=True, check=True).stdout
            handed = [float(t) / 1000 for t in re.findall(r"page handed over at ([\d.]+)", out)]
            with open(log) as f:
                lines = f.read().splitlines()[before:]
            # Each handing over is followed by its 20 requests (the second SendEMail of a run has no address).
            fetches = []
            for run, at in enumerate(handed):
                done = [float(line.split()[-1]) for line in lines[run * 20:(run + 1) * 20]]
                fetches.append((max(done) - at) * 1000)
            ours = statistics.median(fetches)
            print("20 pictures of 50 KB from %s: SendEMail to the last one fetched %.1f ms; the floor (bare WinHTTP, "
                  "%d at once) %.1f ms; curl --parallel %.1f ms (ours/floor %.2f, ours/curl %.2f, floor/curl %.2f; "
                  "medians of 5)" % (site, ours, CONNECTIONS_AT_ONCE, floor, curl, ours / floor, ours / curl,
                                     floor / curl))
            print("\n".join(out.splitlines()[-2:]))
    finally:
        subprocess.run([sys.executable, os.path.join(tools, "smtp_catcher", "smtp_catcher.py"), "stop",
                        "--state-dir", catcher])
        subprocess.run([sys.executable, os.path.join(tools, "page_server", "page_server.py"), "stop",
                        "--state-dir", server])


if __name__ == "__main__":
    main()
