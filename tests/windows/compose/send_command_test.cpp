// The Send button from end to end: the message at a real SMTP server (the
// catcher started for these tests), the window closed after the tick; a
// failing server leaving the window as the user left it; and servers that
// want TLS and a sign-in, with the system's credential store and sign-in
// dialog.

#include <windows.h>
#include <commctrl.h>
#include <wincred.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "KT_EMailer.h"
#include "component/class_factory.h"
#include "compose/frmEmail.h"
#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/utf8.h"
#include "delivery/system_sign_in.h"
#include "support/late_bound.h"
#include "support/message_pump.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

using namespace std::chrono_literals;

// An SMTP catcher of this test run: its port, the summaries it wrote and its
// log of sign-ins.
class Catcher {
public:
    explicit Catcher(const std::string& name) : directory_(toUtf8(windowsPathOf(KT_SMTP_CATCHERS_DIR "/smtp-" + name))) {
        std::ifstream portFile(directory_ + "\\port");
        portFile >> port_;
    }
    bool running() const { return port_ != 0; }
    std::wstring server(const std::wstring& host = L"127.0.0.1") const { return host + L":" + std::to_wstring(port_); }
    // One line per sign-in: "PLAIN reader accepted".
    std::vector<std::string> signIns() const {
        std::ifstream log(directory_ + "\\sign-ins");
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }
    // The summaries of the messages whose subject is given.
    std::vector<std::wstring> all(const std::wstring& subject) const {
        std::vector<std::wstring> found;
        for (int n = 1; n < 1000; ++n) {
            std::ifstream file(directory_ + "\\spool\\" + std::to_string(n) + ".txt", std::ios::binary);
            if (!file) break;
            std::stringstream text;
            text << file.rdbuf();
            const std::wstring summary = fromUtf8(text.str());
            if (summary.find(L"Subject: " + subject + L"\n") != std::wstring::npos) found.push_back(summary);
        }
        return found;
    }
    std::wstring find(const std::wstring& subject) const {
        const auto found = all(subject);
        return found.empty() ? std::wstring() : found.front();
    }

private:
    std::string directory_;
    int port_ = 0;
};

std::wstring uniqueSubject(const wchar_t* what) {
    return std::wstring(what) + L" " + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(GetCurrentProcessId());
}

class SendCommandTest : public WindowsTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(catcher.running()) << "no SMTP catcher";
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid()), S_OK);
    }
    void TearDown() override {
        for (HWND window : threadWindows(L"Ardwyn E-Mail Message")) DestroyWindow(window);
    }

    frmEmail& open(const std::wstring& body, const std::wstring& subject, const std::wstring& to,
                   const std::wstring& server, bool showError = true, bool html = false,
                   const std::wstring& sender = L"Ardwyn Reader <reader@example.com>", IDispatch* instance = nullptr) {
        const auto before = threadWindows(L"Ardwyn E-Mail Message");
        EXPECT_EQ(callMethod(instance ? instance : email.get(), L"SendEMail",
                             {Variant::text(body), Variant::text(subject), Variant::text(to), Variant::text(server),
                              Variant::text(sender), Variant::boolean(showError), Variant::boolean(html)}),
                  S_OK);
        for (HWND window : threadWindows(L"Ardwyn E-Mail Message"))
            if (std::find(before.begin(), before.end(), window) == before.end()) return *formOf<frmEmail>(window);
        throw std::runtime_error("SendEMail opened no window");
    }
    static void press(KT_CB& button) { SendMessageW(button.hwnd(), BM_CLICK, 0, 0); }

    Catcher catcher{"catcher"};
    ComPtr<IDispatch> email;
};

TEST_F(SendCommandTest, WithoutAnyRecipientNothingIsSent) {
    frmEmail& form = open(L"body", L"s", L"", catcher.server());
    form.tbcc().Text(L"");
    press(form.KT_CB_Send());
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"No Addresses have been entered, Please enter an e-mail address");
    EXPECT_EQ(messageBoxes.shown[0].title, L"Error");
    EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(form.Pointer(), MousePointer::Default);
    pumpFor(100ms);
    EXPECT_TRUE(IsWindow(form.hwnd()));
}

