// DeliverMail against a recording mail component: the operations in their
// order, the reports and their marks, and the component's release.

#include "delivery/mEmail.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "foundation/component_error.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

struct Recording {
    std::vector<std::wstring> calls;
    std::wstring failingOperation;  // throws the failure below when called
    ComponentError failure{-2147220438, L"KT_EMailer.SMTP", L"The SMTP server refused RCPT TO:<x@y>: 554 no"};
    std::function<void(const std::wstring&)> onCall;
};

class RecordingMailComponent final : public MailComponent {
public:
    explicit RecordingMailComponent(std::shared_ptr<Recording> recording) : recording_(std::move(recording)) {}
    ~RecordingMailComponent() override { recording_->calls.push_back(L"released"); }

    void Server(const std::wstring& v) override { record(L"Server", v); }
    void Port(long v) override { record(L"Port", std::to_wstring(v)); }
    void IsHTML(bool v) override { record(L"IsHTML", v ? L"true" : L"false"); }
    void FromAddress(const std::wstring& v) override { record(L"FromAddress", v); }
    void FromName(const std::wstring& v) override { record(L"FromName", v); }
    void AddTo(const std::wstring& a, const std::optional<std::wstring>& n) override { record(L"AddTo", a + L"|" + n.value_or(L"-")); }
    void AddCc(const std::wstring& a, const std::optional<std::wstring>& n) override { record(L"AddCc", a + L"|" + n.value_or(L"-")); }
    void AddBcc(const std::wstring& a, const std::optional<std::wstring>& n) override { record(L"AddBcc", a + L"|" + n.value_or(L"-")); }
    void Subject(const std::wstring& v) override { record(L"Subject", v); }
    void Body(std::wstring v) override { record(L"Body", v); }
    void Send() override { record(L"Send", L""); }

private:
    void record(const std::wstring& operation, const std::wstring& value) {
        if (recording_->onCall) recording_->onCall(operation);
        recording_->calls.push_back(operation + L"(" + value + L")");
        if (operation == recording_->failingOperation) throw recording_->failure;
    }
    std::shared_ptr<Recording> recording_;
};

class DeliverMailTest : public WindowsTest {
protected:
    bool deliver(const std::wstring& to, const std::wstring& cc, const std::wstring& bcc, const std::wstring& sender,
                 bool showError = true, bool html = false) {
        return DeliverMail(L"the body", L"the subject", to, cc, bcc, L"mail.example.com", sender, showError, html,
                           [this] { return std::make_unique<RecordingMailComponent>(recording); });
    }
    const std::vector<std::wstring>& calls() const { return recording->calls; }
    std::wstring report(long number, const std::wstring& description, int mark, const std::wstring& sender,
                        const std::wstring& to, const std::wstring& cc = L"", const std::wstring& bcc = L"") {
        return L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: " + std::to_wstring(number) + L"\r\n" +
               description + L"\r\n\r\nDebug Code: " + std::to_wstring(mark) + L"\r\n\r\nFrom Address: " + sender +
               L"\r\nTo: " + to + L"\r\ncc: " + cc + L"\r\nBcc: " + bcc + L"\r\nSMTP Server: mail.example.com";
    }

    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
};

using Calls = std::vector<std::wstring>;

TEST_F(DeliverMailTest, DrivesTheComponentInItsFixedOrder) {
    EXPECT_TRUE(deliver(L"a@x.com,Ann;b@x.com,Bob", L"", L"c@x.com,Cy", L"Me <me@x.com>"));
    EXPECT_EQ(calls(), (Calls{L"Server(mail.example.com)", L"Port(25)", L"IsHTML(false)", L"FromAddress(me@x.com)",
                              L"FromName(Me )", L"AddTo(a@x.com|Ann)", L"AddTo(b@x.com|Bob)", L"AddBcc(c@x.com|Cy)",
                              L"Subject(the subject)", L"Body(the body)", L"Send()", L"released"}));
    EXPECT_TRUE(messageBoxes.shown.empty());

    recording->calls.clear();
    EXPECT_TRUE(deliver(L"", L"c@x.com,Cy", L"", L"me@x.com", true, true));
    EXPECT_EQ(calls(), (Calls{L"Server(mail.example.com)", L"Port(25)", L"IsHTML(true)", L"FromAddress(me@x.com)",
                              L"AddCc(c@x.com|Cy)", L"Subject(the subject)", L"Body(the body)", L"Send()",
                              L"released"}));
}

