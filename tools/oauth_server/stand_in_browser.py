#!/usr/bin/python3
"""A stand-in for the user's browser, registered in a Wine prefix as the
handler of http and https URLs (tools/oauth_server/register_browser): it opens
the authorization URL, signs in and consents (or denies) on the
authorization server's own pages as a user would, and follows the redirect
back to the component's loopback listener.

    stand_in_browser.py URL

What it does comes from the folder named by $KT_STAND_IN_BROWSER:
    answer   "consent", "deny", "wrong-state" (brings back another state),
             "ignore" (opens nothing), or "show" (a window in which the user
             presses Continue or Cancel, for the demo)
    ca       the path of the certificate authority the server's certificate is from
    log      gets a line per URL opened; pages.html the last consent page
"""

import html
import http.cookiejar
import os
import re
import ssl
import sys
import urllib.parse
import urllib.request

FOLDER = os.environ.get("KT_STAND_IN_BROWSER", "")


def setting(name, default=""):
    try:
        with open(os.path.join(FOLDER, name)) as f:
            return f.read().strip()
    except OSError:
        return default


class Browser:
    def __init__(self):
        context = ssl.create_default_context(cafile=setting("ca") or None)
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()),
                                                  urllib.request.HTTPSHandler(context=context))

    def open(self, url, form=None):
        """The page at the end of the redirects, and where it is."""
        data = urllib.parse.urlencode(form).encode() if form is not None else None
        with self.opener.open(url, data=data, timeout=30) as answer:
            return answer.read().decode("utf-8", "replace"), answer.geturl()


def form_of(page, base):
    """The page's form: its action and its fields (hidden ones with their values)."""
    action = re.search(r'<form[^>]*action="([^"]*)"', page)
    fields = dict(re.findall(r'<input[^>]*type="hidden"[^>]*name="([^"]*)"[^>]*value="([^"]*)"', page))
    return (urllib.parse.urljoin(base, html.unescape(action.group(1))) if action else None), fields


def user_agrees(page, where, query):
    """The demo's user, in a window: the page's heading, who asks for what, and Continue or Cancel."""
    import tkinter
    heading = re.search(r"<h1>([^<]*)</h1>", page)
    text = "%s\n\nThe app %s asks to send mail as %s.\nAccess asked for: %s\n\n%s" % (
        html.unescape(heading.group(1)) if heading else "Sign in", query.get("client_id", ["?"])[0],
        query.get("login_hint", ["?"])[0], query.get("scope", ["?"])[0], where.split("/interaction/")[0])
    window = tkinter.Tk()
    window.title("Stand-in browser - sign-in")
    window.geometry("+640+420")  # beside the e-mailer's windows, not over them
    tkinter.Label(window, text=text, wraplength=420, justify="left", padx=16, pady=16).pack()
    choice = {"continue": False}

    def agree(*_):
        choice["continue"] = True
        window.destroy()
    buttons = tkinter.Frame(window)
    tkinter.Button(buttons, text="Cancel", width=10, command=window.destroy).pack(side="right", padx=8, pady=12)
    tkinter.Button(buttons, text="Continue", width=10, command=agree).pack(side="right")
    buttons.pack(fill="x")
    window.bind("<Return>", agree)  # Enter continues, as a browser's default button does
    window.focus_force()
    window.mainloop()
    return choice["continue"]


def sign_in(url):
    answer = setting("answer", "consent")
    with open(os.path.join(FOLDER, "log"), "a") as log:
        log.write(url + "\n")
    if answer == "ignore":
        return
    query = urllib.parse.parse_qs(urllib.parse.urlparse(url).query)
    login = query.get("login_hint", ["reader@example.com"])[0]
    browser = Browser()
    page, where = browser.open(url)
    if answer == "wrong-state":
        # The answer to a request the component did not make: another state, the same redirect.
        redirect = query["redirect_uri"][0]
        browser.open(redirect + "?code=forged&state=" + urllib.parse.quote("not-" + query["state"][0]))
        return
    for _ in range(4):  # the login page, then the consent page
        action, fields = form_of(page, where)
        if action is None:
            return
        if answer == "deny" or (answer == "show" and fields.get("prompt") == "consent" and
                                not user_agrees(page, where, query)):
            browser.open(urllib.parse.urljoin(where, urllib.parse.urlparse(where).path + "/abort"))
            return
        if fields.get("prompt") == "consent":
            with open(os.path.join(FOLDER, "page.html"), "w") as f:
                f.write(page)
        fields.update(login=login, password="any")
        page, where = browser.open(action, fields)
        if where.startswith(query["redirect_uri"][0]):
            return  # back at the component: signed in


if __name__ == "__main__":
    sign_in(sys.argv[1])
