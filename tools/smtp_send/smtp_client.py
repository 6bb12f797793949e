"""Runs the test client of the SMTP mail component (smtp_send) on one message.

Shared by the oracle and the fault tests. The client is a native program or a
Windows one run under Wine (--wine)."""

import os
import subprocess
import tempfile

WINE_COULD_NOT_START = "Application could not be started"


def windows_path(path):
    """A Unix path as Wine's programs name it, on drive Z:."""
    return "Z:" + path.replace("/", "\\")


def run_case(program, fields, wine=False, timeout=120):
    """Runs a command-line client of the tests (smtp_send, imap_copy) on a case
    file of `fields`, (key, text or bytes) pairs; (what it printed, with LF line
    ends, and the finished process)."""
    with tempfile.NamedTemporaryFile(delete=False, suffix=".case") as case:
        for key, value in fields:
            data = value.encode("utf-8") if isinstance(value, str) else value
            case.write(b"%s %d\n" % (key.encode(), len(data)) + data + b"\n")
    try:
        command = ["wine", program, windows_path(case.name)] if wine else [program, case.name]
        for _ in range(3):
            done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
            out = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
            # Now and then Wine's loader fails to start a program and hands it
            # to its start.exe, which fails too. The client never ran, so
            # nothing was sent, and starting it again is safe.
            if not (wine and out.startswith(WINE_COULD_NOT_START)):
                break
    finally:
        os.unlink(case.name)
    return out, done


class MailClient:
    def __init__(self, program, wine=False):
        self.program = program
        self.wine = wine

    def send(self, fields, timeout=120):
        """fields: list of (key, text) pairs. Returns (sent, number, description)."""
        out, done = run_case(self.program, fields, self.wine, timeout)
        self.output = out  # with what follows the result, such as the Sent copy's line
        if out.startswith("SENT"):
            return True, 0, ""
        if out.startswith("FAILED "):
            first, _, rest = out.partition("\n")
            return False, int(first.split()[1]), rest.rstrip("\n")
        raise AssertionError("client gave no result: rc=%d out=%r err=%r" % (done.returncode, out, done.stderr[-500:]))


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def client_from_args(argv):
    """--client PATH [--wine]; returns (MailClient, remaining argv)."""
    args = list(argv)
    wine = "--wine" in args
    if wine:
        args.remove("--wine")
    index = args.index("--client")
    program = args[index + 1]
    del args[index:index + 2]
    return MailClient(program, wine), args