TEST_F(DeliverMailTest, EntriesKeepTheirBlanksAndLoseEmptiesAndExtraCommas) {
    EXPECT_TRUE(deliver(L"a@x.com,Ann; b@x.com, Bob;;c@x.com,Lee,Cy;", L"", L"", L"me@x.com"));
    EXPECT_EQ(Calls(calls().begin() + 4, calls().begin() + 7),
              (Calls{L"AddTo(a@x.com|Ann)", L"AddTo( b@x.com| Bob)", L"AddTo(c@x.com|Lee)"}));
}

TEST_F(DeliverMailTest, SenderFieldForms) {
    const struct {
        const wchar_t* sender;
        Calls from;
    } cases[] = {
        {L"<me@x.com>", {L"FromAddress(me@x.com)", L"FromName()"}},
        {L"Me <me@x.com> later", {L"FromAddress(me@x.com> late)", L"FromName(Me )"}},
        {L"me>x.com", {L"FromAddress(me>x.com)"}},
    };
    for (const auto& c : cases) {
        recording->calls.clear();
        deliver(L"a@x.com,Ann", L"", L"", c.sender);
        EXPECT_EQ(Calls(calls().begin() + 3, calls().begin() + 3 + static_cast<long>(c.from.size())), c.from)
            << c.sender;
    }
}

TEST_F(DeliverMailTest, MissingClosingBracketIsAlwaysToldAndReportedWhenAsked) {
    EXPECT_FALSE(deliver(L"a@x.com,Ann", L"", L"", L"Me <me@x.com", true));
    EXPECT_EQ(calls(), (Calls{L"Server(mail.example.com)", L"Port(25)", L"IsHTML(false)", L"released"}));
    ASSERT_EQ(messageBoxes.shown.size(), 2u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"Missing the Closing \">\" in the e-mail address!");
    EXPECT_EQ(messageBoxes.shown[0].title, L"Error");
    EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(messageBoxes.shown[1].text, report(0, L"", 1025, L"Me <me@x.com", L"a@x.com,Ann"));

    messageBoxes.shown.clear();
    EXPECT_FALSE(deliver(L"a@x.com,Ann", L"", L"", L"Me <me@x.com", false));
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"Missing the Closing \">\" in the e-mail address!");
}

TEST_F(DeliverMailTest, EntryWithoutCommaFailsAtItsListsMark) {
    const struct {
        const wchar_t *to, *cc, *bcc;
        int mark;
    } cases[] = {{L"a@x.com", L"", L"", 1032}, {L"a@x.com,A", L"bare@x.com", L"", 1036},
                 {L"", L"", L"c@x.com,C; ", 1040}};
    for (const auto& c : cases) {
        recording->calls.clear();
        messageBoxes.shown.clear();
        EXPECT_FALSE(deliver(c.to, c.cc, c.bcc, L"me@x.com"));
        EXPECT_EQ(calls().back(), L"released");
        EXPECT_EQ(std::count(calls().begin(), calls().end(), L"Send()"), 0);
        ASSERT_EQ(messageBoxes.shown.size(), 1u);
        const std::wstring text = messageBoxes.shown[0].text;
        EXPECT_EQ(text.substr(0, text.find(L"\r\n\r\nFrom")),
                  L"Sending EMail Error in Ardwyn E-Mailer\r\nError Number: 9\r\nSubscript out of range\r\n\r\n"
                  L"Debug Code: " + std::to_wstring(c.mark));
    }
}

