#!/usr/bin/python3
"""Delivery throughput of the SMTP mail component next to curl, against the
same local sink (aiosmtpd, discarding) in the same run.

    smtp_bench.py --client PATH [--wine] [--runs N]

Prints MB/s for a 10 MB HTML page, messages/s for 200 small messages (one
process per message for both), and the ratio ours/curl. A program that
prints figures, not a test."""

import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "smtp_send"))
from aiosmtpd.controller import Controller  # noqa: E402
from smtp_client import client_from_args, free_port  # noqa: E402

PAGE_BYTES = 10 * 1024 * 1024
SMALL_MESSAGES = 200


class Discard:
    def __init__(self):
        self.received = 0

    async def handle_DATA(self, server, session, envelope):
        self.received += 1
        return "250 OK"


def html_page():
    row = "<tr><td>Ardwyn</td><td>a row of the page that is mailed</td></tr>\r\n"
    page = "<html><body><table>\r\n"
    return page + row * ((PAGE_BYTES - len(page)) // len(row) + 1)


def fields(port, body, html):
    return [("server", "127.0.0.1:%d" % port), ("from", "me@example.com"), ("to", "you@example.com\tYou"),
            ("subject", "Benchmark"), ("body", body), ("html", "1" if html else "0")]


def eml(body, html):
    """What curl sends: the same message, already formatted (plain 8-bit body)."""
    kind = "html" if html else "plain"
    head = ("From: me@example.com\r\nTo: You <you@example.com>\r\nSubject: Benchmark\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/%s; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" % kind)
    return (head + body).encode("utf-8")


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def main():
    client, rest = client_from_args(sys.argv[1:])
    runs = int(rest[rest.index("--runs") + 1]) if "--runs" in rest else 3
    sink = Discard()
    port = free_port()
    controller = Controller(sink, hostname="127.0.0.1", port=port, data_size_limit=64 * 1024 * 1024)
    controller.start()
    try:
        page = html_page()
        small = "A short note about a page.\r\nBest wishes\r\n"
        with tempfile.TemporaryDirectory() as work:
            page_file = os.path.join(work, "page.eml")
            small_file = os.path.join(work, "small.eml")
            open(page_file, "wb").write(eml(page, True))
            open(small_file, "wb").write(eml(small, False))
            curl = ["curl", "-s", "smtp://127.0.0.1:%d" % port, "--mail-from", "me@example.com",
                    "--mail-rcpt", "you@example.com", "--upload-file"]

            def ours(body, html):
                sent, number, description = client.send(fields(port, body, html))
                assert sent, description

            def theirs(path):
                subprocess.run(curl + [path], check=True)

            results = {}
            for name, page_run, small_run in (
                    ("ours", lambda: ours(page, True), lambda: ours(small, False)),
                    ("curl", lambda: theirs(page_file), lambda: theirs(small_file))):
                page_times = [timed(page_run) for _ in range(runs)]
                small_times = [timed(lambda: [small_run() for _ in range(SMALL_MESSAGES)]) for _ in range(runs)]
                results[name] = (PAGE_BYTES / 1e6 / statistics.median(page_times),
                                 SMALL_MESSAGES / statistics.median(small_times))
    finally:
        controller.stop()

    print("delivery to a local aiosmtpd sink, median of %d runs (client: %s%s)"
          % (runs, client.program, " under Wine" if client.wine else ""))
    print("%-6s %14s %16s" % ("", "10 MB page MB/s", "small msgs/s"))
    for name in ("ours", "curl"):
        print("%-6s %14.1f %16.1f" % (name, results[name][0], results[name][1]))
    print("%-6s %14.2f %16.2f" % ("ours/curl", results["ours"][0] / results["curl"][0],
                                  results["ours"][1] / results["curl"][1]))
    print("messages received by the sink: %d" % sink.received)


if __name__ == "__main__":
    main()
