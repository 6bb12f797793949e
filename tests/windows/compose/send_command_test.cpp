// Delivery from end to end at this run's SMTP catchers: Send, after which the
// window closes; DeliverMail's report of lists and senders it cannot use; a
// failing server or a cancelled sign-in leaving the window as the user left
// it; a Send while another waits; servers that want TLS and a sign-in, with
// the system's credential store and sign-in dialog; a copy in the Sent folder
// that cannot be placed.

#include <winsock2.h>
#include <commctrl.h>
#include <wincred.h>

#include <optional>

#include "compose/frmEmail.h"
#include "compose/frmSignInWait.h"
#include "delivery/components/mail_components.h"
#include "delivery/components/sent_copy_in_background.h"
#include "delivery/components/system_sign_in.h"
#include "delivery/mail_error.h"
#include "foundation/component_error.h"
#include "foundation/utf8.h"
#include "support/test_servers.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

const std::wstring kWaitCaption = L"Ardwyn E-Mail Sign-in";

class DeliveryTest : public WindowsTest {
protected:
    void SetUp() override { ASSERT_NE(catcher.port, 0) << "no SMTP catcher"; }

    // A window with the note, to Ann (and Cy, for a failure to keep).
    frmEmail& compose(const std::wstring& server, const std::wstring& subject, bool withCc = false,
                      IDispatch* from = nullptr) {
        frmEmail& form = sendEMail(from ? from : email.get(), L"my note", L"ann@example.com,Ann", server, {},
                                   L"me@example.com", subject);
        if (withCc) form.tbcc().Text(L"cy@example.com,Cy");
        return form;
    }
    bool sendsAndCloses(const std::wstring& server, const std::wstring& subject) {
        frmEmail& form = compose(server, subject);
        const HWND window = form.hwnd();
        press(form.KT_CB_Send());
        return closes(window, 3000ms);
    }

    // The one report of a failed Send, with its number, and the window as the user left it.
    void expectReportAndTheWindowKept(frmEmail& form, long number) {
        ASSERT_TRUE(oneBoxSays({L"Debug Code: 1044\r\n"}));
        EXPECT_EQ(shownBoxes[0].text.rfind(L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: " +
                                               std::to_wstring(number) + L"\r\n", 0), 0u) << shownBoxes[0].text;
        pumpFor(150ms);
        ASSERT_TRUE(IsWindow(form.hwnd()));
        EXPECT_TRUE(IsWindowEnabled(form.hwnd()));
        EXPECT_EQ(form.Pointer(), MousePointer::Default);
        EXPECT_EQ(form.tbTo().Text() + L"|" + form.tbcc().Text() + L"|" + form.tbBody().Text(),
                  L"ann@example.com,Ann|cy@example.com,Cy|my note");
    }

    Catcher catcher{"catcher"};
    ComPtr<IDispatch> email = newEmail();
};

TEST_F(DeliveryTest, AnEntryWithoutCommaOrASenderWithoutClosingBracketSendsNothingAndIsReportedAtItsMark) {
    const auto report = [&](int debugCode, const std::wstring& to, const std::wstring& cc = L"") {
        return L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: 9\r\nSubscript out of range\r\n\r\nDebug "
               L"Code: " + std::to_wstring(debugCode) + L"\r\n\r\nFrom Address: me@example.com\r\nTo: " + to +
               L"\r\ncc: " + cc + L"\r\nBcc: \r\nSMTP Server: " + catcher.server();
    };
    const struct {
        std::wstring to, cc, sender;
        bool showError;
        std::vector<std::wstring> shown;
    } cases[] = {
        // A NUL in a list is shown replaced, so that the report keeps every line.
        {std::wstring(L"a@example.com,A\0nn;b@example.com", 32), L"", L"me@example.com", true,
         {report(1032, L"a@example.com,A\uFFFDnn;b@example.com")}},
        {L"a@example.com,A", L"bare@example.com", L"me@example.com", true,
         {report(1036, L"a@example.com,A", L"bare@example.com")}},
        {L"a@example.com,A", L"", L"Me <me@example.com", false, {L"Missing the Closing \">\" in the e-mail address!"}},
        // Blanks are no entry's address: only the one an accepted suggestion leaves after its ";" is passed over.
        {L" ", L"", L"me@example.com", true, {report(1032, L" ")}},
        {L"a@example.com,A;  ", L"", L"me@example.com", true, {report(1032, L"a@example.com,A;  ")}},
    };
    for (const auto& c : cases) {
        const std::wstring subject = uniqueSubject(L"Broken");
        shownBoxes.clear();
        EXPECT_FALSE(DeliverMail(L"body", subject, c.to, c.cc, L"", catcher.server(), c.sender, c.showError, false,
                                 smtpMailComponent()));
        std::vector<std::wstring> shown;
        for (const auto& box : shownBoxes) shown.push_back(box.text);
        EXPECT_EQ(shown, c.shown);
        EXPECT_TRUE(catcher.caught(subject).empty());
    }
}

