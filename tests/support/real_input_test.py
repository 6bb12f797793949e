#!/usr/bin/python3
"""The whole road of recipient picking with real input on the X server
(xdotool): click To, type a name and an address, Add, select, OK, and the To
field holds the record; then right-click, "Delete this EMail Address", Yes,
and the registry is renumbered.

    real_input_test.py --host PATH_TO_real_input_host.exe

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
    return subprocess.run(["wine"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True)


def centre(r):
    return (r[0] + r[2]) // 2, (r[1] + r[3]) // 2


def control(screen, caption, control_id):
    """A control of a window the host wrote, or {}."""
    return screen.get(caption, {}).get("children", {}).get(str(control_id), {})


def rows(screen):
    return control(screen, PICKER, LIST1).get("rows", [])


class RealInputTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.saved = os.path.join(self.work, "saved.reg")
        self.had_book = wine("reg", "export", KEY, "Z:" + self.saved.replace("/", "\\")).returncode == 0
        wine("reg", "delete", KEY, "/f")
        self.state = os.path.join(self.work, "state.txt")
        self.host = subprocess.Popen(["wine", HOST, "Z:" + self.state.replace("/", "\\")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tearDown(self):
        open(self.state + ".quit", "w").close()
        try:
            self.host.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.host.kill()
        wine("reg", "delete", KEY, "/f")
        if self.had_book:
            wine("reg", "import", "Z:" + self.saved.replace("/", "\\"))

    def screen(self):
        """What the host last wrote: its visible windows by caption."""
        try:
            with open(self.state, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def wait_for(self, what, condition, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = condition(self.screen())
            if found:
                return found
            time.sleep(0.1)
        self.fail("timed out waiting for " + what)

    def click(self, point, button=1):
        xdotool("mousemove", point[0], point[1])
        time.sleep(0.15)
        xdotool("click", button)
        time.sleep(0.25)

    def click_control(self, caption, control_id):
        self.click(centre(self.wait_for(caption, lambda s: control(s, caption, control_id))["rect"]))

    def type_into(self, caption, control_id, text):
        self.click_control(caption, control_id)
        xdotool("type", "--delay", "30", text)
        self.wait_for("typed text", lambda s: control(s, caption, control_id).get("text") == text)

    def row(self, name):
        return self.wait_for("row " + name, lambda s: next((r for r in rows(s) if r["text"] == name), None))

    def stored(self):
        out = wine("reg", "query", KEY).stdout
        return sorted(" ".join(line.split()) for line in out.splitlines() if "REG_SZ" in line)

    def test_pick_a_new_entry_then_delete_one_with_real_input(self):
        self.click_control(COMPOSE, KT_CB_TO)
        for name, address in (("Ann Lee", "ann@example.com"), ("Bob Ray", "bob@example.com")):
            self.type_into(PICKER, TB_NAME, name)
            self.type_into(PICKER, TB_ADDRESS, address)
            self.click_control(PICKER, KT_CB_ADDNAME)
            self.row(name)
        self.assertEqual(self.stored(), ["0 REG_SZ ann@example.com,Ann Lee", "1 REG_SZ bob@example.com,Bob Ray"])

        self.click(centre(self.row("Ann Lee")["rect"]))
        self.click_control(PICKER, KT_CB_OK)
        self.wait_for("the picker to close", lambda s: COMPOSE in s and PICKER not in s)
        self.wait_for("the To field", lambda s: control(s, COMPOSE, TB_TO).get("text") == "ann@example.com,Ann Lee")

        self.click_control(COMPOSE, KT_CB_TO)
        ann = centre(self.row("Ann Lee")["rect"])
        self.click(ann)
        self.click(ann, button=3)
        menu = self.wait_for("the pop-up menu", lambda s: s.get("#32768"))
        self.click((menu["rect"][0] + 30, menu["rect"][1] + 10))
        box = self.wait_for("the confirmation", lambda s: s.get("Delete from E-Mail Address list"))
        self.assertIn("Delete Ann Lee?", [c["text"] for c in box["children"].values()])
        self.click(centre(box["children"]["6"]["rect"]))  # Yes
        self.wait_for("the row to go", lambda s: [r["text"] for r in rows(s)] == ["Bob Ray"])
        self.assertEqual(self.stored(), ["0 REG_SZ bob@example.com,Bob Ray"])
        self.click_control(PICKER, KT_CB_CANCEL)
        self.wait_for("the picker to close", lambda s: COMPOSE in s and PICKER not in s)


if __name__ == "__main__":
    args = sys.argv[1:]
    HOST = args[args.index("--host") + 1]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
