#pragma once
// Base of every window the component creates: one window procedure that finds
// the object and hands the message to its handle(), with failures stopped at
// that boundary.

#include <windows.h>

#include <string>

namespace kt {

enum class WindowClass {
    Form,         // top-level windows with controls
    MessageOnly,  // invisible receivers (timers)
};

class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND hwnd() const noexcept { return hwnd_; }

    // The object behind one of our windows; nullptr for any other window.
    static Window* fromHandle(HWND hwnd) noexcept;

protected:
    Window() = default;

    void createWindow(WindowClass windowClass, DWORD exStyle, const std::wstring& caption, DWORD style, int x,
                      int y, int width, int height, HWND parent);
    void destroyWindow() noexcept;

    virtual LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    // The name failures in this window's handlers are reported under.
    virtual const wchar_t* handlerName() const = 0;
    // Runs after the window is gone; may drop the last reference to this object.
    virtual void onFinalMessage() {}

    LRESULT defaultHandling(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};

// Removes the module's window classes; for the module's unloading, when no
// window of ours exists any more.
void unregisterWindowClasses() noexcept;

}  // namespace kt
