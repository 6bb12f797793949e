#!/usr/bin/python3
"""Recipient picking with real input on the X server (xdotool): click To, type
a name and an address, Add, select, OK, and the To field holds the record;
then right-click, "Delete this EMail Address", Yes, and the registry is
renumbered.

    real_input_test.py --host PATH_TO_demo_host.exe

Runs in the Wine prefix and on the display of its environment."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

HOST = None
KEY = r"HKCU\Software\Veltrano\Ardwyn\E_MailList"
COMPOSE, PICKER = "Ardwyn E-Mail Message", "Ardwyn Address Picker"
# Control identifiers: 100 + the control's row in its form's design table.
TB_TO, KT_CB_TO = 100, 107
TB_NAME, TB_ADDRESS, KT_CB_ADDNAME, KT_CB_OK, KT_CB_CANCEL = 102, 103, 106, 107, 108


def wine(*args):
    return subprocess.run(["wine", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def centre(r):
    return (r[0] + r[2]) // 2, (r[1] + r[3]) // 2


class RealInputTest(unittest.TestCase):
    def setUp(self):
        work = self.enterContext(tempfile.TemporaryDirectory())
        saved = "Z:" + os.path.join(work, "saved.reg").replace("/", "\\")
        if wine("reg", "export", KEY, saved).returncode == 0:
            self.addCleanup(wine, "reg", "import", saved)
        wine("reg", "delete", KEY, "/f")
        self.addCleanup(wine, "reg", "delete", KEY, "/f")
        self.state = os.path.join(work, "screen.txt")
        host = subprocess.Popen(["wine", HOST, "--open", "--to", "", "--screen", "Z:" + self.state.replace("/", "\\")],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(host.kill)
        self.addCleanup(host.wait, 20)
        self.addCleanup(lambda: open(self.state + ".quit", "w").close())

    def wait_for(self, what, find):
        """What `find` finds on the host's screen, {(caption, what): (rectangle, text)}, once it finds something."""
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                with open(self.state, encoding="utf-8") as f:
                    lines = [line.split("\t") for line in f.read().splitlines()]
                found = find({(c, w): ([int(n) for n in r.split()], t) for c, w, r, t in lines})
            except (OSError, ValueError, KeyError):
                found = None
            if found:
                return found
            time.sleep(0.1)
        self.fail("timed out waiting for " + what)

    def rect(self, caption, what, text=None):
        """The rectangle of a window (what ""), a control (its identifier) or a row ("row <text>")."""
        return self.wait_for("%s in %s" % (what, caption), lambda s: (
            s[caption, str(what)][0] if text is None or s[caption, str(what)][1] == text else None))

    def click(self, point, button=1):
        subprocess.run(["xdotool", "mousemove", str(point[0]), str(point[1])], check=True)
        time.sleep(0.15)
        subprocess.run(["xdotool", "click", str(button)], check=True)
        time.sleep(0.25)

    def click_control(self, caption, control_id):
        self.click(centre(self.rect(caption, control_id)))

    def row(self, name):
        return centre(self.rect(PICKER, "row " + name))

    def stored(self):
        out = wine("reg", "query", KEY).stdout
        return sorted(" ".join(line.split()) for line in out.splitlines() if "REG_SZ" in line)

    def test_pick_a_new_entry_then_delete_one_with_real_input(self):
        self.click_control(COMPOSE, KT_CB_TO)
        for name, address in (("Ann Lee", "ann@example.com"), ("Bob Ray", "bob@example.com")):
            for control_id, text in ((TB_NAME, name), (TB_ADDRESS, address)):
                self.click_control(PICKER, control_id)
                subprocess.run(["xdotool", "type", "--delay", "30", text], check=True)
                self.rect(PICKER, control_id, text)
            self.click_control(PICKER, KT_CB_ADDNAME)
            self.row(name)
        self.assertEqual(self.stored(), ["0 REG_SZ ann@example.com,Ann Lee", "1 REG_SZ bob@example.com,Bob Ray"])

        self.click(self.row("Ann Lee"))
        self.click_control(PICKER, KT_CB_OK)
        self.rect(COMPOSE, TB_TO, "ann@example.com,Ann Lee")

        self.click_control(COMPOSE, KT_CB_TO)
        self.click(self.row("Ann Lee"))
        self.click(self.row("Ann Lee"), button=3)
        menu = self.rect("#32768", "")
        self.click((menu[0] + 30, menu[1] + 10))
        self.click(centre(self.rect("Delete from E-Mail Address list", 6)))  # Yes
        self.wait_for("the row to go", lambda s: [w for c, w in s if c == PICKER and w.startswith("row ")] == ["row Bob Ray"])
        self.assertEqual(self.stored(), ["0 REG_SZ bob@example.com,Bob Ray"])
        self.click_control(PICKER, KT_CB_CANCEL)


if __name__ == "__main__":
    HOST = sys.argv[sys.argv.index("--host") + 1]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
