#!/usr/bin/python3
"""A 10 MB page over STARTTLS: the Windows build under Wine next to
curl --ssl-reqd, to the same local TLS sink (aiosmtpd) in the same run. The
sink's certificate comes from a bench authority that only the Wine prefix
(through trust_ca) and curl (through --cacert) trust.

    smtp_tls_bench.py --client smtp_send.exe --wine --trust-ca trust_ca.exe --ca-dir DIR [--runs N]

Prints MB/s for both and the ratio ours/curl. A program that prints figures, not a test."""

import os
import ssl
import statistics
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "smtp_send"), os.path.join(here, "..", "smtp_catcher")]
from aiosmtpd.controller import Controller  # noqa: E402
from certificates import Authority  # noqa: E402
from smtp_bench import PAGE_BYTES, Discard, eml, fields, html_page, timed  # noqa: E402
from smtp_client import client_from_args, free_port  # noqa: E402


def option(args, name):
    return args[args.index(name) + 1]


def main():
    client, rest = client_from_args(sys.argv[1:])
    runs = int(option(rest, "--runs")) if "--runs" in rest else 3
    authority = Authority(option(rest, "--ca-dir"), "KT_EMailer Bench CA")
    subprocess.run(["wine", option(rest, "--trust-ca"), "Z:" + authority.certificate.replace("/", "\\")], check=True)
    issued = authority.issue("sink")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(issued.chain, issued.key)
    sink = Discard()
    port = free_port()
    controller = Controller(sink, hostname="127.0.0.1", port=port, data_size_limit=64 * 1024 * 1024,
                            tls_context=context, require_starttls=True)
    controller.start()
    try:
        page = html_page()
        ours_fields = [(key, "localhost:%d" % port if key == "server" else value)
                       for key, value in fields(port, page, True)]
        with tempfile.TemporaryDirectory() as work:
            page_file = os.path.join(work, "page.eml")
            with open(page_file, "wb") as f:
                f.write(eml(page, True))
            curl = ["curl", "-s", "--ssl-reqd", "--cacert", authority.certificate, "smtp://localhost:%d" % port,
                    "--mail-from", "me@example.com", "--mail-rcpt", "you@example.com", "--upload-file", page_file]

            def ours():
                sent, _, description = client.send(ours_fields)
                assert sent, description

            results = {name: PAGE_BYTES / 1e6 / statistics.median([timed(run) for _ in range(runs)])
                       for name, run in (("ours", ours), ("curl", lambda: subprocess.run(curl, check=True)))}
    finally:
        controller.stop()

    print("10 MB page over STARTTLS to a local aiosmtpd sink, median of %d runs (client: %s under Wine)"
          % (runs, client.program))
    for name in ("ours", "curl"):
        print("%-9s %8.1f MB/s" % (name, results[name]))
    print("%-9s %8.2f" % ("ours/curl", results["ours"] / results["curl"]))
    print("messages received by the sink: %d" % sink.received)


if __name__ == "__main__":
    main()