TEST_F(SendCommandTest, PlainMessageArrivesAndTheWindowCloses) {
    const std::wstring subject = uniqueSubject(L"Plain");
    frmEmail& form = open(L"Dear Ann,\r\nhave a look.\r\n", subject, L"ann@example.com,Ann", catcher.server());
    form.tbBcc().Text(L"hidden@example.com,Hidden");
    const HWND window = form.hwnd();
    press(form.KT_CB_Send());
    EXPECT_TRUE(messageBoxes.shown.empty()) << messageBoxes.shown.front().text.c_str();
    EXPECT_TRUE(IsWindow(window));  // closed by the instance's timer, not by the button
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, 3000ms));

    const std::wstring summary = catcher.find(subject);
    ASSERT_FALSE(summary.empty()) << "the catcher has no message with that subject";
    EXPECT_NE(summary.find(L"Envelope-From: reader@example.com\n"), std::wstring::npos);
    EXPECT_NE(summary.find(L"Envelope-To: ann@example.com, hidden@example.com\n"), std::wstring::npos);
    EXPECT_NE(summary.find(L"From: Ardwyn Reader <reader@example.com>\n"), std::wstring::npos);
    EXPECT_EQ(summary.find(L"hidden@example.com", summary.find(L"\n\n")), std::wstring::npos);
    EXPECT_NE(summary.find(L"\n\nDear Ann,\r\nhave a look.\r\n"), std::wstring::npos);
}

TEST_F(SendCommandTest, HtmlMessagePutsTheNoteBeforeThePage) {
    const std::wstring subject = uniqueSubject(L"Html");
    frmEmail& form = open(L"<html><body>The page</body></html>", subject, L"ann@example.com,Ann",
                          catcher.server(), true, true);
    form.tbBody().Text(L"Look at this\r\npage");
    press(form.KT_CB_Send());
    EXPECT_TRUE(messageBoxes.shown.empty());
    const std::wstring summary = catcher.find(subject);
    EXPECT_NE(summary.find(L"Content-Type: text/html"), std::wstring::npos);
    EXPECT_NE(summary.find(L"\n\n<p>Look at this<br>page</p>\r\n<hr>\r\n<html><body>The page</body></html>"),
              std::wstring::npos);
}

TEST_F(SendCommandTest, WindowsSideBySideEachSendTheirOwnPageFromTheirOwnSender) {
    const std::wstring pageSubject = uniqueSubject(L"Page A"), plainSubject = uniqueSubject(L"Plain B");
    frmEmail& page = open(L"<html>page A</html>", pageSubject, L"ann@example.com,Ann", catcher.server(), true, true,
                          L"Ann Sender <a@example.com>");
    ComPtr<IDispatch> second;
    ComPtr<IClassFactory> factory;
    getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid());
    factory->CreateInstance(nullptr, IID_IDispatch, second.putVoid());
    frmEmail& plain = open(L"plain B", plainSubject, L"bob@example.com,Bob", catcher.server(), true, false,
                           L"b@example.com", second.get());
    press(page.KT_CB_Send());
    press(plain.KT_CB_Send());
    EXPECT_TRUE(messageBoxes.shown.empty());

    const std::wstring pageSent = catcher.find(pageSubject), plainSent = catcher.find(plainSubject);
    EXPECT_NE(pageSent.find(L"Envelope-From: a@example.com\n"), std::wstring::npos) << pageSent.c_str();
    EXPECT_NE(pageSent.find(L"Content-Type: text/html"), std::wstring::npos);
    EXPECT_NE(pageSent.find(L"<hr>\r\n<html>page A</html>"), std::wstring::npos);
    EXPECT_NE(plainSent.find(L"Envelope-From: b@example.com\n"), std::wstring::npos) << plainSent.c_str();
    EXPECT_NE(plainSent.find(L"Content-Type: text/plain"), std::wstring::npos);
    EXPECT_NE(plainSent.find(L"\n\nplain B"), std::wstring::npos);
}

TEST_F(SendCommandTest, AWindowNoInstanceListensToClosesAfterItsSendAndNeverSendsTwice) {
    const std::wstring subject = uniqueSubject(L"Once");
    frmEmail& form = open(L"body", subject, L"ann@example.com,Ann", catcher.server());
    const HWND window = form.hwnd();
    email.reset();
    press(form.KT_CB_Send());
    press(form.KT_CB_Send());  // before the window is gone
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, 2000ms));
    EXPECT_EQ(catcher.all(subject).size(), 1u);
}

