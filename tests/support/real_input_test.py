#!/usr/bin/python3
"""Recipient picking with real input on the X server (xdotool): click To, type
a name and an address, Add, select, OK, and the To field holds the record;
then right-click, "Delete this EMail Address", Yes, and the registry is
renumbered. Suggestions while typing in To, in any script and case, taken
with Enter and Tab, closed with Escape, and of an entry added in the picker
or by another program at once; and the picker's find-as-you-type.

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
SUGGESTIONS = "Ardwyn Address Suggestions"
# Control identifiers: 100 + the control's row in its form's design table.
TB_TO, TB_CC, TB_BCC, KT_CB_TO = 100, 101, 102, 107
TB_NAME, TB_ADDRESS, KT_CB_ADDNAME, KT_CB_OK, KT_CB_CANCEL = 102, 103, 106, 107, 108


def wine(*args):
    return subprocess.run(["wine", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def centre(r):
    return (r[0] + r[2]) // 2, (r[1] + r[3]) // 2


class RealInput(unittest.TestCase):
    """The demo browser with its composition window open, on an address book of its own."""
    BOOK = []  # the address book a test starts with: (name, address)

    def setUp(self):
        work = self.enterContext(tempfile.TemporaryDirectory())
        saved = "Z:" + os.path.join(work, "saved.reg").replace("/", "\\")
        if wine("reg", "export", KEY, saved).returncode == 0:
            self.addCleanup(wine, "reg", "import", saved)
        wine("reg", "delete", KEY, "/f")
        self.addCleanup(wine, "reg", "delete", KEY, "/f")
        if self.BOOK:  # through a file in UTF-16: a command line's text would go through the code page
            book = os.path.join(work, "book.reg")
            with open(book, "w", encoding="utf-16") as f:
                f.write("Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n" % KEY.replace("HKCU", "HKEY_CURRENT_USER"))
                for i, (name, address) in enumerate(self.BOOK):
                    f.write('"%d"="%s,%s"\r\n' % (i, address, name))
            wine("reg", "import", "Z:" + book.replace("/", "\\"))
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

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "60", text], check=True)

    def key(self, name):
        subprocess.run(["xdotool", "key", name], check=True)

    def shows_rows(self, caption, rows, selected=False):
        """Waits until a window's list shows these rows (the selected ones alone), top to bottom."""
        def shown(screen):
            found = sorted((rect[1], what[4:]) for (c, what), (rect, text) in screen.items()
                           if c == caption and what.startswith("row ") and (not selected or text == "selected"))
            return [text for _, text in found] == rows
        self.wait_for("%s to show %s" % (caption, rows), shown)

    def suggested(self, rows):
        self.shows_rows(SUGGESTIONS, rows)

    def no_suggestions(self):
        self.wait_for("the suggestions to close", lambda s: not [c for c, _ in s if c == SUGGESTIONS])

    def stored(self):
        out = wine("reg", "query", KEY).stdout
        return sorted(" ".join(line.split()) for line in out.splitlines() if "REG_SZ" in line)

class PickingTest(RealInput):
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

    def test_a_book_made_or_changed_by_another_program_while_typing_is_suggested_from_at_once(self):
        self.click_control(COMPOSE, TB_TO)
        self.rect(COMPOSE, TB_TO, "")
        wine("reg", "add", KEY, "/v", "0", "/d", "zed@example.com,Zed Pine", "/f")  # the key made anew
        self.type("z")
        self.suggested(["Zed Pine  <zed@example.com>"])
        wine("reg", "delete", KEY, "/v", "0", "/f")  # gone while it is offered
        self.no_suggestions()


