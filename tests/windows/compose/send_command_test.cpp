// The Send button from end to end: the message at a real SMTP server (the
// catcher started for these tests), the window closed after the tick; and a
// failing server leaving the window as the user left it.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "KT_EMailer.h"
#include "component/class_factory.h"
#include "compose/frmEmail.h"
#include "delivery/smtp/utf8.h"
#include "support/late_bound.h"
#include "support/message_pump.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

using namespace std::chrono_literals;

// The SMTP catcher of this test run: its port and the summaries it wrote.
class Catcher {
public:
    Catcher() : directory_(toUtf8(windowsPathOf(KT_SMTP_CATCHER_DIR))) {
        std::ifstream portFile(directory_ + "\\port");
        portFile >> port_;
    }
    bool running() const { return port_ != 0; }
    std::wstring server() const { return L"127.0.0.1:" + std::to_wstring(port_); }
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

    Catcher catcher;
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