TEST_F(SendCommandTest, FailingServerLeavesTheWindowAsTheUserLeftIt) {
    const std::wstring unused = L"127.0.0.1:1";
    frmEmail& form = open(L"my note", L"subject", L"ann@example.com,Ann", unused);
    form.tbcc().Text(L"cy@example.com,Cy");
    form.tbBcc().Text(L"dee@example.com,Dee");
    press(form.KT_CB_Send());

    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    const std::wstring report = messageBoxes.shown[0].text;
    EXPECT_EQ(report.rfind(L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: -21471", 0), 0u) << report.c_str();
    EXPECT_NE(report.find(L"Debug Code: 1044\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"127.0.0.1:1"), std::wstring::npos);

    pumpFor(150ms);
    ASSERT_TRUE(IsWindow(form.hwnd()));
    EXPECT_TRUE(IsWindowEnabled(form.hwnd()));
    EXPECT_EQ(form.Pointer(), MousePointer::Default);
    EXPECT_EQ(form.tbTo().Text(), L"ann@example.com,Ann");
    EXPECT_EQ(form.tbcc().Text(), L"cy@example.com,Cy");
    EXPECT_EQ(form.tbBcc().Text(), L"dee@example.com,Dee");
    EXPECT_EQ(form.tbSubject().Text(), L"subject");
    EXPECT_EQ(form.tbBody().Text(), L"my note");

    // Without the show-error flag the failure is silent.
    messageBoxes.shown.clear();
    frmEmail& quiet = open(L"b", L"s", L"ann@example.com,Ann", unused, false);
    press(quiet.KT_CB_Send());
    EXPECT_TRUE(messageBoxes.shown.empty());
    pumpFor(100ms);
    EXPECT_TRUE(IsWindow(quiet.hwnd()));
}

}  // namespace
}  // namespace kt::test

namespace kt::test {
namespace {

using namespace std::chrono_literals;

// What the sign-in dialog showed, and how the user answers it.
struct SignInDialog {
    std::wstring user, password;
    bool remember = false, cancel = false;
    // Seen:
    HWND owner = nullptr;
    bool rememberBox = false, markedWrong = false;
};

// The user at the sign-in dialog for "localhost": answers each that comes
// with the next answer (Cancel when there is none), from a timer that ticks
// inside the dialog's own message loop too.
class SignInDialogUser {
public:
    explicit SignInDialogUser(std::vector<SignInDialog> answers) : dialogs(std::move(answers)) {
        t_user = this;
        timer_ = SetTimer(nullptr, 0, 100, &SignInDialogUser::tick);
    }
    ~SignInDialogUser() { KillTimer(nullptr, timer_); }
    SignInDialogUser(const SignInDialogUser&) = delete;
    SignInDialogUser& operator=(const SignInDialogUser&) = delete;

    std::vector<SignInDialog> dialogs;
    std::size_t seen = 0;

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) { t_user->look(); }
    void look() {
        const HWND dialog = FindWindowW(L"#32770", L"Sign in to localhost");
        if (dialog != arrived_) ticksShown_ = 0;
        arrived_ = dialog;
        if (!dialog || dialog == answered_ || ++ticksShown_ < 4) return;  // once it is all up
        answered_ = dialog;
        if (seen == dialogs.size()) dialogs.push_back({L"", L"", false, true});  // one too many: Cancel
        SignInDialog& answer = dialogs[seen++];
        answer.owner = GetWindow(dialog, GW_OWNER);
        answer.rememberBox = IsWindowVisible(GetDlgItem(dialog, 104));
        for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr));)
            answer.markedWrong |= GetWindow(tip, GW_OWNER) == dialog && IsWindowVisible(tip);
        const HWND userField = reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, 101, CBEM_GETEDITCONTROL, 0, 0));
        SetWindowTextW(userField, answer.user.c_str());
        SetDlgItemTextW(dialog, 102, answer.password.c_str());
        CheckDlgButton(dialog, 104, answer.remember ? BST_CHECKED : BST_UNCHECKED);
        PostMessageW(GetDlgItem(dialog, answer.cancel ? IDCANCEL : IDOK), BM_CLICK, 0, 0);
    }

    static inline thread_local SignInDialogUser* t_user = nullptr;
    HWND arrived_ = nullptr, answered_ = nullptr;
    int ticksShown_ = 0;
    UINT_PTR timer_;
};

class SignInTest : public SendCommandTest {
protected:
    void SetUp() override {
        SendCommandTest::SetUp();
        ASSERT_TRUE(signIn.running() && loginOnly.running() && smtps.running()) << "no TLS catchers";
        std::ifstream file(toUtf8(windowsPathOf(KT_TEST_ACCOUNT)));
        std::string user, password;
        std::getline(std::getline(file, user, ':'), password);
        account = {fromUtf8(user), fromUtf8(password)};
        CredDeleteW(kTarget, CRED_TYPE_GENERIC, 0);
    }
    void TearDown() override {
        CredDeleteW(kTarget, CRED_TYPE_GENERIC, 0);
        SendCommandTest::TearDown();
    }
    void store(std::wstring password) {
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(kTarget);
        credential.UserName = account.user.data();
        credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
        credential.CredentialBlob = reinterpret_cast<BYTE*>(password.data());
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        ASSERT_TRUE(CredWriteW(&credential, 0)) << GetLastError();
    }
    // Sends from a new composition window; true when it closed, the message sent.
    bool send(const std::wstring& server, const std::wstring& subject) {
        window = open(L"Over TLS", subject, L"ann@example.com,Ann", server).hwnd();
        press(formOf<frmEmail>(window)->KT_CB_Send());
        return pumpUntil([&] { return !IsWindow(window); }, 3000ms);
    }

