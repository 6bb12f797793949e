// Delivery from end to end, at a real SMTP server (the catcher started for
// these tests): the Send button, after which the window closes, with the
// lists and senders a user writes; DeliverMail's report of those it cannot
// use; and a failing server leaving the window as the user left it.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "compose/frmEmail.h"
#include "delivery/mEmail.h"
#include "delivery/smtp/utf8.h"
#include "foundation/component_error.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

std::wstring uniqueSubject(const std::wstring& what) {
    return what + L" " + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(GetCurrentProcessId());
}

// Each test delivers to the SMTP catcher of this test run.
class DeliveryTest : public WindowsTest {
protected:
    void SetUp() override {
        std::ifstream(directory + "\\port") >> port;
        ASSERT_NE(port, 0) << "no SMTP catcher";
    }
    std::wstring server() const { return L"127.0.0.1:" + std::to_wstring(port); }
    // The catcher's summaries (envelope, decoded headers and body) of the messages with this subject.
    std::vector<std::wstring> caught(const std::wstring& subject) const {
        std::vector<std::wstring> found;
        for (int n = 1;; ++n) {
            std::ifstream file(directory + "\\spool\\" + std::to_string(n) + ".txt", std::ios::binary);
            if (!file) return found;
            std::stringstream text;
            text << file.rdbuf();
            const std::wstring summary = fromUtf8(text.str());
            if (summary.find(L"Subject: " + subject + L"\n") != std::wstring::npos) found.push_back(summary);
        }
    }

    const std::string directory = toUtf8(windowsPathOf(KT_SMTP_CATCHER_DIR));
    int port = 0;
    ComPtr<IDispatch> email = newEmail();
};

TEST_F(DeliveryTest, AnEntryWithoutCommaOrASenderWithoutClosingBracketSendsNothingAndIsReportedAtItsMark) {
    const std::wstring me = L"me@example.com", noComma = L"9\r\nSubscript out of range", a = L"a@example.com,A";
    const struct {
        std::wstring to, cc, bcc, sender;
        bool showError;
        std::wstring failure;  // the report's number and description
        int mark;
    } cases[] = {
        {std::wstring(L"a@example.com,A\0nn;b@example.com", 32), L"", L"", me, true, noComma, 1032},
        {a, L"bare@example.com", L"", me, true, noComma, 1036},
        {L"", L"", L"c@example.com,C; ", me, true, noComma, 1040},
        {L"a@example.com", L"", L"", me, false, noComma, 1032},
        {a, L"", L"", L"Me <me@example.com", true, L"0\r\n", 1025},
        {a, L"", L"", L"Me <me@example.com", false, L"0\r\n", 1025},
    };
    for (const auto& c : cases) {
        const std::wstring subject = uniqueSubject(L"Broken");
        messageBoxes.shown.clear();
        EXPECT_FALSE(DeliverMail(L"body", subject, c.to, c.cc, c.bcc, server(), c.sender, c.showError, false));
        std::vector<std::wstring> expected;
        if (c.mark == 1025) expected.push_back(L"Missing the Closing \">\" in the e-mail address!");  // asked or not
        std::wstring to = c.to;
        std::replace(to.begin(), to.end(), L'\0', L'\uFFFD');  // so that the report keeps every line
        if (c.showError)
            expected.push_back(L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: " + c.failure +
                               L"\r\n\r\nDebug Code: " + std::to_wstring(c.mark) + L"\r\n\r\nFrom Address: " +
                               c.sender + L"\r\nTo: " + to + L"\r\ncc: " + c.cc + L"\r\nBcc: " + c.bcc +
                               L"\r\nSMTP Server: " + server());
        std::vector<std::wstring> shown;
        for (const auto& box : messageBoxes.shown) shown.push_back(box.text);
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(caught(subject).empty());
    }
}

TEST_F(DeliveryTest, WithoutAnyRecipientNothingIsSent) {
    frmEmail& form = sendEMail(email.get(), L"body", L"", server());
    press(form.KT_CB_Send());
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"No Addresses have been entered, Please enter an e-mail address");
    pumpFor(100ms);
    EXPECT_TRUE(IsWindow(form.hwnd()));
}

