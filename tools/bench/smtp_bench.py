#!/usr/bin/python3
"""Delivery speed of the SMTP mail component next to the reference tools, to
the same sink (Postfix's smtp-sink on loopback) in the same run. A program
that prints figures, not a test.

    smtp_bench.py --client PATH --postfix DIR [--wine-client PATH]
                  [--component-bench PATH] [--runs N]

Prints, for each measure, our figure, the reference's and the ratio (higher
is better for us): a 10 MB HTML page (ours natively and under Wine, its text
made ahead as the window makes it while the note is written, and natively
also made at Send, as for a note that leaves markup open; curl with the same
message already formatted, smtp-source with a 10 MB message), 200
small messages (one process per message, and ours in one process next to
smtp-source -m 200), and the page at 1, 10 and 100 MB with the client's peak
memory. With --component-bench it then runs that program under Wine against
the same sink and prints its figures, with the machine's cores left idle and
with one kept busy, and the component's own peak memory with a 10 and a
100 MB page."""

import argparse
import os
import re
import socket
import statistics
import subprocess
import tempfile
import time

MB = 1024 * 1024
SMALL_MESSAGES = 200


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def html_page(size):
    row = "<tr><td>Ardwyn</td><td>a row of the page that is mailed</td></tr>\r\n"
    head = "<html><body><table>\r\n"
    return head + row * ((size - len(head)) // len(row) + 1)


def as_received(client, case):
    """The message the client sends for a case file, as a server receives it."""
    from aiosmtpd.controller import Controller

    class Keep:
        async def handle_DATA(self, server, session, envelope):
            self.message = bytes(envelope.original_content)
            return "250 OK"
    keep, port = Keep(), free_port()
    controller = Controller(keep, hostname="127.0.0.1", port=port, data_size_limit=256 * 1024 * 1024)
    controller.start()
    try:
        with open(case, "rb") as f:
            fields = f.read()
        server = b"127.0.0.1:%d" % port
        redirected = case + ".captured"
        with open(redirected, "wb") as f:  # the same case, to the capturing server (the last server given)
            f.write(fields + b"server %d\n%s\n" % (len(server), server))
        subprocess.run([client, redirected], check=True, capture_output=True)
    finally:
        controller.stop()
    return keep.message


def write_case(path, fields):
    with open(path, "wb") as case:
        for key, value in fields:
            data = value.encode("utf-8")
            case.write(b"%s %d\n" % (key.encode(), len(data)) + data + b"\n")


class Sink:
    """Postfix's smtp-sink, unpacked from its Debian package, on a free loopback port."""

    def __init__(self, postfix):
        self.port = free_port()
        self.env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(postfix, "usr/lib/postfix"))
        self.bin = os.path.join(postfix, "usr/sbin")
        drop = ["-u", "nobody"] if os.geteuid() == 0 else []  # it runs unprivileged
        self.process = subprocess.Popen([os.path.join(self.bin, "smtp-sink")] + drop +
                                        ["127.0.0.1:%d" % self.port, "100"], env=self.env)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("smtp-sink did not start")

    def source(self, *args):
        subprocess.run([os.path.join(self.bin, "smtp-source")] + list(args) + ["127.0.0.1:%d" % self.port],
                       env=self.env, check=True, stdout=subprocess.DEVNULL)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def timed(command, env=None):
    """Runs a command; returns (wall seconds, what it printed)."""
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, check=True)
    return time.perf_counter() - start, done.stdout.decode("utf-8", "replace")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--wine-client")
    parser.add_argument("--postfix", required=True)
    parser.add_argument("--component-bench")
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    sink = Sink(options.postfix)
    work = tempfile.mkdtemp(prefix="kt-bench-")
    rows = []

    def row(what, ours, reference, unit, higher_is_better=True):
        ratio = ours / reference if higher_is_better else reference / ours
        rows.append((what, "%.1f %s" % (ours, unit), "%.1f %s" % (reference, unit), "%.2f" % ratio))

    def median(action):
        return statistics.median(action() for _ in range(options.runs))

    base = [("server", "127.0.0.1:%d" % sink.port), ("from", "me@example.com"), ("to", "you@example.com\tYou"),
            ("subject", "Benchmark")]
    curl = ["curl", "-s", "smtp://127.0.0.1:%d" % sink.port, "--mail-from", "me@example.com",
            "--mail-rcpt", "you@example.com", "--upload-file"]

    def ours(case, wine=False):
        """(wall seconds, seconds of the delivery itself as the client measured it)."""
        command = ["wine", options.wine_client, "Z:" + case.replace("/", "\\")] if wine else [options.client, case]
        wall, out = timed(command)
        return wall, float(re.match(r"SENT in ([0-9.e-]+) s", out).group(1))

    try:
        # The 10 MB page.
        page = html_page(10 * MB)
        page_case = os.path.join(work, "page.case")
        write_case(page_case, base + [("html", "1"), ("body", page)])
        # curl sends the bytes ours sends (the page and its text part), as a server received them.
        eml = os.path.join(work, "page.eml")
        with open(eml, "wb") as f:
            f.write(as_received(options.client, page_case))
        curl_page = median(lambda: timed(curl + [eml])[0])
        source_page = median(lambda: time_of(lambda: sink.source("-m", "1", "-l", str(10 * MB))))
        native = [ours(page_case) for _ in range(options.runs)]
        mbs = lambda seconds: 10 / seconds  # noqa: E731
        row("10 MB page, ours native (whole process) vs curl", mbs(statistics.median(w for w, _ in native)),
            mbs(curl_page), "MB/s")
        row("10 MB page, ours native (delivery) vs curl", mbs(statistics.median(d for _, d in native)),
            mbs(curl_page), "MB/s")
        at_send = os.path.join(work, "page-text-at-send.case")
        write_case(at_send, base + [("html", "1"), ("text_at_send", "1"), ("body", page)])
        row("10 MB page, ours native (delivery, its text made at Send) vs curl",
            mbs(statistics.median(ours(at_send)[1] for _ in range(options.runs))), mbs(curl_page), "MB/s")
        row("10 MB page, ours native (delivery) vs smtp-source", mbs(statistics.median(d for _, d in native)),
            mbs(source_page), "MB/s")
        if options.wine_client:
            ours(page_case, wine=True)  # the first Wine start is slower
            under_wine = [ours(page_case, wine=True) for _ in range(options.runs)]
            row("10 MB page, ours under Wine (delivery) vs curl", mbs(statistics.median(d for _, d in under_wine)),
                mbs(curl_page), "MB/s")
            row("10 MB page, ours under Wine (whole process) vs curl",
                mbs(statistics.median(w for w, _ in under_wine)), mbs(curl_page), "MB/s")

        # 200 small messages.
        small = "A short note about a page.\r\nBest wishes\r\n"
        small_case = os.path.join(work, "small.case")
        write_case(small_case, base + [("body", small)])
        small_eml = os.path.join(work, "small.eml")
        with open(small_eml, "wb") as f:
            f.write(("From: me@example.com\r\nTo: you@example.com\r\nSubject: Benchmark\r\n\r\n" + small).encode())
        per_process_ours = time_of(lambda: [ours(small_case) for _ in range(SMALL_MESSAGES)])
        per_process_curl = time_of(lambda: [timed(curl + [small_eml]) for _ in range(SMALL_MESSAGES)])
        row("200 small messages, a process each, ours vs curl", SMALL_MESSAGES / per_process_ours,
            SMALL_MESSAGES / per_process_curl, "msg/s")
        batch_case = os.path.join(work, "batch.case")
        write_case(batch_case, base + [("body", small), ("repeat", str(SMALL_MESSAGES))])
        one_process = median(lambda: ours(batch_case)[1])
        source_batch = median(lambda: time_of(lambda: sink.source("-m", str(SMALL_MESSAGES), "-s", "1")))
        row("200 small messages in one process, ours vs smtp-source -m 200", SMALL_MESSAGES / one_process,
            SMALL_MESSAGES / source_batch, "msg/s")
        if options.wine_client:
            row("200 small messages in one process, ours under Wine vs smtp-source",
                SMALL_MESSAGES / median(lambda: ours(batch_case, wine=True)[1]), SMALL_MESSAGES / source_batch, "msg/s")

        print("Delivery to Postfix's smtp-sink on loopback, median of %d runs; ratio = ours / reference" % options.runs)
        width = max(len(r[0]) for r in rows)
        print("%-*s %14s %14s %7s" % (width, "", "ours", "reference", "ratio"))
        for what, us, them, ratio in rows:
            print("%-*s %14s %14s %7s" % (width, what, us, them, ratio))

        # Scaling: the encoding stays linear and streams.
        print("\nThe page at 1, 10 and 100 MB, ours native (delivery time; the client's peak memory, and its own"
              " peak over what it held with the page read, as a host holds it, before the page's text was made):")
        for size in (1, 10, 100):
            case = os.path.join(work, "scale.case")
            write_case(case, base + [("html", "1"), ("body", html_page(size * MB)), ("report_memory", "1")])
            done = subprocess.run(["/usr/bin/time", "-f", "%M", options.client, case], check=True,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            out = done.stdout.decode()
            seconds = float(re.match(r"SENT in ([0-9.e-]+) s", out).group(1))
            held_kb, own_peak_kb = map(int, re.search(r"MEMORY held (\d+) peak (\d+)", out).groups())
            peak_kb = int(done.stderr.split()[-1])
            print("  %3d MB: %7.3f s, %6.1f MB/s, peak memory %6.1f MB = %.1f x the page; held %6.1f MB, "
                  "then %6.1f MB more = %.1f x the page" %
                  (size, seconds, size / seconds, peak_kb / 1024, peak_kb / 1024 / size, held_kb / 1024,
                   (own_peak_kb - held_kb) / 1024, (own_peak_kb - held_kb) / 1024 / size))
        if options.component_bench:
            # Every window or registry call under Wine is a round trip to its
            # server process; on a virtual machine whose idle cores wake slowly
            # those dominate, so the figures come twice: with the cores left
            # idle, and with one kept busy by a spinning process.
            for condition, spin in (("the cores left idle", False), ("one core kept busy by a spinning process", True)):
                print("\nThe component under Wine, as a host and its user meet it (component_bench), %s:" % condition)
                spinner = subprocess.Popen(["/bin/sh", "-c", "while :; do :; done"]) if spin else None
                try:
                    _, out = timed(["wine", options.component_bench, "--server", "127.0.0.1:%d" % sink.port,
                                    "--entries", "5000"])
                finally:
                    if spinner:
                        spinner.kill()
                        spinner.wait()
                print("".join("  " + line + "\n" for line in out.replace("\r", "").splitlines()), end="")
            print("\nThe component's own memory under Wine (component_bench --memory), the page's text and all:")
            for size in (10, 100):
                _, out = timed(["wine", options.component_bench, "--server", "127.0.0.1:%d" % sink.port,
                                "--memory", str(size)])
                print("".join("  " + line + "\n" for line in out.strip().splitlines()), end="")
    finally:
        sink.stop()
        subprocess.run(["rm", "-rf", work])


def time_of(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


if __name__ == "__main__":
    main()
