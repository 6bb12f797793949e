// A stand-in for the browser that embeds KT_EMailer: it shows a page and
// offers "E-mail this page", which creates cEmail through COM by its ProgID
// and hands it the page, as the browser does.
//
//   demo_host [--server host[:port]] [--from sender] [--to recipients]
//             [--plain] [--long-page] [--open] [--screen FILE] [--check]
//
// The page carries a picture (which goes inside the message) and a relative
// link (which arrives absolute, against the page's address).
// --long-page sends a page of some 2 MB, whose delivery takes a while.
// For unattended runs: --open runs the command at start; --screen keeps
// FILE describing what is on the screen (see screen_report.h) and ends the
// browser when FILE.quit appears; --check runs the command without a
// browser window and ends, with exit code 0 when the composition window opened.

#include <windows.h>

#include <string>

#include "KT_EMailer.h"
#include "foundation/handles.h"
#include "screen_report.h"

namespace {

constexpr WORD kEmailThisPage = 1;
constexpr UINT_PTR kScreenReportTimer = 1;
constexpr wchar_t kPageTitle[] = L"Ardwyn Browser - Welcome to Ardwyn";
constexpr wchar_t kPage[] =
    L"<html><head><title>Welcome to Ardwyn</title></head>\r\n"
    L"<body><h1>Welcome to Ardwyn</h1>\r\n"
    L"<p>This page stands for whatever the user is reading. Choose <b>E-mail this page</b> to send it on.</p>\r\n"
    L"<p><img src=\"data:image/gif;base64,R0lGODlhEAAQAPAAANAQEAAAACH5BAAAAAAALAAAAAAQABAAAAIOhI+py+0Po5y02ouzPgUAOw==\" "
    L"alt=\"Ardwyn's emblem\"> <a href=\"about.html\">About Ardwyn</a></p>\r\n"
    L"</body></html>\r\n";
// Where the page is, as the browser tells the component.
constexpr wchar_t kPageAddress[] = L"https://www.ardwyn.example/welcome.html";

struct Options {
    std::wstring server = L"127.0.0.1";
    std::wstring from = L"Ardwyn Reader <reader@example.com>";
    std::wstring to = L"friend@example.com, A Friend";
    std::wstring screenReport;
    bool html = true;
    bool longPage = false;
    bool openAtStart = false;
    bool check = false;
};

Options parseOptions() {
    Options options;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        const bool hasValue = i + 1 < count;
        if (argument == L"--server" && hasValue) options.server = arguments[++i];
        else if (argument == L"--from" && hasValue) options.from = arguments[++i];
        else if (argument == L"--to" && hasValue) options.to = arguments[++i];
        else if (argument == L"--plain") options.html = false;
        else if (argument == L"--long-page") options.longPage = true;
        else if (argument == L"--screen" && hasValue) options.screenReport = arguments[++i];
        else if (argument == L"--open") options.openAtStart = true;
        else if (argument == L"--check") options.check = true;
    }
    LocalFree(arguments);
    return options;
}

class DemoBrowser {
public:
    explicit DemoBrowser(Options options) : options_(std::move(options)) {}

    // What went wrong, or nothing.
    std::wstring emailThisPage() {
        if (!mailer_) {
            CLSID classId{};
            HRESULT hr = CLSIDFromProgID(L"KT_EMailer.cEmail", &classId);
            if (SUCCEEDED(hr))
                hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID__cEmail, mailer_.putVoid());
            if (FAILED(hr)) return failure(hr, L"KT_EMailer.cEmail could not be created.");
        }
        kt::Bstr label(L"Type a note for your friend; the page follows it.");
        BSTR labelText = label.get();
        mailer_->put_InfoLabel(&labelText);
        mailer_->put_PageURL(kt::Bstr(kPageAddress).get());
        const HRESULT hr = mailer_->SendEMail(
            kt::Bstr(page()).get(),
            kt::Bstr(L"Welcome to Ardwyn").get(), kt::Bstr(options_.to).get(), kt::Bstr(options_.server).get(),
            kt::Bstr(options_.from).get(), VARIANT_TRUE, options_.html ? VARIANT_TRUE : VARIANT_FALSE);
        return FAILED(hr) ? failure(hr, L"SendEMail failed.") : std::wstring();
    }

    void emailThisPage_Click(HWND window) {
        if (const std::wstring failure = emailThisPage(); !failure.empty())
            MessageBoxW(window, failure.c_str(), kPageTitle, MB_OK | MB_ICONERROR);
    }

    void screenReport_Tick(HWND window) const {
        demo::writeScreenReport(options_.screenReport);
        if (GetFileAttributesW((options_.screenReport + L".quit").c_str()) != INVALID_FILE_ATTRIBUTES)
            DestroyWindow(window);
    }

private:
    std::wstring page() const {
        std::wstring page =
            options_.html ? kPage : L"Welcome to Ardwyn\r\n\r\nThis page stands for whatever the user is reading.\r\n";
        if (options_.longPage) {
            std::wstring more;
            for (int i = 0; i < 30000; ++i) more += L"<p>Further down, the page goes on and on, as long pages do.</p>\r\n";
            page.insert(options_.html ? page.find(L"</body>") : page.size(), more);
        }
        return page;
    }

    static std::wstring failure(HRESULT hr, const std::wstring& what) {
        wchar_t hex[16];
        wsprintfW(hex, L"%08X", static_cast<unsigned>(hr));
        return what + L"\r\nHRESULT 0x" + hex;
    }

    Options options_;
    kt::ComPtr<_cEmail> mailer_;
};

BOOL CALLBACK findCompositionWindow(HWND window, LPARAM found) {
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    *reinterpret_cast<bool*>(found) |= IsWindowVisible(window) && lstrcmpW(caption, L"Ardwyn E-Mail Message") == 0;
    return TRUE;
}

// Whether this thread shows a composition window.
bool showsCompositionWindow() {
    bool found = false;
    EnumThreadWindows(GetCurrentThreadId(), &findCompositionWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

LRESULT CALLBACK browserWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* browser = reinterpret_cast<DemoBrowser*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
            break;
        case WM_CREATE: {
            CreateWindowExW(0, L"BUTTON", L"E-mail this page", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 8, 8, 140,
                            26, hwnd, reinterpret_cast<HMENU>(UINT_PTR{kEmailThisPage}), nullptr, nullptr);
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", kPage,
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 8, 42, 560, 300, hwnd,
                            nullptr, nullptr, nullptr);
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == kEmailThisPage && browser) browser->emailThisPage_Click(hwnd);
            return 0;
        case WM_TIMER:
            if (wParam == kScreenReportTimer && browser) browser->screenReport_Tick(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
    kt::ComApartment apartment;
    const Options options = parseOptions();
    DemoBrowser browser(options);
    if (options.check) return browser.emailThisPage().empty() && showsCompositionWindow() ? 0 : 1;

    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = browserWindow;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"ArdwynDemoBrowser";
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, kPageTitle, WS_OVERLAPPEDWINDOW, 40, 40, 600, 400, nullptr,
                                  nullptr, instance, &browser);
    ShowWindow(window, show);
    if (options.openAtStart) PostMessageW(window, WM_COMMAND, kEmailThisPage, 0);
    if (!options.screenReport.empty()) SetTimer(window, kScreenReportTimer, 100, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