TEST_F(DeliveryTest, WindowsSideBySideEachDeliverTheirOwnMessageAndClose) {
    const std::wstring pageSubject = uniqueSubject(L"Page"), plainSubject = uniqueSubject(L"Plain");
    // Blanks around an address or a name go, empty entries are skipped, text after a second comma is lost.
    frmEmail& page = sendEMail(email.get(), L"<html>the page</html>",
                               L"ann@example.com,Ann; bob@example.com, Bob;;cy@example.com,Lee,Cy;", server(),
                               {true, true}, L"Ann Sender <a@example.com>", pageSubject);
    page.tbBody().Text(L"Look at this\r\npage");
    page.tbBcc().Text(L"hidden@example.com,Hidden");
    const ComPtr<IDispatch> second = newEmail();
    frmEmail& plain = sendEMail(second.get(), L"Dear Bob,\r\nhave a look.\r\n", L"bob@example.com,Bob", server(), {},
                                L"<b@example.com>", plainSubject);
    const HWND windows[] = {page.hwnd(), plain.hwnd()};
    press(page.KT_CB_Send());
    press(plain.KT_CB_Send());
    EXPECT_TRUE(messageBoxes.shown.empty()) << messageBoxes.shown.front().text.c_str();
    EXPECT_TRUE(IsWindow(windows[0]) && IsWindow(windows[1]));  // closed by their instances' timers
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(windows[0]) && !IsWindow(windows[1]); }, 3000ms));

    const auto pageSent = caught(pageSubject), plainSent = caught(plainSubject);
    ASSERT_EQ(pageSent.size(), 1u);
    ASSERT_EQ(plainSent.size(), 1u);
    for (const wchar_t* part : {L"Envelope-From: a@example.com\n",
                                L"Envelope-To: ann@example.com, bob@example.com, cy@example.com, hidden@example.com\n",
                                L"To: Ann <ann@example.com>, Bob <bob@example.com>, Lee <cy@example.com>\n",
                                L"From: Ann Sender <a@example.com>\n", L"Content-Type: text/html",
                                L"\n\n<p>Look at this<br>page</p>\r\n<hr>\r\n<html>the page</html>"})
        EXPECT_NE(pageSent[0].find(part), std::wstring::npos) << part << "\n" << pageSent[0].c_str();
    EXPECT_EQ(pageSent[0].find(L"hidden@example.com", pageSent[0].find(L"\n\n")), std::wstring::npos);
    for (const wchar_t* part :
         {L"Envelope-From: b@example.com\n", L"Envelope-To: bob@example.com\n", L"From: b@example.com\n",
          L"Content-Type: text/plain", L"\n\nDear Bob,\r\nhave a look.\r\n"})
        EXPECT_NE(plainSent[0].find(part), std::wstring::npos) << part << "\n" << plainSent[0].c_str();
}

TEST_F(DeliveryTest, AWindowNoInstanceListensToClosesAfterItsSendAndNeverSendsTwice) {
    const std::wstring subject = uniqueSubject(L"Once");
    frmEmail& form = sendEMail(email.get(), L"body", L"ann@example.com,Ann", server(), {}, L"me@example.com", subject);
    const HWND window = form.hwnd();
    email.reset();
    press(form.KT_CB_Send());
    press(form.KT_CB_Send());  // before the window is gone
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, 2000ms));
    EXPECT_EQ(caught(subject).size(), 1u);
}

// With nobody listening at the server; five arguments show the report (bShowError
// is True unless given) and put the body in the field (bHTML is False unless given).
TEST_F(DeliveryTest, FailingServerIsReportedWhenAskedAndLeavesTheWindowAsTheUserLeftIt) {
    frmEmail& form = sendEMail(email.get(), L"my note", L"ann@example.com,Ann");
    form.tbcc().Text(L"cy@example.com,Cy");
    press(form.KT_CB_Send());
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    const std::wstring refused = std::to_wstring(kApiErrorBase + WSAECONNREFUSED);
    EXPECT_EQ(messageBoxes.shown[0].text.rfind(
                  L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: " + refused + L"\r\n", 0),
              0u)
        << messageBoxes.shown[0].text.c_str();
    EXPECT_NE(messageBoxes.shown[0].text.find(L"Debug Code: 1044\r\n"), std::wstring::npos);
    pumpFor(150ms);
    ASSERT_TRUE(IsWindow(form.hwnd()));
    EXPECT_TRUE(IsWindowEnabled(form.hwnd()));
    EXPECT_EQ(form.Pointer(), MousePointer::Default);
    EXPECT_EQ(form.tbTo().Text(), L"ann@example.com,Ann");
    EXPECT_EQ(form.tbcc().Text(), L"cy@example.com,Cy");
    EXPECT_EQ(form.tbBody().Text(), L"my note");

    messageBoxes.shown.clear();
    frmEmail& quiet = sendEMail(email.get(), L"b", L"ann@example.com,Ann", L"127.0.0.1:1", {false});
    press(quiet.KT_CB_Send());
    EXPECT_TRUE(messageBoxes.shown.empty());
    pumpFor(100ms);
    EXPECT_TRUE(IsWindow(quiet.hwnd()));
}

}  // namespace
}  // namespace kt::test
