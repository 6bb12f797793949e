#!/usr/bin/python3
"""A 10 MB page over STARTTLS: the Windows build under Wine next to the
system's floor (tls_floor, a bare Schannel client under Wine sending the same
bytes one full record per send) and curl --ssl-reqd, to the same local TLS
sink (aiosmtpd) in the same run. The
sink's certificate comes from a bench authority that only the Wine prefix
(through trust_ca) and curl (through --cacert) trust. curl sends the very
bytes ours sent (the page and its text part), as the sink received them.

    smtp_tls_bench.py --client smtp_send.exe --floor tls_floor.exe --trust-ca trust_ca.exe --ca-dir DIR [--runs N]

Prints MB/s for each and ours to the floor and to curl. A program that prints figures, not a test."""

import argparse
import os
import re
import ssl
import statistics
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, "..", "smtp_catcher")]
from aiosmtpd.controller import Controller  # noqa: E402
from certificates import Authority  # noqa: E402
from smtp_bench import MB, free_port, html_page, timed, write_case  # noqa: E402


class Discard:
    """Counts what arrives and keeps only the last message."""

    def __init__(self):
        self.received = 0
        self.last = b""

    async def handle_DATA(self, server, session, envelope):
        self.received += 1
        self.last = bytes(envelope.original_content)
        return "250 OK"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--trust-ca", required=True)
    parser.add_argument("--ca-dir", required=True)
    parser.add_argument("--runs", type=int, default=7)
    options = parser.parse_args()

    authority = Authority(options.ca_dir, "KT_EMailer Bench CA")
    subprocess.run(["wine", options.trust_ca, "Z:" + authority.certificate.replace("/", "\\")], check=True)
    issued = authority.issue("sink")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(issued.chain, issued.key)
    sink = Discard()
    port = free_port()
    controller = Controller(sink, hostname="127.0.0.1", port=port, data_size_limit=64 * MB,
                            tls_context=context, require_starttls=True)
    controller.start()
    try:
        page = html_page(10 * MB)
        with tempfile.TemporaryDirectory() as work:
            case = os.path.join(work, "page.case")
            write_case(case, [("server", "localhost:%d" % port), ("from", "me@example.com"),
                              ("to", "you@example.com\tYou"), ("subject", "Benchmark"), ("html", "1"),
                              ("body", page)])

            def delivery(command):
                _, out = timed(["wine"] + command)
                return float(re.match(r"SENT in ([0-9.e-]+) s", out).group(1))

            def ours():
                return delivery([options.client, "Z:" + case.replace("/", "\\")])

            ours()  # the first Wine start is slower; what it sent is what curl sends
            eml = os.path.join(work, "page.eml")
            with open(eml, "wb") as f:
                f.write(sink.last)
            curl = ["curl", "-s", "--ssl-reqd", "--cacert", authority.certificate, "smtp://localhost:%d" % port,
                    "--mail-from", "me@example.com", "--mail-rcpt", "you@example.com", "--upload-file", eml]
            floor = [options.floor, "localhost", str(port), "Z:" + eml.replace("/", "\\")]
            # Taken in turn, run after run, so that the machine's own ups and downs fall on all three alike.
            runs = {"ours (delivery)": [], "floor (Schannel)": [], "curl": []}
            for _ in range(options.runs):
                runs["ours (delivery)"].append(ours())
                runs["floor (Schannel)"].append(delivery(floor))
                runs["curl"].append(timed(curl)[0])
            results = {name: statistics.median(seconds) for name, seconds in runs.items()}
    finally:
        controller.stop()

    print("10 MB page over STARTTLS to a local aiosmtpd sink, median of %d runs (ours: %s under Wine)"
          % (options.runs, options.client))
    for name, seconds in results.items():
        print("  %-16s %8.1f MB/s" % (name, 10 / seconds))
    print("  %-16s %8.2f" % ("ours/floor", results["floor (Schannel)"] / results["ours (delivery)"]))
    print("  %-16s %8.2f" % ("ours/curl", results["curl"] / results["ours (delivery)"]))
    print("  %-16s %8.2f" % ("floor/curl", results["curl"] / results["floor (Schannel)"]))
    print("  messages received by the sink: %d" % sink.received)


if __name__ == "__main__":
    main()
