// The composition window as SendEMail opens it and as the user closes it.

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KT_EMailer.h"
#include "component/class_factory.h"
#include "compose/frmEmail.h"
#include "foundation/module.h"
#include "support/late_bound.h"
#include "support/message_pump.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

using namespace std::chrono_literals;
const wchar_t kCaption[] = L"Ardwyn E-Mail Message";

class ComposeWindowTest : public WindowsTest {
protected:
    void TearDown() override {
        for (HWND window : threadWindows(kCaption)) DestroyWindow(window);
    }

    static ComPtr<IDispatch> newEmail() {
        ComPtr<IClassFactory> factory;
        getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid());
        ComPtr<IDispatch> email;
        factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid());
        return email;
    }

    // Opens a window through SendEMail and returns it (the newest one).
    frmEmail& sendEMail(const std::wstring& body = L"Body", const std::wstring& to = L"a@example.com, Ann",
                        std::vector<Variant> flags = {}) {
        std::vector<Variant> arguments{Variant::text(body), Variant::text(L"A subject"), Variant::text(to),
                                       Variant::text(L"mail.example.com"), Variant::text(L"me@example.com")};
        for (auto& flag : flags) arguments.push_back(flag);
        const auto before = threadWindows(kCaption);
        EXPECT_EQ(callMethod(email.get(), L"SendEMail", arguments), S_OK);
        for (HWND window : threadWindows(kCaption))
            if (std::find(before.begin(), before.end(), window) == before.end()) return *formOf<frmEmail>(window);
        ADD_FAILURE() << "no new window";
        throw std::runtime_error("no window");
    }

    ComPtr<IDispatch> email = newEmail();
};

std::wstring tooltipOf(const frmEmail& form, const FormControl& control) {
    HWND tooltip = nullptr;
    while ((tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr)))
        if (GetWindow(tooltip, GW_OWNER) == form.hwnd()) break;
    if (!tooltip) return L"<no tooltip window>";
    wchar_t text[512] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = form.hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(control.hwnd());
    tool.lpszText = text;
    SendMessageW(tooltip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    return text;
}

