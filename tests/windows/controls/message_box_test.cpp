// Without a recorder the component shows the real message box.

#include "controls/message_box.h"

#include <gtest/gtest.h>

#include "support/windows_test.h"

namespace kt::test {
namespace {

// Closes the next message box of this thread with OK and keeps what it showed.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CBT, &MessageBoxWatcher::hook, nullptr, GetCurrentThreadId());
    }
    ~MessageBoxWatcher() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }

    std::wstring text, title;
    bool hasIcon = false;

private:
    static LRESULT CALLBACK hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) {
            const auto box = reinterpret_cast<HWND>(wParam);
            wchar_t windowClass[16] = {};
            GetClassNameW(box, windowClass, 16);
            if (lstrcmpW(windowClass, L"#32770") == 0) {
                wchar_t buffer[512] = {};
                GetDlgItemTextW(box, 0xFFFF, buffer, 512);
                current_->text = buffer;
                current_->title = windowText(box);
                // The icon's control is 20 on Windows, 1088 under Wine.
                for (int iconId : {20, 1088})
                    if (SendDlgItemMessageW(box, iconId, STM_GETICON, 0, 0)) current_->hasIcon = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline MessageBoxWatcher* current_ = nullptr;
    HHOOK hook_;
};

TEST(MessageBoxSeam, WithoutResponderShowsTheRealBox) {
    MessageBoxWatcher watcher;
    EXPECT_EQ(showMessageBox(L"Something to say", L"Error", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(watcher.text, L"Something to say");
    EXPECT_EQ(watcher.title, L"Error");
    EXPECT_TRUE(watcher.hasIcon);
}

}  // namespace
}  // namespace kt::test
