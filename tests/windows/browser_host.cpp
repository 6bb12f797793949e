// A host program as a browser is one: creates the registered component by
// its ProgID and opens the composition window through SendEMail.
//
//   browser_host               prints "served by <the DLL's path>" and ends
//                              (the installer tests run it for each architecture)
//   browser_host <state file>  keeps writing what is on its screen to the file
//                              for the real-input driver, a line for each visible
//                              window (by caption, or by class when it has none),
//                              each of its controls (by identifier) and each row
//                              of a list: caption, tab, what, tab, the screen
//                              rectangle, tab, the text; ends when
//                              "<state file>.quit" appears, or after two minutes.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "delivery/smtp/utf8.h"
#include "support/windows_test.h"

namespace {

std::wstring g_statePath;
std::wstring g_screen;

void item(const std::wstring& caption, const std::wstring& what, const RECT& r, std::wstring text) {
    for (wchar_t& c : text) c = c < 32 ? L' ' : c;
    g_screen += caption + L"\t" + what + L"\t" + std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom) + L"\t" + text + L"\n";
}

std::wstring textOf(HWND hwnd, bool className = false) {
    wchar_t text[1024] = {};
    className ? GetClassNameW(hwnd, text, 1024) : GetWindowTextW(hwnd, text, 1024);
    return text;
}

BOOL CALLBACK describeChild(HWND child, LPARAM caption) {
    const std::wstring& window = *reinterpret_cast<const std::wstring*>(caption);
    RECT r{};
    GetWindowRect(child, &r);
    item(window, std::to_wstring(GetDlgCtrlID(child)), r, textOf(child));
    const bool list = textOf(child, true) == L"ListBox";
    for (WPARAM row = 0; list && row < static_cast<WPARAM>(SendMessageW(child, LB_GETCOUNT, 0, 0)); ++row) {
        wchar_t text[256] = {};
        SendMessageW(child, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
        SendMessageW(child, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
        MapWindowPoints(child, nullptr, reinterpret_cast<POINT*>(&r), 2);
        item(window, std::wstring(L"row ") + text, r, L"");
    }
    return TRUE;
}

BOOL CALLBACK describeWindow(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) return TRUE;
    const std::wstring caption = textOf(window).empty() ? textOf(window, true) : textOf(window);
    RECT r{};
    GetWindowRect(window, &r);
    item(caption, L"", r, L"");
    EnumChildWindows(window, &describeChild, reinterpret_cast<LPARAM>(&caption));
    return TRUE;
}

void CALLBACK writeState(HWND, UINT, UINT_PTR, DWORD) {
    g_screen.clear();
    EnumThreadWindows(GetCurrentThreadId(), &describeWindow, 0);
    const std::wstring partial = g_statePath + L".part";
    std::ofstream(kt::toUtf8(partial), std::ios::binary) << kt::toUtf8(g_screen);
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
