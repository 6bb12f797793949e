#include "controls/dialog_navigation.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace kt {
namespace {

struct NavigatedWindow {
    HWND window;
    HWND tooltip;
};

// The thread's windows with navigation, and the message hook that serves
// them; the hook exists while the list is not empty.
struct NavigationState {
    std::vector<NavigatedWindow> windows;
    HHOOK hook = nullptr;
};
thread_local NavigationState t_navigation;

const NavigatedWindow* navigatedWindowOf(HWND hwnd) {
    const HWND root = hwnd ? GetAncestor(hwnd, GA_ROOT) : nullptr;
    if (!root) return nullptr;
    for (const auto& navigated : t_navigation.windows)
        if (navigated.window == root) return &navigated;
    return nullptr;
}

bool isKeyMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

// Escape means nothing in our windows; as a dialog key a multi-line field
// would answer it by closing the window, with all that was typed in it. A
// one-line field asks for every key only for the moment it has a use for
// them (its suggestions are open), and then gets Escape too.
bool isEscapeForNoOne(const MSG& message) {
    const bool escape = (message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR) &&
                        message.wParam == VK_ESCAPE;
    if (!escape) return false;
    wchar_t windowClass[8] = {};
    GetClassNameW(message.hwnd, windowClass, 8);
    const bool multiLine = lstrcmpiW(windowClass, L"Edit") == 0 &&
                           (GetWindowLongW(message.hwnd, GWL_STYLE) & ES_MULTILINE) != 0;
    const auto wants = SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam,
                                    reinterpret_cast<LPARAM>(&message));
    return multiLine || !(wants & DLGC_WANTALLKEYS);
}
bool isMouseMessage(UINT message) { return message >= WM_MOUSEFIRST && message <= WM_MOUSELAST; }

LRESULT CALLBACK getMessageHook(int code, WPARAM removal, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE &&
        (isKeyMessage(message->message) || isMouseMessage(message->message))) {
        if (const NavigatedWindow* navigated = navigatedWindowOf(message->hwnd)) {
            if (isMouseMessage(message->message)) {
                if (navigated->tooltip)
                    SendMessageW(navigated->tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message));
            } else if (isEscapeForNoOne(*message) || IsDialogMessageW(navigated->window, message)) {
                // Handled as a dialog key: the loop that fetched it dispatches nothing.
                message->message = WM_NULL;
                message->wParam = 0;
                message->lParam = 0;
            }
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

}  // namespace

DialogNavigation::DialogNavigation(HWND window, HWND tooltip) : window_(window) {
    if (t_navigation.windows.empty())
        t_navigation.hook = SetWindowsHookExW(WH_GETMESSAGE, &getMessageHook, nullptr, GetCurrentThreadId());
    t_navigation.windows.push_back({window_, tooltip});
}

DialogNavigation::~DialogNavigation() {
    auto& windows = t_navigation.windows;
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [this](const NavigatedWindow& navigated) { return navigated.window == window_; }),
                  windows.end());
    if (windows.empty() && t_navigation.hook) {
        UnhookWindowsHookEx(t_navigation.hook);
        t_navigation.hook = nullptr;
    }
}

}  // namespace kt