// The second window's instance is let go first: nothing listens to it, and
// it closes on its own.
TEST_F(DeliveryTest, WindowsSideBySideEachDeliverTheirOwnMessageOnceAndClose) {
    const std::wstring pageSubject = uniqueSubject(L"Page"), plainSubject = uniqueSubject(L"Plain");
    // Blanks around an address or a name go, empty entries and an accepted suggestion's blank after its ";"
    // are skipped, text after a second comma is lost.
    frmEmail& page = sendEMail(email.get(), L"<html>the page</html>",
                               L"ann@example.com,Ann; ;bob@example.com, Bob;;cy@example.com,Lee,Cy; ", catcher.server(),
                               {true, true}, L"Ann Sender <a@example.com>", pageSubject);
    page.tbBody().Text(L"Look at this\r\npage");
    page.tbBcc().Text(L"hidden@example.com,Hidden");
    ComPtr<IDispatch> second = newEmail();
    frmEmail& plain = sendEMail(second.get(), L"Dear Bob,\r\nhave a look.\r\n", L"bob@example.com,Bob",
                                catcher.server(), {}, L"<b@example.com>", plainSubject);
    const HWND windows[] = {page.hwnd(), plain.hwnd()};
    second.reset();
    press(page.KT_CB_Send());
    press(plain.KT_CB_Send());
    press(plain.KT_CB_Send());  // before the window is gone
    EXPECT_TRUE(noBox());
    EXPECT_TRUE(IsWindow(windows[1]));  // closed from a timer (the first may have gone meanwhile)
    EXPECT_TRUE(closes(windows[0], 3000ms) && closes(windows[1], 3000ms));

    const auto pageSent = catcher.caught(pageSubject), plainSent = catcher.caught(plainSubject);
    ASSERT_EQ(pageSent.size(), 1u);
    ASSERT_EQ(plainSent.size(), 1u);
    EXPECT_TRUE(holdsAll(pageSent[0], {L"Envelope-From: a@example.com\n",
                                       L"Envelope-To: ann@example.com, bob@example.com, cy@example.com, "
                                       L"hidden@example.com\n",
                                       L"To: Ann <ann@example.com>, Bob <bob@example.com>, Lee <cy@example.com>\n",
                                       L"From: Ann Sender <a@example.com>\n", L"Content-Type: multipart/alternative",
                                       L"Content-Type: text/html",
                                       L"\n\n<p>Look at this<br>page</p>\r\n<hr>\r\n<html>the page</html>",
                                       // and its text
                                       L"\nText part:\nLook at this\r\npage\r\n\r\n----------\r\n\r\nthe page"}));
    EXPECT_EQ(pageSent[0].find(L"hidden@example.com", pageSent[0].find(L"\n\n")), std::wstring::npos);
    EXPECT_TRUE(holdsAll(plainSent[0], {L"Envelope-From: b@example.com\n", L"Envelope-To: bob@example.com\n",
                                        L"From: b@example.com\n", L"Content-Type: text/plain",
                                        L"\n\nDear Bob,\r\nhave a look.\r\n"}));
}

// With nobody listening at the server; five arguments show the report (bShowError
// is True unless given) and put the body in the field (bHTML is False unless given).
TEST_F(DeliveryTest, FailingServerIsReportedWhenAskedAndLeavesTheWindowAsTheUserLeftIt) {
    frmEmail& form = compose(L"127.0.0.1:1", L"A subject", true);
    press(form.KT_CB_Send());
    expectReportAndTheWindowKept(form, kApiErrorBase + WSAECONNREFUSED);

    shownBoxes.clear();
    frmEmail& quiet = sendEMail(email.get(), L"b", L"", L"127.0.0.1:1", {false});
    press(quiet.KT_CB_Send());
    EXPECT_EQ(shownBoxes.at(0).text, L"No Addresses have been entered, Please enter an e-mail address");
    quiet.tbTo().Text(L"ann@example.com,Ann");
    press(quiet.KT_CB_Send());
    EXPECT_EQ(shownBoxes.size(), 1u);
    pumpFor(100ms);
    EXPECT_TRUE(IsWindow(quiet.hwnd()));
}

