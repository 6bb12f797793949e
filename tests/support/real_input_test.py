#!/usr/bin/python3
"""Recipient picking with real input (xdotool) in the Wine prefix and on the
display of the environment: adding, picking and deleting in the picker; the
suggestions while typing a recipient, in any script and case, of entries added
in the picker or by another program at once; the picker's find-as-you-type.

    real_input_test.py --host PATH_TO_demo_host.exe
"""

import functools
import os
import subprocess
import tempfile
import time
import unittest

from mail_harness import main, options, run, windows, windows_path

ARGS = options("--host")
KEY = r"HKCU\Software\Veltrano\Ardwyn\E_MailList"
COMPOSE, PICKER, SUGGESTIONS = "Ardwyn E-Mail Message", "Ardwyn Address Picker", "Ardwyn Address Suggestions"
# Control identifiers: 100 + the control's row in its form's design table.
TB_TO, TB_CC, TB_BCC, KT_CB_TO = 100, 101, 102, 107
TB_NAME, TB_ADDRESS, KT_CB_ADDNAME, KT_CB_OK, KT_CB_CANCEL = 102, 103, 106, 107, 108
xdotool = functools.partial(run, "xdotool", check=True)


class RealInput(unittest.TestCase):
    """The demo browser with its composition window open, on an address book of its own."""
    BOOK = []  # the address book a test starts with: (name, address)

    def setUp(self):
        work = self.enterContext(tempfile.TemporaryDirectory())
        saved = windows_path(os.path.join(work, "saved.reg"))
        if windows("reg", "export", KEY, saved).returncode == 0:
            self.addCleanup(windows, "reg", "import", saved)
        windows("reg", "delete", KEY, "/f")
        self.addCleanup(windows, "reg", "delete", KEY, "/f")
        if self.BOOK:  # through a file in UTF-16: a command line's text would go through the code page
            book = os.path.join(work, "book.reg")
            with open(book, "w", encoding="utf-16") as f:
                f.write("Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n" % KEY.replace("HKCU", "HKEY_CURRENT_USER"))
                f.writelines('"%d"="%s,%s"\r\n' % (i, address, name) for i, (name, address) in enumerate(self.BOOK))
            windows("reg", "import", windows_path(book))
        self.state = os.path.join(work, "screen.txt")
        host = subprocess.Popen(["wine", ARGS.host, "--open", "--to", "", "--screen", windows_path(self.state)],
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

    def click(self, place, button=1):
        """Clicks a point (x, y) or the middle of a rectangle."""
        x, y = place if len(place) == 2 else ((place[0] + place[2]) // 2, (place[1] + place[3]) // 2)
        xdotool("mousemove", str(x), str(y))
        time.sleep(0.15)
        xdotool("click", str(button))
        time.sleep(0.25)

    def click_control(self, caption, control_id):
        self.click(self.rect(caption, control_id))

    def row(self, name):
        return self.rect(PICKER, "row " + name)

    def type(self, text, suggested=None):
        """Types the text; then waits for these suggestions (none: [] for the list to close), where given."""
        xdotool("type", "--delay", "60", text)
        self.suggested(suggested)

    def key(self, names, field=None, text=None, suggested=None):
        """Presses keys; then waits for a field of the composition window to hold the text and for the suggestions."""
        xdotool("key", *names.split())
        self.suggested(suggested)
        if field:
            self.rect(COMPOSE, field, text)

    def suggested(self, rows):
        """Waits for the suggestions to show these rows, or to close ([]); None waits for nothing."""
        if rows:
            self.shows_rows(SUGGESTIONS, rows)
        elif rows == []:
            self.wait_for("the suggestions to close", lambda s: not [c for c, _ in s if c == SUGGESTIONS])

    def add_in_picker(self, name, address):
        for control_id, text in ((TB_NAME, name), (TB_ADDRESS, address)):
            self.click_control(PICKER, control_id)
            self.type(text)
            self.rect(PICKER, control_id, text)
        self.click_control(PICKER, KT_CB_ADDNAME)
        self.row(name)

    def shows_rows(self, caption, rows, selected=False):
        """Waits until a window's list shows these rows (the selected ones alone), top to bottom."""
        def shown(screen):
            found = sorted((rect[1], what[4:]) for (c, what), (rect, text) in screen.items()
                           if c == caption and what.startswith("row ") and (not selected or text == "selected"))
            return [text for _, text in found] == rows
        self.wait_for("%s to show %s" % (caption, rows), shown)

    def stored(self):
        out = windows("reg", "query", KEY).stdout
        return sorted(" ".join(line.split()) for line in out.splitlines() if "REG_SZ" in line)


class PickingTest(RealInput):
    def test_pick_a_new_entry_then_delete_one_with_real_input(self):
        self.click_control(COMPOSE, KT_CB_TO)
        self.add_in_picker("Ann Lee", "ann@example.com")
        self.add_in_picker("Bob Ray", "bob@example.com")
        self.assertEqual(self.stored(), ["0 REG_SZ ann@example.com,Ann Lee", "1 REG_SZ bob@example.com,Bob Ray"])

        self.click(self.row("Ann Lee"))
        self.click_control(PICKER, KT_CB_OK)
        self.rect(COMPOSE, TB_TO, "ann@example.com,Ann Lee")

        self.click_control(COMPOSE, KT_CB_TO)
        self.click(self.row("Ann Lee"))
        self.click(self.row("Ann Lee"), button=3)
        menu = self.rect("#32768", "")
        self.click((menu[0] + 30, menu[1] + 10))
        self.click(self.rect("Delete from E-Mail Address list", 6))  # Yes
        self.shows_rows(PICKER, ["Bob Ray"])
        self.assertEqual(self.stored(), ["0 REG_SZ bob@example.com,Bob Ray"])
        self.click_control(PICKER, KT_CB_CANCEL)

    def test_a_book_made_or_changed_by_another_program_while_typing_is_suggested_from_at_once(self):
        self.click_control(COMPOSE, TB_TO)
        self.rect(COMPOSE, TB_TO, "")
        windows("reg", "add", KEY, "/v", "0", "/d", "zed@example.com,Zed Pine", "/f")  # the key made anew
        self.type("z", ["Zed Pine  <zed@example.com>"])
        windows("reg", "delete", KEY, "/v", "0", "/f")  # gone while it is offered
        self.suggested([])


class SuggestionTest(RealInput):
    BOOK = [("Bea Lee", "bea@example.com"), ("Bob Ray", "bob@example.com"), ("Мария Иванова", "maria@example.ru"),
            ("Łukasz Nowak", "lukasz@example.pl"), ("Mark", "mark@example.com"), ("Mary", "mary@example.com"),
            ("Yvonne", "yv@example.com")] + [("Nell " + c, "nell%s@example.com" % c.lower()) for c in "ACDEFGHIJKN"]
    STARTING_B = ["Bea Lee  <bea@example.com>", "Bob Ray  <bob@example.com>"]
    TAKEN = "bob@example.com,Bob Ray; maria@example.ru,Мария Иванова; "

    def test_suggestions_while_typing_in_to(self):
        self.click_control(COMPOSE, TB_TO)
        self.type("b", self.STARTING_B)
        self.type("o", self.STARTING_B[1:])
        self.key("Return", TB_TO, "bob@example.com,Bob Ray; ", suggested=[])
        # The next recipient has suggestions of its own, from any word of a name, in any script and case.
        self.type("ив", ["Мария Иванова  <maria@example.ru>"])
        self.key("Tab", TB_TO, self.TAKEN)
        self.type("ł", ["Łukasz Nowak  <lukasz@example.pl>"])
        self.key("Escape", TB_TO, self.TAKEN + "ł", suggested=[])
        self.key("Escape")  # and the window stays
        time.sleep(0.5)
        self.rect(COMPOSE, "")
        # Shift+Tab is the window's: the focus goes back, the list closes, the text stays.
        self.key("BackSpace")
        self.type("b", self.STARTING_B)
        self.key("shift+Tab", TB_TO, self.TAKEN + "b", suggested=[])

    def test_arrows_and_a_click_choose_in_cc_and_bcc_from_at_most_ten(self):
        self.click_control(COMPOSE, TB_CC)
        self.type("nell", ["Nell %s  <nell%s@example.com>" % (c, c.lower()) for c in "ACDEFGHIJK"])
        self.key("Down Down Up")
        self.key("Return", TB_CC, "nellc@example.com,Nell C; ")
        self.click_control(COMPOSE, TB_BCC)
        self.type("yv")
        self.click(self.rect(SUGGESTIONS, "row Yvonne  <yv@example.com>"))
        self.rect(COMPOSE, TB_BCC, "yv@example.com,Yvonne; ")
        self.suggested([])
        # Typing where the caret is not in the recipient being typed suggests nothing.
        self.key("Home")
        self.type("b")
        self.rect(COMPOSE, TB_BCC, "byv@example.com,Yvonne; ")
        time.sleep(0.5)
        self.suggested([])

    def test_an_entry_added_in_the_picker_is_suggested_at_once_and_the_picker_finds_as_you_type(self):
        self.click_control(COMPOSE, KT_CB_TO)
        self.click(self.row("Bea Lee"))
        # A second after a letter, a search of its own; one letter again and again steps through the names it starts.
        for typed, found in (("ma", "Mark"), ("y", "Yvonne"), ("ł", "Łukasz Nowak"), ("м", "Мария Иванова"),
                             ("mm", "Mary")):
            time.sleep(0 if typed == "ma" else 1.2)
            self.type(typed)
            self.shows_rows(PICKER, [found], selected=True)
        self.add_in_picker("Zoë Ng", "zoe@example.com")
        self.click_control(PICKER, KT_CB_CANCEL)
        self.click_control(COMPOSE, TB_TO)
        self.type("zo", ["Zoë Ng  <zoe@example.com>"])


if __name__ == "__main__":
    main()
