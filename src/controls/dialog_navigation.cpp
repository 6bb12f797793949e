#include "controls/dialog_navigation.h"

#include <algorithm>
#include <vector>

namespace kt {
namespace {

// The thread's windows with navigation, and the message hook that serves
// them; the hook exists while the list is not empty.
struct NavigationState {
    std::vector<HWND> windows;
    HHOOK hook = nullptr;
};
thread_local NavigationState t_navigation;

LRESULT CALLBACK getMessageHook(int code, WPARAM removal, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message >= WM_KEYFIRST &&
        message->message <= WM_KEYLAST) {
        const HWND root = GetAncestor(message->hwnd, GA_ROOT);
        const auto& windows = t_navigation.windows;
        if (root && std::find(windows.begin(), windows.end(), root) != windows.end() &&
            IsDialogMessageW(root, message)) {
            // Handled as a dialog key: the loop that fetched it dispatches nothing.
            message->message = WM_NULL;
            message->wParam = 0;
            message->lParam = 0;
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

}  // namespace

DialogNavigation::DialogNavigation(HWND window) : window_(window) {
    if (t_navigation.windows.empty())
        t_navigation.hook = SetWindowsHookExW(WH_GETMESSAGE, &getMessageHook, nullptr, GetCurrentThreadId());
    t_navigation.windows.push_back(window_);
}

DialogNavigation::~DialogNavigation() {
    auto& windows = t_navigation.windows;
    windows.erase(std::remove(windows.begin(), windows.end(), window_), windows.end());
    if (windows.empty() && t_navigation.hook) {
        UnhookWindowsHookEx(t_navigation.hook);
        t_navigation.hook = nullptr;
    }
}

}  // namespace kt