TEST_F(DeliveryTest, ASendWhileAnotherWindowsDeliveryWaitsIsAskedToWaitAndGoesAfterwards) {
    SilentServer silent;
    frmEmail& first = compose(silent.server(), L"A subject");
    const ComPtr<IDispatch> other = newEmail();
    const std::wstring subject = uniqueSubject(L"Second");
    frmEmail& second = compose(catcher.server(), subject, false, other.get());
    // While the first waits for the silent server's greeting.
    StepsOnTimer steps({[&] { press(second.KT_CB_Send()); }, [&] { silent.hangUp(); }}, 100);
    press(first.KT_CB_Send());
    EXPECT_TRUE(steps.done());
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[0].text, L"Another message is being sent. Please press Send again when it has gone.");
    EXPECT_EQ(shownBoxes[1].text.rfind(L"Sending EMail Error in Ardwyn E-Mailer", 0), 0u);
    EXPECT_TRUE(catcher.caught(subject).empty());
    press(second.KT_CB_Send());
    EXPECT_EQ(catcher.caught(subject).size(), 1u);
}

// The user at the sign-in for "localhost": answers each system dialog with the
// next answer (Cancel when there is none) and cancels a wait for the browser,
// from a timer that ticks inside their own message loops too, once all is up.
struct SignInAnswer {
    std::wstring user, password;
    bool remember = false, cancel = false;
    HWND owner = nullptr;  // seen
    bool rememberBox = false, markedWrong = false, rememberTicked = false;
    std::wstring texts;  // of its static controls, each after a line break
};
struct SignInDialogUser {
    explicit SignInDialogUser(std::vector<SignInAnswer> given) : answers(std::move(given)) {}
    std::vector<SignInAnswer> answers;
    std::size_t seen = 0;

    void look() {
        const HWND waiting = findThreadWindow(kWaitCaption);
        const HWND dialog = waiting ? waiting : FindWindowW(L"#32770", L"Sign in to localhost");
        ticksShown_ = dialog == arrived_ ? ticksShown_ + 1 : 0;
        arrived_ = dialog;
        if (!dialog || dialog == answered_ || ticksShown_ < 4) return;
        answered_ = dialog;
        if (seen == answers.size()) answers.push_back({L"", L"", false, true});
        SignInAnswer& answer = answers[seen++];
        answer.owner = GetWindow(dialog, GW_OWNER);
        if (waiting) {
            press(formOf<frmSignInWait>(waiting)->KT_CB_Cancel());
            return;
        }
        answer.rememberBox = IsWindowVisible(GetDlgItem(dialog, 104));
        answer.rememberTicked = IsDlgButtonChecked(dialog, 104) == BST_CHECKED;
        EnumChildWindows(dialog, &addStaticText, reinterpret_cast<LPARAM>(&answer.texts));
        for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr));)
            answer.markedWrong |= GetWindow(tip, GW_OWNER) == dialog && IsWindowVisible(tip);
        SetWindowTextW(reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, 101, CBEM_GETEDITCONTROL, 0, 0)),
                       answer.user.c_str());
        SetDlgItemTextW(dialog, 102, answer.password.c_str());
        CheckDlgButton(dialog, 104, answer.remember ? BST_CHECKED : BST_UNCHECKED);
        PostMessageW(GetDlgItem(dialog, answer.cancel ? IDCANCEL : IDOK), BM_CLICK, 0, 0);
    }

    static BOOL CALLBACK addStaticText(HWND child, LPARAM texts) {
        wchar_t name[16] = L"", text[512] = L"";
        GetClassNameW(child, name, 16);
        if (_wcsicmp(name, L"Static") == 0 && GetWindowTextW(child, text, 512))
            *reinterpret_cast<std::wstring*>(texts) += L"\n" + std::wstring(text);
        return TRUE;
    }

    HWND arrived_ = nullptr, answered_ = nullptr;
    int ticksShown_ = 0;
    StepsOnTimer ticks_{[this] { look(); }, 100};
};

