// A host for the real-input test: opens the composition window through the
// registered component, then keeps writing what is on its screen to a state
// file as JSON (each visible window by caption, or by class when it has none:
// its screen rectangle, its controls by identifier with rectangle and text,
// the rows of a list), so that a driver outside can act on it with real mouse and
// keyboard input. Ends when "<state file>.quit" appears, or after two minutes.
//
//   real_input_host <state file>

#include <windows.h>

#include <fstream>
#include <string>

#include "delivery/smtp/utf8.h"
#include "foundation/handles.h"
#include "support/windows_test.h"

namespace {

std::wstring g_statePath;

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) out += c == L'"' || c == L'\\' ? "\\" + kt::toUtf8({c}) : c < 32 ? " " : kt::toUtf8({c});
    return out + "\"";
}

std::string rectOf(HWND hwnd, int row = -1) {
    RECT r{};
    if (row < 0) {
        GetWindowRect(hwnd, &r);
    } else {
        SendMessageW(hwnd, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
    }
    return "[" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + "]";
}

std::wstring textOf(HWND hwnd) {
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    return text;
}

std::wstring classOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

// Appends a JSON member to an object under way.
void member(std::string& object, const std::string& name, const std::string& value) {
    object += (object.size() > 1 ? ", " : "") + name + ": " + value;
}

BOOL CALLBACK describeChild(HWND child, LPARAM children) {
    std::string rows = "[";
    const int count = classOf(child) == L"ListBox" ? static_cast<int>(SendMessageW(child, LB_GETCOUNT, 0, 0)) : 0;
    for (int row = 0; row < count; ++row) {
        wchar_t item[256] = {};
        SendMessageW(child, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(item));
        rows += std::string(row ? ", " : "") + "{\"text\": " + quoted(item) + ", \"rect\": " + rectOf(child, row) + "}";
    }
    member(*reinterpret_cast<std::string*>(children), quoted(std::to_wstring(GetDlgCtrlID(child))),
           "{\"rect\": " + rectOf(child) + ", \"text\": " + quoted(textOf(child)) + ", \"rows\": " + rows + "]}");
    return TRUE;
}

BOOL CALLBACK describeWindow(HWND window, LPARAM windows) {
    if (!IsWindowVisible(window)) return TRUE;
    std::string children = "{";
    EnumChildWindows(window, &describeChild, reinterpret_cast<LPARAM>(&children));
    const std::wstring caption = textOf(window);
    member(*reinterpret_cast<std::string*>(windows), quoted(caption.empty() ? classOf(window) : caption),
           "{\"rect\": " + rectOf(window) + ", \"children\": " + children + "}}");
    return TRUE;
}

void CALLBACK writeState(HWND, UINT, UINT_PTR, DWORD) {
    std::string windows = "{";
    EnumThreadWindows(GetCurrentThreadId(), &describeWindow, reinterpret_cast<LPARAM>(&windows));
    const std::wstring partial = g_statePath + L".part";
    std::ofstream(kt::toUtf8(partial), std::ios::binary | std::ios::trunc) << windows << "}";
    MoveFileExW(partial.c_str(), g_statePath.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (GetFileAttributesW((g_statePath + L".quit").c_str()) != INVALID_FILE_ATTRIBUTES) PostQuitMessage(0);
}

void CALLBACK giveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(1); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    g_statePath = argv[1];
    kt::ComApartment apartment;
    CLSID classId{};
    kt::ComPtr<IDispatch> mailer;
    if (FAILED(CLSIDFromProgID(L"KT_EMailer.cEmail", &classId)) ||
        FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, mailer.putVoid())))
        return 3;
    if (FAILED(kt::test::invoke(mailer.get(), L"SendEMail", DISPATCH_METHOD,
                                {L"A note", L"Real input", L"", L"127.0.0.1:1", L"me@example.com"})))
        return 4;
    SetTimer(nullptr, 0, 100, &writeState);
    SetTimer(nullptr, 0, 120000, &giveUp);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