class SuggestionTest(RealInput):
    BOOK = [("Bea Lee", "bea@example.com"), ("Bob Ray", "bob@example.com"), ("Мария Иванова", "maria@example.ru"),
            ("Łukasz Nowak", "lukasz@example.pl"), ("Mark", "mark@example.com"), ("Mary", "mary@example.com"),
            ("Yvonne", "yv@example.com")] + [("Nell " + c, "nell%s@example.com" % c.lower()) for c in "ACDEFGHIJKN"]

    def test_suggestions_while_typing_in_to(self):
        self.click_control(COMPOSE, TB_TO)
        self.type("b")
        self.suggested(["Bea Lee  <bea@example.com>", "Bob Ray  <bob@example.com>"])
        self.type("o")
        self.suggested(["Bob Ray  <bob@example.com>"])
        self.key("Return")
        self.rect(COMPOSE, TB_TO, "bob@example.com,Bob Ray; ")
        self.no_suggestions()
        # The next recipient has suggestions of its own, from any word of a name, in any script and case.
        self.type("ив")
        self.suggested(["Мария Иванова  <maria@example.ru>"])
        self.key("Tab")
        self.rect(COMPOSE, TB_TO, "bob@example.com,Bob Ray; maria@example.ru,Мария Иванова; ")
        self.type("ł")
        self.suggested(["Łukasz Nowak  <lukasz@example.pl>"])
        self.key("Escape")
        self.no_suggestions()
        self.rect(COMPOSE, TB_TO, "bob@example.com,Bob Ray; maria@example.ru,Мария Иванова; ł")
        self.key("Escape")  # and the window stays
        time.sleep(0.5)
        self.rect(COMPOSE, "")
        # Shift+Tab is the window's: the focus goes back, the list closes, the text stays.
        self.key("BackSpace")
        self.type("b")
        self.suggested(["Bea Lee  <bea@example.com>", "Bob Ray  <bob@example.com>"])
        self.key("shift+Tab")
        self.no_suggestions()
        self.rect(COMPOSE, TB_TO, "bob@example.com,Bob Ray; maria@example.ru,Мария Иванова; b")

    def test_arrows_and_a_click_choose_in_cc_and_bcc_from_at_most_ten(self):
        self.click_control(COMPOSE, TB_CC)
        self.type("nell")
        self.suggested(["Nell %s  <nell%s@example.com>" % (c, c.lower()) for c in "ACDEFGHIJK"])
        self.key("Down")
        self.key("Down")
        self.key("Up")
        self.key("Return")
        self.rect(COMPOSE, TB_CC, "nellc@example.com,Nell C; ")
        self.click_control(COMPOSE, TB_BCC)
        self.type("yv")
        self.click(centre(self.rect(SUGGESTIONS, "row Yvonne  <yv@example.com>")))
        self.rect(COMPOSE, TB_BCC, "yv@example.com,Yvonne; ")
        self.no_suggestions()
        # Typing where the caret is not in the recipient being typed suggests nothing.
        self.key("Home")
        self.type("b")
        self.rect(COMPOSE, TB_BCC, "byv@example.com,Yvonne; ")
        time.sleep(0.5)
        self.no_suggestions()

    def test_an_entry_added_in_the_picker_is_suggested_at_once_and_the_picker_finds_as_you_type(self):
        self.click_control(COMPOSE, KT_CB_TO)
        self.click(self.row("Bea Lee"))
        self.type("ma")
        self.shows_rows(PICKER, ["Mark"], selected=True)
        time.sleep(1.2)  # a second later, a search of its own
        self.type("y")
        self.shows_rows(PICKER, ["Yvonne"], selected=True)
        time.sleep(1.2)
        self.type("ł")
        self.shows_rows(PICKER, ["Łukasz Nowak"], selected=True)
        time.sleep(1.2)
        self.type("м")
        self.shows_rows(PICKER, ["Мария Иванова"], selected=True)
        time.sleep(1.2)  # one letter again and again steps through the names it starts
        self.type("mm")
        self.shows_rows(PICKER, ["Mary"], selected=True)
        for control_id, text in ((TB_NAME, "Zoë Ng"), (TB_ADDRESS, "zoe@example.com")):
            self.click_control(PICKER, control_id)
            self.type(text)
            self.rect(PICKER, control_id, text)
        self.click_control(PICKER, KT_CB_ADDNAME)
        self.row("Zoë Ng")
        self.click_control(PICKER, KT_CB_CANCEL)
        self.click_control(COMPOSE, TB_TO)
        self.type("zo")
        self.suggested(["Zoë Ng  <zoe@example.com>"])


if __name__ == "__main__":
    HOST = sys.argv[sys.argv.index("--host") + 1]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