    static constexpr const wchar_t* kTarget = L"KT_EMailer:localhost";
    Catcher signIn{"signin"}, loginOnly{"login"}, smtps{"smtps"};
    struct {
        std::wstring user, password;
    } account;
    HWND window = nullptr;
};

TEST_F(SignInTest, AStoredSignInOrNoneNeededSendsWithoutAnyDialog) {
    struct Case {
        Catcher* catcher;
        const wchar_t* host;
        bool stored;
        const char* signedIn;  // the catcher's last sign-in, if any
    };
    SignInDialogUser user({});
    for (const Case& c : {Case{&smtps, L"smtps://localhost", false, ""},
                          Case{&signIn, L"localhost", true, "PLAIN reader accepted"},
                          Case{&loginOnly, L"localhost", true, "LOGIN reader accepted"}}) {
        if (c.stored) store(account.password);
        const std::wstring subject = uniqueSubject(L"Over TLS");
        EXPECT_TRUE(send(c.catcher->server(c.host), subject)) << c.catcher->server(c.host).c_str();
        EXPECT_FALSE(c.catcher->find(subject).empty());
        const auto signIns = c.catcher->signIns();
        EXPECT_EQ(signIns.empty() ? "" : signIns.back(), c.signedIn);
    }
    EXPECT_TRUE(messageBoxes.shown.empty()) << messageBoxes.shown.front().text.c_str();
    EXPECT_EQ(user.seen, 0u);
}

TEST_F(SignInTest, ARefusedStoredPasswordBringsTheDialogMarkedWrongAndItRemembers) {
    store(L"not the password");
    SignInDialogUser user({{account.user, account.password, true}});
    const std::wstring subject = uniqueSubject(L"Refused");
    EXPECT_TRUE(send(signIn.server(L"localhost"), subject));
    EXPECT_FALSE(signIn.find(subject).empty());
    ASSERT_EQ(user.seen, 1u);
    EXPECT_TRUE(user.dialogs[0].markedWrong);
    const auto signIns = signIn.signIns();
    ASSERT_GE(signIns.size(), 2u);
    EXPECT_EQ(signIns[signIns.size() - 2], "PLAIN reader refused");
    EXPECT_EQ(signIns.back(), "PLAIN reader accepted");
    const auto kept = SystemSignIn(nullptr).stored("localhost");
    EXPECT_TRUE(kept && fromUtf8(kept->user) == account.user && fromUtf8(kept->password) == account.password);

    const std::wstring again = uniqueSubject(L"Remembered");
    EXPECT_TRUE(send(signIn.server(L"localhost"), again));
    EXPECT_FALSE(signIn.find(again).empty());
    EXPECT_EQ(user.seen, 1u) << "asked again";
}

TEST_F(SignInTest, TheDialogAsksWhenASignInIsWantedAndCancelKeepsTheWindow) {
    SignInDialogUser user({{L"", L"", false, true}});
    const std::wstring subject = uniqueSubject(L"Cancelled");
    frmEmail& form = open(L"my note", subject, L"ann@example.com,Ann", signIn.server(L"localhost"));
    form.tbcc().Text(L"cy@example.com,Cy");
    press(form.KT_CB_Send());

    ASSERT_EQ(user.seen, 1u);
    EXPECT_EQ(user.dialogs[0].owner, form.hwnd());
    EXPECT_TRUE(user.dialogs[0].rememberBox);
    EXPECT_FALSE(user.dialogs[0].markedWrong);
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    const std::wstring report = messageBoxes.shown[0].text;
    EXPECT_EQ(report.rfind(L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: " +
                               std::to_wstring(kMailErrorBase + static_cast<long>(MailFailure::SignInCancelled)) +
                               L"\r\nThe sign-in to localhost was cancelled",
                           0),
              0u)
        << report.c_str();
    EXPECT_NE(report.find(L"Debug Code: 1044\r\n"), std::wstring::npos);
    pumpFor(150ms);
    ASSERT_TRUE(IsWindow(form.hwnd()));
    EXPECT_TRUE(IsWindowEnabled(form.hwnd()));
    EXPECT_EQ(form.tbTo().Text() + form.tbcc().Text() + form.tbBody().Text(), L"ann@example.com,Anncy@example.com,Cymy note");
    EXPECT_EQ(form.tbSubject().Text(), subject);
    EXPECT_TRUE(signIn.find(subject).empty());
}

}  // namespace
}  // namespace kt::test
