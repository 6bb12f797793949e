// A host program as a browser is one: creates the registered component by
// its ProgID and opens the composition window through SendEMail.
//
//   browser_host               prints "served by <the DLL's path>" and ends
//                              (the installer tests run it for each architecture)
//   browser_host <state file>  keeps writing what is on its screen to the file
//                              as JSON (each visible window by caption, or by
//                              class when it has none: its screen rectangle, its
//                              controls by identifier with rectangle, text and
//                              the rows of a list) for the real-input driver;
//                              ends when "<state file>.quit" appears, or after
//                              two minutes.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "delivery/smtp/utf8.h"
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

std::wstring textOf(HWND hwnd, bool className = false) {
    wchar_t text[1024] = {};
    className ? GetClassNameW(hwnd, text, 1024) : GetWindowTextW(hwnd, text, 1024);
    return text;
}

BOOL CALLBACK describeChild(HWND child, LPARAM children) {
    std::string rows;
    const bool list = textOf(child, true) == L"ListBox";
    for (int row = 0; list && row < static_cast<int>(SendMessageW(child, LB_GETCOUNT, 0, 0)); ++row) {
        wchar_t item[256] = {};
        SendMessageW(child, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(item));
        rows += std::string(row ? ", " : "") + "{\"text\": " + quoted(item) + ", \"rect\": " + rectOf(child, row) + "}";
    }
    *reinterpret_cast<std::string*>(children) += quoted(std::to_wstring(GetDlgCtrlID(child))) + ": {\"rect\": " +
                                                 rectOf(child) + ", \"text\": " + quoted(textOf(child)) +
                                                 ", \"rows\": [" + rows + "]}, ";
    return TRUE;
}

BOOL CALLBACK describeWindow(HWND window, LPARAM windows) {
    if (!IsWindowVisible(window)) return TRUE;
    std::string children;
    EnumChildWindows(window, &describeChild, reinterpret_cast<LPARAM>(&children));
    const std::wstring caption = textOf(window);
    *reinterpret_cast<std::string*>(windows) += quoted(caption.empty() ? textOf(window, true) : caption) +
                                                ": {\"rect\": " + rectOf(window) + ", \"children\": {" +
                                                children.substr(0, children.size() - 2) + "}}, ";
    return TRUE;
}

void CALLBACK writeState(HWND, UINT, UINT_PTR, DWORD) {
    std::string windows;
    EnumThreadWindows(GetCurrentThreadId(), &describeWindow, reinterpret_cast<LPARAM>(&windows));
    const std::wstring partial = g_statePath + L".part";
    std::ofstream(kt::toUtf8(partial), std::ios::binary) << "{" << windows.substr(0, windows.size() - 2) << "}";
    MoveFileExW(partial.c_str(), g_statePath.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (GetFileAttributesW((g_statePath + L".quit").c_str()) != INVALID_FILE_ATTRIBUTES) PostQuitMessage(0);
}

void CALLBACK giveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(1); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    kt::ComApartment apartment;
    CLSID classId{};
    kt::ComPtr<IDispatch> mailer;
    if (FAILED(CLSIDFromProgID(L"KT_EMailer.cEmail", &classId)) ||
        FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, mailer.putVoid())) ||
        FAILED(kt::test::invoke(mailer.get(), L"SendEMail", DISPATCH_METHOD,
                                {L"A note", L"A page", L"", L"127.0.0.1:1", L"me@example.com"})))
        return std::puts("FAIL: KT_EMailer.cEmail cannot be created or SendEMail failed"), 1;
    const HWND window = kt::test::findThreadWindow(kt::test::kComposeCaption);
    if (!window || !IsWindowVisible(window)) return std::puts("FAIL: SendEMail opened no window"), 1;
    if (argc < 2) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(GetModuleHandleW(L"KT_EMailer.dll"), path, MAX_PATH);
        return std::printf("served by %ls\n", path), 0;
    }
    g_statePath = argv[1];
    SetTimer(nullptr, 0, 100, &writeState);
    SetTimer(nullptr, 0, 120000, &giveUp);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
