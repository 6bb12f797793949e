#include "controls/window.h"

#include "controls/handler_boundary.h"
#include "foundation/module.h"
#include "foundation/api_error.h"

namespace kt {
namespace {

const wchar_t* className(WindowClass windowClass) {
    return windowClass == WindowClass::Form ? L"KT_EMailer.Form" : L"KT_EMailer.MessageWindow";
}

void ensureRegistered(WindowClass windowClass, WNDPROC procedure) {
    WNDCLASSEXW existing{sizeof existing};
    if (GetClassInfoExW(thisModule(), className(windowClass), &existing)) return;

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = procedure;
    wc.hInstance = thisModule();
    wc.lpszClassName = className(windowClass);
    if (windowClass == WindowClass::Form) {
        wc.style = CS_DBLCLKS;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    }
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw apiError(GetLastError(), L"Registering the window class failed");
}

}  // namespace

Window::~Window() {
    // The derived part is gone: the window's last messages go to the default handling.
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

Window* Window::fromHandle(HWND hwnd) noexcept {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    for (WindowClass windowClass : {WindowClass::Form, WindowClass::MessageOnly})
        if (lstrcmpW(name, className(windowClass)) == 0 &&
            GetClassLongPtrW(hwnd, GCLP_HMODULE) == reinterpret_cast<ULONG_PTR>(thisModule()))
            return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return nullptr;
}

void Window::createWindow(WindowClass windowClass, DWORD exStyle, const std::wstring& caption, DWORD style, int x,
                          int y, int width, int height, HWND parent) {
    ensureRegistered(windowClass, &Window::windowProcedure);
    if (!CreateWindowExW(exStyle, className(windowClass), caption.c_str(), style, x, y, width, height, parent,
                         nullptr, thisModule(), this))
        throw apiError(GetLastError(), L"Creating the window failed");
}

void Window::destroyWindow() noexcept {
    if (hwnd_) DestroyWindow(hwnd_);
}

LRESULT Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    return defaultHandling(message, wParam, lParam);
}

LRESULT Window::defaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);

    LRESULT result = 0;
    runHandler(self->handlerName(), [&] { result = self->handle(message, wParam, lParam); });
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        // Last use of self: the object may be deleted inside.
        runHandler(self->handlerName(), [self] { self->onFinalMessage(); });
    }
    return result;
}

void unregisterWindowClasses() noexcept {
    for (WindowClass windowClass : {WindowClass::Form, WindowClass::MessageOnly})
        UnregisterClassW(className(windowClass), thisModule());
}

}  // namespace kt
