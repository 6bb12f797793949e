// The composition window as SendEMail opens it and as the user lays it out
// and closes it, and what opening and closing it many times leaves behind;
// the page's text it makes meanwhile for Send.

#include "compose/frmEmail.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "KT_EMailer.h"
#include "compose/message_body.h"
#include "compose/page_in_background.h"
#include "foundation/message_pump.h"
#include "foundation/module.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

class ComposeWindowTest : public WindowsTest {
protected:
    ComPtr<IDispatch> email = newEmail();
};

TEST_F(ComposeWindowTest, ControlsStackInDesignOrderTabFollowsItTooltipsShowAndResizingLinesThemUp) {
    frmEmail& form = sendEMail(email.get(), L"Body");
    // Drawn in the design's order, which is also the order Tab follows.
    const std::wstring stacked[] = {
        L"a@example.com,Ann", L"", L"", L"A subject", L"Bcc", L"Subject:", L"cc", L"To", L"Body",
        L"Type in any message you want to appear before the web page.", L"Send", L"Cancel",
        L"Separate Multiple Addresses with a semi-colon (;)", L"Help", L"Address Format: address, name.  i.e. "};
    HWND child = GetWindow(form.hwnd(), GW_CHILD);
    for (const auto& text : stacked) {
        EXPECT_EQ(windowText(child).substr(0, text.size()), text);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    // Tab as the host's own message loop delivers it, out of the multi-line body too.
    const FormControl* tabOrder[] = {&form.tbcc(),         &form.tbBcc(),      &form.tbSubject(), &form.KT_CB_Bcc(),
                                     &form.KT_CB_CC(),     &form.KT_CB_To(),   &form.tbBody(),    &form.KT_CB_Send(),
                                     &form.KT_CB_Cancel(), &form.KT_CB_Help(), &form.tbTo()};
    const auto typeKey = [](UINT key) {
        const HWND focus = GetFocus();
        PostMessageW(focus, WM_KEYDOWN, key, 0x00000001);
        PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
        pumpFor(30ms);
    };
    form.tbTo().SetFocus();
    for (const FormControl* next : tabOrder) {
        typeKey(VK_TAB);
        EXPECT_EQ(GetFocus(), next->hwnd()) << next->name();
    }
    // Escape in the body, a field that takes dialog keys, closes nothing.
    form.tbBody().SetFocus();
    typeKey(VK_ESCAPE);
    ASSERT_TRUE(IsWindow(form.hwnd()));
    EXPECT_EQ(form.tbBody().Text(), L"Body");

    // A button's tooltip shows when the pointer rests on it.
    RECT onScreen{};
    GetWindowRect(form.KT_CB_Send().hwnd(), &onScreen);
    SetCursorPos((onScreen.left + onScreen.right) / 2, (onScreen.top + onScreen.bottom) / 2);
    EXPECT_TRUE(pumpUntil(
        [] {
            const HWND tip = FindWindowW(TOOLTIPS_CLASSW, nullptr);
            return tip && IsWindowVisible(tip) && windowText(tip) == L"Send the E-Mail Message";
        },
        3000ms));

    // Resizing keeps the minimum and lines fields and buttons up with the frame.
    const auto rectOf = [&](HWND window, bool client = false) {
        RECT r{};
        client ? GetClientRect(window, &r) : GetWindowRect(window, &r);
        if (!client) MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    SetWindowPos(form.hwnd(), nullptr, 0, 0, 200, 120, SWP_NOMOVE | SWP_NOZORDER);
    const RECT smallest = rectOf(form.hwnd());
    EXPECT_EQ(smallest.right - smallest.left, twipsToPixels(5268, form.twipsPerPixelX()));
    EXPECT_EQ(smallest.bottom - smallest.top, twipsToPixels(5628, form.twipsPerPixelY()));

    // Fields end two frame widths inside the client area, the body at its edge;
    // Send two frame heights above the bottom, the body four above Send.
    SetWindowPos(form.hwnd(), nullptr, 0, 0, 700, 600, SWP_NOMOVE | SWP_NOZORDER);
    const RECT client = rectOf(form.hwnd(), true), send = rectOf(form.KT_CB_Send().hwnd());
    const int f = GetSystemMetrics(SM_CXFRAME), g = GetSystemMetrics(SM_CYFRAME);
    EXPECT_NEAR(rectOf(form.tbTo().hwnd()).right, client.right - 2 * f, 1);
    EXPECT_NEAR(send.right, client.right - 2 * f, 1);
    EXPECT_NEAR(rectOf(form.tbBody().hwnd()).right, client.right, 1);
    EXPECT_NEAR(send.bottom, client.bottom - 2 * g, 1);
    EXPECT_NEAR(rectOf(form.KT_CB_Cancel().hwnd()).right, send.left - 4 * f, 1);
    EXPECT_NEAR(rectOf(form.tbBody().hwnd()).bottom, send.top - 4 * g, 1);
}

// The messages sent to windows of this thread while it lives.
class SentMessages {
public:
    SentMessages() { active_ = this; }
    ~SentMessages() { active_ = nullptr; }  // the hook goes after
    std::vector<std::pair<HWND, UINT>> seen;

private:
    static LRESULT CALLBACK record(int code, WPARAM wParam, LPARAM lParam) {
        const auto* sent = reinterpret_cast<CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && active_) active_->seen.emplace_back(sent->hwnd, sent->message);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline SentMessages* active_ = nullptr;
    UniqueHandle<HandleTraits<HHOOK, &UnhookWindowsHookEx>> hook_{
        SetWindowsHookExW(WH_CALLWNDPROCRET, &record, nullptr, GetCurrentThreadId())};
};

TEST_F(ComposeWindowTest, LongTextsArriveWholeAndTheBodyIsSetOnceTheLayoutIsDone) {
    std::wstring body;
    while (body.size() < 200000) body += std::wstring(78, L'x') + L"\r\n";
    const std::wstring longTo(40000, L'y');  // beyond an edit field's default limit
    SentMessages messages;
    frmEmail& form = sendEMail(email.get(), body, longTo);
    EXPECT_TRUE(IsWindowVisible(form.hwnd()));
    EXPECT_EQ(form.tbTo().Text(), longTo);
    EXPECT_EQ(form.tbBody().Text(), body);
    int texts = 0;
    for (const auto& [window, message] : messages.seen) {
        if (window != form.tbBody().hwnd()) continue;
        texts += message == WM_SETTEXT;
        EXPECT_FALSE(texts && message == WM_WINDOWPOSCHANGED) << "the long text is laid out again";
    }
    EXPECT_EQ(texts, 1);
}

TEST_F(ComposeWindowTest, InformationLabelShowsTheSharedTextOfTheMomentOfOpening) {
    invoke(email.get(), L"InfoLabel", DISPATCH_PROPERTYPUT, {L"Add a note for your friend."});
    frmEmail& labelled = sendEMail(email.get(), L"");
    invoke(email.get(), L"InfoLabel", DISPATCH_PROPERTYPUT, {L"Changed later"});
    EXPECT_EQ(labelled.lbInfo().Text(), L"Add a note for your friend.");
    // A new instance empties the text all instances on the thread share.
    const ComPtr<IDispatch> second = newEmail();
    EXPECT_EQ(sendEMail(email.get(), L"").lbInfo().Text(), L"Type in any message you want to appear before the web page.");
}

TEST_F(ComposeWindowTest, CancelClosesOneTimerPeriodLaterAlsoAWindowNoInstanceListensTo) {
    const HWND replaced = sendEMail(email.get(), L"Body").hwnd();
    const HWND newest = sendEMail(email.get(), L"Body").hwnd();
    press(formOf<frmEmail>(newest)->KT_CB_Help());  // without its file: changes nothing
    pumpFor(50ms);
    press(formOf<frmEmail>(replaced)->KT_CB_Cancel());
    EXPECT_TRUE(IsWindowVisible(replaced));  // the handler ran to its end first
    EXPECT_TRUE(closes(replaced, 2000ms));
    pumpFor(200ms);  // the timer stopped after its one tick: the other window stays
    EXPECT_TRUE(IsWindow(newest));

    // Another SendEMail before the tick: the cancelled window closes all the same, the new one stays.
    press(formOf<frmEmail>(newest)->KT_CB_Cancel());
    const HWND third = sendEMail(email.get(), L"Body").hwnd();
    EXPECT_TRUE(closes(newest, 2000ms));
    pumpFor(100ms);
    ASSERT_TRUE(IsWindow(third));

    email.reset();
    press(formOf<frmEmail>(third)->KT_CB_Cancel());
    EXPECT_TRUE(closes(third, 2000ms));
    EXPECT_TRUE(noBox());
}

TEST_F(ComposeWindowTest, HelpShowsItsTopicFromAComponentFolderWhoseNameTheAnsiCodePageCannotWrite) {
#ifndef KT_TEST_HELP_FILE
    GTEST_SKIP() << "no help file: chmcmd was not found where this was built";
#else
    // The component and its help file installed in such a folder, and loaded from there.
    const std::wstring folder = windowsPathOf(KT_SMTP_CATCHERS_DIR) + L"\\installed \u5e2e\u52a9 \u0421\u043f\u0440\u0430\u0432\u043a\u0430";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(componentDllPath().c_str(), (folder + L"\\KT_EMailer.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(windowsPathOf(KT_TEST_HELP_FILE).c_str(), (folder + L"\\Ardwyn.chm").c_str(), FALSE));
    const HMODULE installed = LoadLibraryW((folder + L"\\KT_EMailer.dll").c_str());
    ASSERT_NE(installed, nullptr);
    const auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(installed, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
    ComPtr<IDispatch> fromThere;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, fromThere.putVoid()), S_OK);
    // Its window is the only one of the thread; its button captioned Help.
    ASSERT_EQ(invoke(fromThere.get(), L"SendEMail", DISPATCH_METHOD, {L"b", L"s", L"", L"", L""}), S_OK);
    const HWND window = findThreadWindow(kComposeCaption);
    ASSERT_NE(window, nullptr);
    SendMessageW(FindWindowExW(window, nullptr, nullptr, L"Help"), BM_CLICK, 0, 0);
    HWND viewer = nullptr;
    EXPECT_TRUE(pumpUntil([&] { return (viewer = FindWindowW(L"HH Parent", nullptr)) != nullptr; }, 5000ms));
    EXPECT_EQ(windowText(viewer), L"Ardwyn Help");
    DestroyWindow(viewer);
#endif
}

// Windows of our own on this thread, the message-only ones (timers) included.
std::size_t ourWindows() {
    std::size_t count = threadWindows(kComposeCaption).size();
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, L"KT_EMailer.MessageWindow", nullptr));)
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) ++count;
    return count;
}