class SignInTest : public DeliveryTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(signIn.port && loginOnly.port && smtps.port) << "no TLS catchers";
        CredDeleteW(kTarget, CRED_TYPE_GENERIC, 0);
    }
    void TearDown() override { CredDeleteW(kTarget, CRED_TYPE_GENERIC, 0); }
    void store(std::wstring stored) {
        CREDENTIALW credential{0, CRED_TYPE_GENERIC, const_cast<wchar_t*>(kTarget), nullptr, {},
                               static_cast<DWORD>(stored.size() * sizeof(wchar_t)),
                               reinterpret_cast<BYTE*>(stored.data()), CRED_PERSIST_LOCAL_MACHINE, 0, nullptr, nullptr,
                               user.data()};
        ASSERT_TRUE(CredWriteW(&credential, 0)) << GetLastError();
    }
    // True when the window closed and the message was caught, once.
    bool sends(const Catcher& at, const std::wstring& host, const std::wstring& what) {
        const std::wstring subject = uniqueSubject(what);
        return sendsAndCloses(at.server(host), subject) && at.caught(subject).size() == 1;
    }
    static std::string last(const std::vector<std::string>& lines, std::size_t back = 0) {
        return lines.size() > back ? lines[lines.size() - 1 - back] : "";
    }

    static constexpr const wchar_t* kTarget = L"KT_EMailer:localhost";
    Catcher signIn{"signin"}, loginOnly{"login"}, smtps{"smtps"};
    std::wstring user = L"" KT_TEST_USER, password = L"" KT_TEST_PASSWORD;  // the catchers' account
};

TEST_F(SignInTest, AStoredSignInOrNoneNeededSendsWithoutAnyDialog) {
    SignInDialogUser dialog({});
    EXPECT_TRUE(sends(smtps, L"smtps://localhost", L"Implicit TLS, no sign-in needed"));
    EXPECT_EQ(smtps.signIns(), std::vector<std::string>{});
    store(password);
    EXPECT_TRUE(sends(signIn, L"localhost", L"Stored, PLAIN"));
    EXPECT_EQ(last(signIn.signIns()), "PLAIN reader accepted");
    EXPECT_TRUE(sends(loginOnly, L"localhost", L"Stored, LOGIN"));
    EXPECT_EQ(last(loginOnly.signIns()), "LOGIN reader accepted");
    EXPECT_TRUE(noBox());
    EXPECT_EQ(dialog.seen, 0u);
}

// A changed password: the kept one is refused once, and never tried again.
TEST_F(SignInTest, ARefusedKeptPasswordGoesAndTheDialogAsksMarkedWrongWithRememberTicked) {
    for (const bool remember : {true, false}) {
        store(L"not the password");
        SignInDialogUser dialog({{user, password, remember}, {user, password, false}});
        EXPECT_TRUE(sends(signIn, L"localhost", L"Refused"));
        ASSERT_EQ(dialog.seen, 1u);
        EXPECT_TRUE(dialog.answers[0].markedWrong);
        EXPECT_TRUE(dialog.answers[0].rememberTicked);
        EXPECT_EQ(last(signIn.signIns(), 1) + ", " + last(signIn.signIns()), "PLAIN reader refused, PLAIN reader accepted");
        const auto kept = SystemSignIn(nullptr).stored({"localhost", "me@example.com"});
        EXPECT_EQ(kept.has_value(), remember);
        EXPECT_TRUE(!kept || (fromUtf8(kept->user) == user && fromUtf8(std::string(kept->password.view())) == password));

        // Kept, it signs in at once; not kept, the dialog asks before any sign-in is tried.
        const std::size_t signInsBefore = signIn.signIns().size();
        EXPECT_TRUE(sends(signIn, L"localhost", L"Next"));
        EXPECT_EQ(dialog.seen, remember ? 1u : 2u) << remember;
        EXPECT_EQ(signIn.signIns().size(), signInsBefore + 1) << remember;
        EXPECT_EQ(last(signIn.signIns()), "PLAIN reader accepted");
        CredDeleteW(kTarget, CRED_TYPE_GENERIC, 0);
    }
}

// Cancel in the dialog a wanted sign-in brings, or while the user signs in to
// a provider in the browser.
TEST_F(SignInTest, CancelAtTheSignInKeepsTheWindowAndSendsNothing) {
    for (const bool browser : {false, true}) {
        SCOPED_TRACE(browser ? "browser" : "dialog");
        std::optional<ProviderProfile> profile;
        if (browser) profile.emplace();
        SignInDialogUser dialog({});
        const std::wstring subject = uniqueSubject(L"Cancelled");
        frmEmail& form = compose(signIn.server(L"localhost"), subject, true);
        press(form.KT_CB_Send());
        ASSERT_EQ(dialog.seen, 1u);
        EXPECT_EQ(dialog.answers[0].owner, form.hwnd());
        EXPECT_EQ(dialog.answers[0].rememberBox, !browser);
        EXPECT_FALSE(dialog.answers[0].markedWrong);
        expectReportAndTheWindowKept(form, kMailErrorBase + static_cast<long>(MailFailure::SignInCancelled));
        EXPECT_TRUE(oneBoxSays({L"The sign-in to localhost was cancelled"}));
        EXPECT_EQ(findThreadWindow(kWaitCaption), nullptr);
        EXPECT_TRUE(signIn.caught(subject).empty());
        DestroyWindow(form.hwnd());
        shownBoxes.clear();
    }
}

