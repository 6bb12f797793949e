// A host for the real-input test: opens the composition window through the
// registered component, then keeps writing what is on its screen (windows,
// controls with their screen rectangles and texts, list rows) to a state
// file, so that a driver outside can act on it with real mouse and keyboard
// input. Ends when "<state file>.quit" appears, or after two minutes.
//
//   real_input_host <state file>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "foundation/handles.h"
#include "delivery/smtp/utf8.h"
#include "support/late_bound.h"

namespace {

std::wstring g_statePath;

std::string text(HWND hwnd) {
    std::wstring buffer(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    buffer.resize(static_cast<size_t>(GetWindowTextW(hwnd, buffer.data(), static_cast<int>(buffer.size()))));
    for (auto& c : buffer)
        if (c == L'\r' || c == L'\n' || c == L'|') c = L' ';
    return kt::toUtf8(buffer);
}

std::string rectText(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

std::string className(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

BOOL CALLBACK describeChild(HWND child, LPARAM out) {
    auto& state = *reinterpret_cast<std::ostringstream*>(out);
    RECT r{};
    GetWindowRect(child, &r);
    state << "child " << GetDlgCtrlID(child) << "|" << className(child) << "|" << rectText(r) << "|" << text(child)
          << "\n";
    if (className(child) == "ListBox") {
        const int count = static_cast<int>(SendMessageW(child, LB_GETCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            wchar_t item[256] = {};
            SendMessageW(child, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(item));
            RECT itemRect{};
            SendMessageW(child, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&itemRect));
            MapWindowPoints(child, nullptr, reinterpret_cast<POINT*>(&itemRect), 2);
            state << "row " << row << "|" << kt::toUtf8(item) << "|" << rectText(itemRect) << "|"
                  << (SendMessageW(child, LB_GETSEL, static_cast<WPARAM>(row), 0) > 0 ? "selected" : "") << "\n";
        }
    }
    return TRUE;
}

BOOL CALLBACK describeWindow(HWND window, LPARAM out) {
    if (!IsWindowVisible(window)) return TRUE;
    auto& state = *reinterpret_cast<std::ostringstream*>(out);
    RECT r{};
    GetWindowRect(window, &r);
    state << "window " << text(window) << "|" << className(window) << "|" << rectText(r) << "\n";
    EnumChildWindows(window, &describeChild, out);
    return TRUE;
}

void CALLBACK writeState(HWND, UINT, UINT_PTR, DWORD) {
    std::ostringstream state;
    EnumThreadWindows(GetCurrentThreadId(), &describeWindow, reinterpret_cast<LPARAM>(&state));
    const std::wstring partial = g_statePath + L".part";
    {
        std::ofstream file(kt::toUtf8(partial), std::ios::binary | std::ios::trunc);
        file << state.str() << "end\n";
    }
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
