#include "screen_report.h"

#include <windows.h>

#include "foundation/utf8.h"
#include "foundation/handles.h"

namespace demo {
namespace {

std::wstring textOf(HWND hwnd) {
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    if (!*text) GetClassNameW(hwnd, text, 1024);
    return text;
}

class Report {
public:
    void window(HWND window) {
        if (!IsWindowVisible(window)) return;
        caption_ = textOf(window);
        line(L"", window, L"");
        rows(window);  // a drop-down list is a window of its own
        EnumChildWindows(window, &Report::child, reinterpret_cast<LPARAM>(this));
    }
    const std::wstring& text() const { return text_; }

private:
    static BOOL CALLBACK child(HWND control, LPARAM report) {
        auto& self = *reinterpret_cast<Report*>(report);
        wchar_t text[1024] = {};
        GetWindowTextW(control, text, 1024);
        self.line(std::to_wstring(GetDlgCtrlID(control)), control, text);
        self.rows(control);
        return TRUE;
    }
    // A list box's rows, the selected ones marked "selected".
    void rows(HWND list) {
        wchar_t text[1024] = {}, className[32] = {};
        GetClassNameW(list, className, 32);
        if (lstrcmpiW(className, L"ListBox") != 0) return;
        const auto rows = static_cast<WPARAM>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (WPARAM row = 0; row < rows && SendMessageW(list, LB_GETTEXTLEN, row, 0) < 1024; ++row) {
            SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
            RECT r{};
            SendMessageW(list, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
            MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
            const bool selected = SendMessageW(list, LB_GETSEL, row, 0) > 0;
            line(std::wstring(L"row ") + text, r, selected ? L"selected" : L"");
        }
    }
    void line(const std::wstring& what, HWND hwnd, const std::wstring& text) {
        RECT r{};
        GetWindowRect(hwnd, &r);
        line(what, r, text);
    }
    void line(const std::wstring& what, const RECT& r, std::wstring text) {
        for (wchar_t& c : text) c = c < L' ' ? L' ' : c;  // one line each, whatever a field holds
        text_ += caption_ + L"\t" + what + L"\t" + std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                 std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom) + L"\t" + text + L"\n";
    }

    std::wstring caption_, text_;
};

BOOL CALLBACK reportWindow(HWND window, LPARAM report) {
    reinterpret_cast<Report*>(report)->window(window);
    return TRUE;
}

}  // namespace

void writeScreenReport(const std::wstring& path) {
    Report report;
    EnumThreadWindows(GetCurrentThreadId(), &reportWindow, reinterpret_cast<LPARAM>(&report));
    const std::wstring partial = path + L".part";
    const std::string bytes = kt::toUtf8(report.text());
    const HANDLE raw =
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (!WriteFile(kt::UniqueKernelHandle(raw).get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr))
        return;
    MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace demo