// The copy in the Sent folder through the whole component, with the server
// of the SentCopy settings for "localhost".
class SentCopyTest : public SignInTest {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        CredDeleteW(kImapTarget, CRED_TYPE_GENERIC, 0);
        SignInTest::TearDown();
    }
    void copyTo(const std::wstring& server) {
        setRegistryString(HKEY_CURRENT_USER, key_, L"Mode", L"always");
        setRegistryString(HKEY_CURRENT_USER, key_, L"Server", server);
    }
    // The text of a report titled "Error" within the time, closed once read; empty if none came.
    std::wstring reportWithin(std::chrono::milliseconds time) {
        std::wstring report;
        pumpUntil([&] {
            const HWND box = FindWindowW(L"#32770", L"Error");
            if (!box) return false;
            wchar_t text[2048] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 2048);
            report = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return true;
        }, time);
        return report;
    }

    static constexpr const wchar_t* kImapTarget = L"KT_EMailer:imap:localhost";
    const std::wstring key_ = std::wstring(kSentCopyKey) + L"\\localhost";
};

// A copy that cannot be placed (nothing listens where the settings say the
// IMAP server is) is one message and one timed report from the copy's own
// thread, never a second delivery.
TEST_F(SentCopyTest, ACopyThatCannotBePlacedIsATimedReportAndTheMessageWentOnce) {
    copyTo(L"localhost:1");
    store(password);
    const std::wstring subject = uniqueSubject(L"A copy that cannot be placed");
    ASSERT_TRUE(sendsAndCloses(signIn.server(L"localhost"), subject)) << "the window closes as the message went";
    // The report is the real box (the copy's thread has no recorder).
    EXPECT_TRUE(holdsAll(reportWithin(20000ms), {L"The message was sent, but no copy could be placed in your Sent "
                                                 L"folder: ", L"Time of Error:"}));
    EXPECT_EQ(signIn.caught(subject).size(), 1u);
    EXPECT_TRUE(noBox());  // nothing on the window's thread
}

// Run by sent_copy_test.py with its Dovecot at $KT_IMAP_SERVER, where the
// account's IMAP password ($KT_IMAP_PASSWORD) is not its SMTP one: the copy's
// thread asks once, in the system's dialog, and keeps that password beside
// the SMTP one, not over it. The script reads the copies of the subjects
// $KT_SENT_COPY_SUBJECT 1 and 2 in the Sent folder.
TEST_F(SentCopyTest, OverImapTheDialogAsksOnceWhenTheSmtpPasswordIsRefusedAndKeepsBoth) {
    const wchar_t* server = _wgetenv(L"KT_IMAP_SERVER");
    if (!server) GTEST_SKIP() << "no IMAP server";
    const std::wstring imapPassword = _wgetenv(L"KT_IMAP_PASSWORD"), subject = _wgetenv(L"KT_SENT_COPY_SUBJECT");
    copyTo(server);
    store(password);
    SignInDialogUser dialog({{user, imapPassword, true}});
    const SignInScope imap{"localhost", "me@example.com", MailService::Imap};
    ASSERT_TRUE(sendsAndCloses(signIn.server(L"localhost"), subject + L" 1"));
    ASSERT_TRUE(pumpUntil([&] { return SystemSignIn(nullptr).stored(imap).has_value(); }, 20000ms))
        << "the IMAP password is kept once the copy was placed";
    EXPECT_EQ(dialog.seen, 1u);
    EXPECT_TRUE(holdsAll(dialog.answers[0].texts,
                         {L"\nlocalhost did not accept the name or password for your Sent folder."}));
    EXPECT_EQ(fromUtf8(std::string(SystemSignIn(nullptr).stored(imap)->password.view())), imapPassword);
    const auto smtp = SystemSignIn(nullptr).stored({"localhost", "me@example.com"});
    ASSERT_TRUE(smtp.has_value());
    EXPECT_EQ(fromUtf8(std::string(smtp->password.view())), password);

    // Both kept: the next message and its copy go without a dialog, and with no report.
    ASSERT_TRUE(sendsAndCloses(signIn.server(L"localhost"), subject + L" 2"));
    EXPECT_EQ(reportWithin(6000ms), L"");
    EXPECT_EQ(dialog.seen, 1u);
    EXPECT_EQ(signIn.caught(subject + L" 1").size() + signIn.caught(subject + L" 2").size(), 2u);
}

}  // namespace
}  // namespace kt::test