TEST(PageInBackground, MakesThePageAndItsTextOnAThreadOfItsOwnForSendToJoinTheNotesTo) {
    const auto handedIn = std::make_shared<const std::wstring>(L"<p>the <a href=more.html>page</a></p>");
    const PageInBackground making(handedIn, L"http://intranet.invalid/news/", true);
    ASSERT_TRUE(making.wait(untilQuit()));
    EXPECT_EQ(*making.page(), L"<p>the <a href=\"http://intranet.invalid/news/more.html\">page</a></p>");
    ASSERT_TRUE(making.text());
    MailMessage message;
    message.body = composeMessageBody(L"A note", true);
    message.page = making.page();
    const auto part = making.text()->partFor(message);
    EXPECT_TRUE(part && part->rest);
    EXPECT_FALSE(making.pictureFetch());
}

TEST_F(ComposeWindowTest, OpenAndCancelCyclesLeaveNothingBehind) {
    email.reset();
    pumpFor(50ms);
    const std::size_t windows = ourWindows();
    const long moduleLocks = ModuleLock::count();
    std::vector<std::weak_ptr<Form>> forms;
    ComPtr<IDispatch> host = newEmail();
    for (int cycle = 0; cycle < 200; ++cycle) {
        // Half the cycles as a host with one instance, half with one per page, let go at once.
        email = cycle % 2 ? newEmail() : host;
        frmEmail& form = sendEMail(email.get(), L"Body");
        forms.push_back(form.shared_from_this());
        const HWND window = form.hwnd();
        press(form.KT_CB_Cancel());
        if (cycle % 2) email.reset();
        ASSERT_TRUE(closes(window, 2000ms)) << "cycle " << cycle;
    }
    email.reset();
    host.reset();
    pumpFor(50ms);
    EXPECT_EQ(ourWindows(), windows);
    EXPECT_EQ(ModuleLock::count(), moduleLocks);
    EXPECT_TRUE(std::all_of(forms.begin(), forms.end(), [](const auto& form) { return form.expired(); }))
        << "a window's object, with its timers and subscriptions, outlived the window";
}

}  // namespace
}  // namespace kt::test
