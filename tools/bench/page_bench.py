#!/usr/bin/python3
"""A page of 20 pictures of 50 KB each from a web server on loopback
(tools/page_server): the component's fetch, from SendEMail to the last
picture served, next to its floor (a bare WinHTTP client fetching the same
files over as many connections at once as the component opens) and to curl
fetching the same 20 files in parallel; then
Send to the window gone with the pictures fetched, next to the same page
without them, and the memory in use through those sends. Prints figures;
judges nothing.

    page_bench.py --component-bench PATH_TO_component_bench.exe --fetch-floor PATH_TO_fetch_floor.exe

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


CONNECTIONS_AT_ONCE = 6  # as the component opens, as browsers do to one server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--component-bench", required=True)
    parser.add_argument("--fetch-floor", required=True)
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="kt-page-bench.")
    server, catcher = os.path.join(work, "web"), os.path.join(work, "catcher")
    subprocess.run([sys.executable, os.path.join(tools, "page_server", "page_server.py"), "start",
                    "--state-dir", server, "--timed"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([sys.executable, os.path.join(tools, "smtp_catcher", "smtp_catcher.py"), "start",
                    "--state-dir", catcher], check=True, stdout=subprocess.DEVNULL)
    try:
        port = int(open(os.path.join(server, "port")).read())
        sink = int(open(os.path.join(catcher, "port")).read())
        pictures = ["http://127.0.0.1:%d/img/twenty%d.png" % (port, n) for n in range(20)]
        floor = []
        for _ in range(5):
            out = subprocess.run(["wine", options.fetch_floor, str(CONNECTIONS_AT_ONCE)] + pictures,
                                 stdout=subprocess.PIPE, text=True, check=True).stdout
            floor.append(float(re.search(r"FETCHED 20 in ([\d.]+) ms", out).group(1)))
        curl = []
        for _ in range(5):
            start = time.monotonic()
            subprocess.run(["curl", "-s", "--no-progress-meter", "--parallel", "--parallel-max", "20"] +
                           [a for p in pictures for a in (p, "-o", "/dev/null")], check=True)
            curl.append((time.monotonic() - start) * 1000)
        log = os.path.join(server, "requests")
        before = len(open(log).read().splitlines())
        out = subprocess.run(["wine", options.component_bench, "--server", "127.0.0.1:%d" % sink,
                              "--page-file", "Z:" + os.path.join(server, "site", "news", "twenty.html").replace("/", "\\"),
                              "--page-url", "http://127.0.0.1:%d/news/twenty.html" % port],
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
        floor, curl = statistics.median(floor), statistics.median(curl)
        print("20 pictures of 50 KB from loopback: SendEMail to the last one fetched %.1f ms; the floor (bare WinHTTP, "
              "%d at once) %.1f ms; curl --parallel %.1f ms (ours/floor %.2f, ours/curl %.2f, floor/curl %.2f; medians "
              "of 5)" % (ours, CONNECTIONS_AT_ONCE, floor, curl, ours / floor, ours / curl, floor / curl))
        print("\n".join(out.splitlines()[-2:]))
    finally:
        subprocess.run([sys.executable, os.path.join(tools, "smtp_catcher", "smtp_catcher.py"), "stop",
                        "--state-dir", catcher])
        subprocess.run([sys.executable, os.path.join(tools, "page_server", "page_server.py"), "stop",
                        "--state-dir", server])


if __name__ == "__main__":
    main()
