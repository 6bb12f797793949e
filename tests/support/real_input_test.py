#!/usr/bin/python3
"""Recipient picking with real input on the X server (xdotool): click To, type
a name and an address, Add, select, OK, and the To field holds the record;
then right-click, "Delete this EMail Address", Yes, and the registry is
renumbered.

    real_input_test.py --host PATH_TO_browser_host.exe

Runs in the Wine prefix and on the display of its environment."""

import json
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
LIST1, TB_NAME, TB_ADDRESS, KT_CB_ADDNAME, KT_CB_OK, KT_CB_CANCEL = 100, 102, 103, 106, 107, 108


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
        self.state = os.path.join(work, "state.json")
        host = subprocess.Popen(["wine", HOST, "Z:" + self.state.replace("/", "\\")], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(host.kill)
        self.addCleanup(host.wait, 20)
        self.addCleanup(lambda: open(self.state + ".quit", "w").close())

    def wait_for(self, what, find):
        """What `find` finds on the host's screen (its windows by caption), once it finds something."""
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                with open(self.state, encoding="utf-8") as f:
                    found = find(json.load(f))
            except (OSError, ValueError, KeyError, StopIteration):
                found = None
            if found:
                return found
            time.sleep(0.1)
        self.fail("timed out waiting for " + what)

    def control(self, caption, control_id, condition=lambda c: True, what=None):
        def find(screen):
            found = screen[caption]["children"][str(control_id)]
            return found if condition(found) else None
        return self.wait_for(what or "%s in %s" % (control_id, caption), find)

    def click(self, point, button=1):
        subprocess.run(["xdotool", "mousemove", str(point[0]), str(point[1])], check=True)
        time.sleep(0.15)
        subprocess.run(["xdotool", "click", str(button)], check=True)
        time.sleep(0.25)

    def click_control(self, caption, control_id):
        self.click(centre(self.control(caption, control_id)["rect"]))

    def row(self, name):
        return centre(self.wait_for("row " + name, lambda s: next(
            r for r in s[PICKER]["children"][str(LIST1)]["rows"] if r["text"] == name))["rect"])

    def stored(self):
        out = wine("reg", "query", KEY).stdout
        return sorted(" ".join(line.split()) for line in out.splitlines() if "REG_SZ" in line)

    def test_pick_a_new_entry_then_delete_one_with_real_input(self):
        self.click_control(COMPOSE, KT_CB_TO)
        for name, address in (("Ann Lee", "ann@example.com"), ("Bob Ray", "bob@example.com")):
            for control_id, text in ((TB_NAME, name), (TB_ADDRESS, address)):
                self.click_control(PICKER, control_id)
                subprocess.run(["xdotool", "type", "--delay", "30", text], check=True)
                self.control(PICKER, control_id, lambda c: c["text"] == text, "typed text")
            self.click_control(PICKER, KT_CB_ADDNAME)
            self.row(name)
        self.assertEqual(self.stored(), ["0 REG_SZ ann@example.com,Ann Lee", "1 REG_SZ bob@example.com,Bob Ray"])

        self.click(self.row("Ann Lee"))
        self.click_control(PICKER, KT_CB_OK)
        self.control(COMPOSE, TB_TO, lambda c: c["text"] == "ann@example.com,Ann Lee", "the picked record")

        self.click_control(COMPOSE, KT_CB_TO)
        self.click(self.row("Ann Lee"))
        self.click(self.row("Ann Lee"), button=3)
        menu = self.wait_for("the pop-up menu", lambda s: s["#32768"])
        self.click((menu["rect"][0] + 30, menu["rect"][1] + 10))
        yes = self.control("Delete from E-Mail Address list", 6, what="the confirmation's Yes")
        self.click(centre(yes["rect"]))
        self.control(PICKER, LIST1, lambda c: [r["text"] for r in c["rows"]] == ["Bob Ray"], "the row to go")
        self.assertEqual(self.stored(), ["0 REG_SZ bob@example.com,Bob Ray"])
        self.click_control(PICKER, KT_CB_CANCEL)


if __name__ == "__main__":
    HOST = sys.argv[sys.argv.index("--host") + 1]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