TEST_F(DeliverMailTest, FailingOperationEndsTheDeliveryWithItsNumberAndText) {
    recording->failingOperation = L"Send";
    EXPECT_FALSE(deliver(L"a@x.com,Ann", L"c@x.com,Cy", L"d@x.com,Dee", L"me@x.com", true));
    EXPECT_EQ(calls().back(), L"released");
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text,
              report(-2147220438, L"The SMTP server refused RCPT TO:<x@y>: 554 no", 1044, L"me@x.com", L"a@x.com,Ann",
                     L"c@x.com,Cy", L"d@x.com,Dee"));
    EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));

    messageBoxes.shown.clear();
    recording->calls.clear();
    recording->failingOperation = L"AddCc";
    EXPECT_FALSE(deliver(L"a@x.com,Ann", L"c@x.com,Cy", L"", L"me@x.com", false));
    EXPECT_TRUE(messageBoxes.shown.empty());  // failing silently when not asked to report
    EXPECT_EQ(calls().back(), L"released");
}

TEST_F(DeliverMailTest, ANulAnywhereKeepsEveryLineOfTheReport) {
    recording->failingOperation = L"Send";
    recording->failure = ComponentError(-2147220442, L"KT_EMailer.SMTP", std::wstring(L"550 no\0 such", 12));
    EXPECT_FALSE(deliver(std::wstring(L"a@x.com,A\0nn", 12), L"", L"", L"me@x.com"));
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    const std::wstring text = messageBoxes.shown[0].text;
    EXPECT_EQ(text.find(L'\0'), std::wstring::npos);
    EXPECT_EQ(text, report(-2147220442, L"550 no\uFFFD such", 1044, L"me@x.com", L"a@x.com,A\uFFFDnn"));
}

TEST_F(DeliverMailTest, ComponentThatCannotBeCreatedFailsAtTheFirstMark) {
    EXPECT_FALSE(DeliverMail(L"b", L"s", L"a@x.com,A", L"", L"", L"h", L"me@x.com", true, false,
                             []() -> std::unique_ptr<MailComponent> {
                                 throw ComponentError(429, L"KT_EMailer", L"ActiveX component can't create object");
                             }));
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_NE(messageBoxes.shown[0].text.find(L"Error Number: 429\r\nActiveX component can't create object\r\n\r\n"
                                              L"Debug Code: 1000"),
              std::wstring::npos);
}

// A window that counts the messages it was sent.
class CountingWindow {
public:
    CountingWindow() {
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowSubclass(window_, &count, 1, reinterpret_cast<DWORD_PTR>(&received));
    }
    ~CountingWindow() { DestroyWindow(window_); }
    void post() const { PostMessageW(window_, WM_APP, 0, 0); }
    int received = 0;

private:
    static LRESULT CALLBACK count(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR counter) {
        if (message == WM_APP) ++*reinterpret_cast<int*>(counter);
        return DefSubclassProc(hwnd, message, w, l);
    }
    HWND window_;
};

TEST_F(DeliverMailTest, MessageLoopRunsAfterEachEntryAndAfterSendingOnly) {
    CountingWindow window;
    std::vector<std::pair<std::wstring, int>> seen;
    recording->onCall = [&](const std::wstring& operation) {
        seen.emplace_back(operation, window.received);
        window.post();
    };
    EXPECT_TRUE(deliver(L"a@x.com,A;;b@x.com,B", L"", L"", L"me@x.com"));
    // Each posted message is dispatched by the next fixed point of the loop, if any comes first.
    const std::vector<std::pair<std::wstring, int>> expected{
        {L"Server", 0}, {L"Port", 0}, {L"IsHTML", 0}, {L"FromAddress", 0}, {L"AddTo", 0},
        {L"AddTo", 5},  {L"Subject", 6}, {L"Body", 6}, {L"Send", 6}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(window.received, 9);  // the one posted by Send, after it
}

}  // namespace
}  // namespace kt::test