LOGFONTW fontOf(const FormControl& control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control.hwnd(), WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

RECT clientRectOf(const frmEmail& form, const FormControl& control) {
    RECT r{};
    GetWindowRect(control.hwnd(), &r);
    MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(ComposeWindowTest, ShowsItsControlsInDesignOrderAndTabsThroughTheInputs) {
    frmEmail& form = sendEMail();
    EXPECT_EQ(windowText(form.hwnd()), kCaption);
    EXPECT_NE(SendMessageW(form.hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(GetWindowLongW(form.hwnd(), GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);

    // Z-order, and so drawing and tab order, follows the design.
    const std::pair<const wchar_t*, const wchar_t*> shown[] = {
        {L"Edit", L"a@example.com, Ann"}, {L"Edit", L""}, {L"Edit", L""}, {L"Edit", L"A subject"},
        {L"Button", L"Bcc"}, {L"Static", L"Subject:"}, {L"Button", L"cc"}, {L"Button", L"To"}, {L"Edit", L"Body"},
        {L"Static", L"Type in any message you want to appear before the web page."}, {L"Button", L"Send"},
        {L"Button", L"Cancel"}, {L"Static", L"Separate Multiple Addresses with a semi-colon (;)"},
        {L"Button", L"Help"}, {L"Static", L"Address Format: address, name.  i.e. "}};
    HWND child = GetWindow(form.hwnd(), GW_CHILD);
    for (const auto& [windowClass, text] : shown) {
        wchar_t actualClass[64] = {};
        GetClassNameW(child, actualClass, 64);
        EXPECT_EQ(lstrcmpiW(actualClass, windowClass), 0) << text;
        EXPECT_EQ(windowText(child).rfind(text, 0), 0u) << text;
        child = GetWindow(child, GW_HWNDNEXT);
    }

    const FormControl* tabOrder[] = {&form.tbTo(),     &form.tbcc(),       &form.tbBcc(),        &form.tbSubject(),
                                     &form.KT_CB_Bcc(), &form.KT_CB_CC(),  &form.KT_CB_To(),     &form.tbBody(),
                                     &form.KT_CB_Send(), &form.KT_CB_Cancel(), &form.KT_CB_Help(), &form.tbTo()};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        EXPECT_EQ(GetNextDlgTabItem(form.hwnd(), tabOrder[i - 1]->hwnd(), FALSE), tabOrder[i]->hwnd()) << i;
    EXPECT_EQ(GetWindowLongW(form.KT_CB_Send().hwnd(), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
    EXPECT_EQ(tooltipOf(form, form.KT_CB_Send()), L"Send the E-Mail Message");
}

TEST_F(ComposeWindowTest, TabMovesFocusWhateverMessageLoopTheHostRuns) {
    frmEmail& form = sendEMail();
    const auto pressTab = [] {
        const HWND focus = GetFocus();
        PostMessageW(focus, WM_KEYDOWN, VK_TAB, 0x000F0001);
        PostMessageW(focus, WM_KEYUP, VK_TAB, 0xC00F0001);
        pumpFor(30ms);
    };
    form.tbTo().SetFocus();
    pressTab();
    EXPECT_EQ(GetFocus(), form.tbcc().hwnd());
    form.tbBody().SetFocus();  // a multi-line field hands Tab on too
    pressTab();
    EXPECT_EQ(GetFocus(), form.KT_CB_Send().hwnd());
    EXPECT_EQ(form.tbBody().Text(), L"Body");
}

TEST_F(ComposeWindowTest, FontsFollowTheDesignAtTheScreensResolution) {
    frmEmail& form = sendEMail();
    const int dpi = static_cast<int>(1440.0f / form.twipsPerPixelY() + 0.5f);
    const std::pair<const FormControl*, int> fonts[] = {
        {&form.KT_CB_To(), 78}, {&form.KT_CB_Bcc(), 78}, {&form.KT_CB_Send(), 66}, {&form.Label11(), 66},
        {&form.Label1(), 66}};
    for (const auto& [control, tenthsOfPoints] : fonts) {
        const LOGFONTW font = fontOf(*control);
        EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif") << control->name();
        EXPECT_EQ(font.lfHeight, -MulDiv(tenthsOfPoints, dpi, 720)) << control->name();
        EXPECT_EQ(font.lfWeight, 400);
    }
    EXPECT_TRUE(GetWindowLongW(form.tbBody().hwnd(), GWL_STYLE) & ES_MULTILINE);
    EXPECT_TRUE(GetWindowLongW(form.tbBody().hwnd(), GWL_STYLE) & WS_VSCROLL);
    EXPECT_FALSE(GetWindowLongW(form.tbTo().hwnd(), GWL_STYLE) & ES_MULTILINE);

    // A button takes a new position at once.
    form.KT_CB_Help().Left(720);
    EXPECT_EQ(clientRectOf(form, form.KT_CB_Help()).left, twipsToPixels(720, form.twipsPerPixelX()));
    EXPECT_EQ(form.KT_CB_Help().Left(), 720.0f);
}

SIZE outerPixels(const frmEmail& form) {
    RECT r{};
    GetWindowRect(form.hwnd(), &r);
    return {r.right - r.left, r.bottom - r.top};
}

void resizeTo(const frmEmail& form, int width, int height) {
    SetWindowPos(form.hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

TEST_F(ComposeWindowTest, ShownAtTheMinimumSizeAndSnappingBackInTheDimensionThatWasTooSmall) {
    frmEmail& form = sendEMail();
    const int minimumWidth = twipsToPixels(5268, form.twipsPerPixelX());
    const int minimumHeight = twipsToPixels(5628, form.twipsPerPixelY());
    EXPECT_GE(outerPixels(form).cx, minimumWidth);
    EXPECT_EQ(outerPixels(form).cy, minimumHeight);  // the design is lower than the minimum

    resizeTo(form, 200, minimumHeight + 100);
    EXPECT_EQ(outerPixels(form).cx, minimumWidth);
    EXPECT_EQ(outerPixels(form).cy, minimumHeight + 100);
    resizeTo(form, minimumWidth + 150, 120);
    EXPECT_EQ(outerPixels(form).cx, minimumWidth + 150);
    EXPECT_EQ(outerPixels(form).cy, minimumHeight);
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(ComposeWindowTest, LayoutStretchesFieldsAndMovesOnlyTheButtonRow) {
    frmEmail& form = sendEMail();
    const std::vector<const FormControl*> unmoved{&form.KT_CB_To(), &form.KT_CB_CC(), &form.KT_CB_Bcc(),
                                                  &form.Label4()};
    std::vector<RECT> fixed;
    for (const FormControl* c : unmoved) fixed.push_back(clientRectOf(form, *c));
    const RECT helpBefore = clientRectOf(form, form.KT_CB_Help());

    resizeTo(form, 700, 600);
    const float f = static_cast<float>(GetSystemMetrics(SM_CXFRAME)) * form.twipsPerPixelX();
    const float g = static_cast<float>(GetSystemMetrics(SM_CYFRAME)) * form.twipsPerPixelY();
    const float c = static_cast<float>(GetSystemMetrics(SM_CYCAPTION)) * form.twipsPerPixelY();
    const float width = form.Width(), height = form.Height();
    EXPECT_FLOAT_EQ(form.tbTo().Width(), width - 600 - 4 * f);
    EXPECT_FLOAT_EQ(form.tbcc().Width(), form.tbTo().Width());
    EXPECT_FLOAT_EQ(form.tbBcc().Width(), form.tbTo().Width());
    EXPECT_FLOAT_EQ(form.tbBody().Width(), width - 120 - 2 * f);
    EXPECT_FLOAT_EQ(form.KT_CB_Send().Left(), width - 4 * f - 852);
    EXPECT_FLOAT_EQ(form.KT_CB_Cancel().Left(), form.KT_CB_Send().Left() - 852 - 4 * f);
    EXPECT_FLOAT_EQ(form.KT_CB_Send().Top(), height - c - 372 - 4 * g);
    EXPECT_FLOAT_EQ(form.KT_CB_Help().Top(), form.KT_CB_Send().Top());
    EXPECT_FLOAT_EQ(form.tbBody().Height(), form.KT_CB_Send().Top() - 2760 - 4 * g);
    EXPECT_FLOAT_EQ(form.tbTo().Left(), 600);
    EXPECT_FLOAT_EQ(form.tbBody().Top(), 2760);

    for (size_t i = 0; i < unmoved.size(); ++i) {
        const RECT now = clientRectOf(form, *unmoved[i]);
        EXPECT_TRUE(EqualRect(&now, &fixed[i])) << unmoved[i]->name();
    }
    const RECT helpAfter = clientRectOf(form, form.KT_CB_Help());
    EXPECT_EQ(helpAfter.left, helpBefore.left);
    EXPECT_GT(helpAfter.top, helpBefore.top);
    // The Send button's right edge keeps a margin of two frame widths inside the client area.
    RECT client{};
    GetClientRect(form.hwnd(), &client);
    EXPECT_NEAR(clientRectOf(form, form.KT_CB_Send()).right, client.right - 2 * GetSystemMetrics(SM_CXFRAME), 1);
}

TEST_F(ComposeWindowTest, SendEMailFillsTheWindowWithTextOfAnyLengthAndReturnsWithItOnScreen) {
    std::wstring longBody;
    while (longBody.size() < 100000) longBody += std::wstring(78, L'x') + L"\r\n";
    const std::wstring longTo(40000, L'y');  // beyond an edit field's default limit
    frmEmail& form = sendEMail(longBody, longTo);
    EXPECT_TRUE(IsWindowVisible(form.hwnd()));
    EXPECT_EQ(GetWindow(form.hwnd(), GW_OWNER), nullptr);
    EXPECT_EQ(form.tbTo().Text(), longTo);
    EXPECT_EQ(form.tbSubject().Text(), L"A subject");
    EXPECT_EQ(form.tbBody().Text(), longBody);
    EXPECT_EQ(form.tbcc().Text(), L"");
    EXPECT_EQ(form.tbBcc().Text(), L"");
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(ComposeWindowTest, InformationLabelShowsTheSharedTextOfTheMomentOfOpening) {
    EXPECT_EQ(sendEMail().lbInfo().Text(), L"Type in any message you want to appear before the web page.");

    putProperty(email.get(), L"InfoLabel", Variant::text(L"Add a note for your friend."));
    frmEmail& labelled = sendEMail();
    EXPECT_EQ(labelled.lbInfo().Text(), L"Add a note for your friend.");

    putProperty(email.get(), L"InfoLabel", Variant::text(L"Changed later"));
    EXPECT_EQ(labelled.lbInfo().Text(), L"Add a note for your friend.");

    // A second instance empties the text all instances on the thread share.
    const ComPtr<IDispatch> second = newEmail();
    Variant value;
    getProperty(email.get(), L"InfoLabel", value);
    EXPECT_EQ(value.asText(), L"");
    EXPECT_EQ(sendEMail().lbInfo().Text(), L"Type in any message you want to appear before the web page.");
}

TEST_F(ComposeWindowTest, CancelClosesTheWindowOneTimerPeriodLater) {
    frmEmail& form = sendEMail();
    const HWND window = form.hwnd();
    SendMessageW(form.KT_CB_Cancel().hwnd(), BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindow(window) && IsWindowVisible(window));  // the handler ran to its end first
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, 2000ms));

    // The timer stopped after its one tick: a new window is not closed by it.
    const HWND next = sendEMail().hwnd();
    pumpFor(200ms);
    EXPECT_TRUE(IsWindow(next));
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(ComposeWindowTest, FrameCloseUnloadsAtOnceAndTheNextSendEMailWorks) {
    const HWND window = sendEMail().hwnd();
    SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(window));

    frmEmail& next = sendEMail(L"again");
    pumpFor(100ms);
    EXPECT_TRUE(IsWindow(next.hwnd()));
    EXPECT_EQ(next.tbBody().Text(), L"again");
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(ComposeWindowTest, WindowsNoInstanceListensToCloseThemselvesAfterCancel) {
    const HWND replaced = sendEMail().hwnd();
    const HWND newest = sendEMail().hwnd();
    SendMessageW(formOf<frmEmail>(replaced)->KT_CB_Cancel().hwnd(), BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindowVisible(replaced));  // still there when the handler is done
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(replaced); }, 2000ms));

    email.reset();
    SendMessageW(formOf<frmEmail>(newest)->KT_CB_Cancel().hwnd(), BM_CLICK, 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(newest); }, 2000ms));
    EXPECT_TRUE(messageBoxes.shown.empty());
}

// The messages a window of this thread was sent, while it lives.
class SentMessages {
public:
    SentMessages() : hook_(SetWindowsHookExW(WH_CALLWNDPROCRET, &record, nullptr, GetCurrentThreadId())) {
        active_ = this;
    }
    ~SentMessages() {
        UnhookWindowsHookEx(hook_);
        active_ = nullptr;
    }
    std::vector<std::pair<HWND, UINT>> seen;

private:
    static LRESULT CALLBACK record(int code, WPARAM wParam, LPARAM lParam) {
        const auto* sent = reinterpret_cast<CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && active_) active_->seen.emplace_back(sent->hwnd, sent->message);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline SentMessages* active_ = nullptr;
    HHOOK hook_;
};

TEST_F(ComposeWindowTest, ALongBodyGoesInOnceTheLayoutIsDone) {
    std::wstring body;
    while (body.size() < 200000) body += std::wstring(78, L'x') + L"\r\n";
    SentMessages messages;
    const HWND field = sendEMail(body).tbBody().hwnd();
    bool hasText = false;
    for (const auto& [window, message] : messages.seen) {
        if (window != field) continue;
        if (message == WM_SETTEXT) hasText = true;
        EXPECT_FALSE(hasText && message == WM_WINDOWPOSCHANGED) << "the long text is laid out again";
    }
    EXPECT_TRUE(hasText);
}

// Windows of our own on this thread, the message-only ones (timers) included.
std::size_t ourWindows() {
    std::size_t count = threadWindows(kCaption).size();
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, L"KT_EMailer.MessageWindow", nullptr));)
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) ++count;
    return count;
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
        frmEmail& form = sendEMail();
        forms.push_back(form.shared_from_this());
        const HWND window = form.hwnd();
        SendMessageW(form.KT_CB_Cancel().hwnd(), BM_CLICK, 0, 0);
        if (cycle % 2) email.reset();
        ASSERT_TRUE(pumpUntil([&] { return !IsWindow(window); }, 2000ms)) << "cycle " << cycle;
    }
    email.reset();
    host.reset();
    pumpFor(50ms);
    EXPECT_EQ(ourWindows(), windows);
    EXPECT_EQ(ModuleLock::count(), moduleLocks);
    EXPECT_TRUE(std::all_of(forms.begin(), forms.end(), [](const auto& form) { return form.expired(); }))
        << "a window's object, with its timers and subscriptions, outlived the window";
}

TEST_F(ComposeWindowTest, HelpWithoutItsFileReturnsToTheWindow) {
    frmEmail& form = sendEMail();
    SendMessageW(form.KT_CB_Help().hwnd(), BM_CLICK, 0, 0);
    pumpFor(50ms);
    EXPECT_TRUE(IsWindow(form.hwnd()));
    EXPECT_TRUE(messageBoxes.shown.empty());
}

}  // namespace
}  // namespace kt::test
