// Times the component as a host and its user meet it, under Wine or Windows:
// the window on screen after SendEMail next to its controls made bare, long bodies
// next to a bare edit control, many open-and-cancel cycles, Send to the
// window gone, the address picker with a large address book next to the
// bare registry calls under it, and the suggestions while typing in To with
// that book next to a bare list shown. Prints figures; judges nothing.
//
//   component_bench [--server host:port] [--entries N]
//   component_bench --server host:port --page-file PATH --page-url URL
//   component_bench --server host:port --memory MEGABYTES
//
// The last: the process's memory before SendEMail with a page of that size
// and its peak through Send, as the component's own share of memory.
//
// Uses the registered component by its ProgID; seeds the current user's
// address book (run it in a prefix of its own).

#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr wchar_t kComposeCaption[] = L"Ardwyn E-Mail Message";
constexpr wchar_t kPickerCaption[] = L"Ardwyn Address Picker";
constexpr wchar_t kBookKey[] = L"Software\\Veltrano\\Ardwyn\\E_MailList";
constexpr WORD kDeleteMenuItem = 200;  // the picker's "Delete this EMail Address"

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool pumpUntil(const std::function<bool()>& done, int limitMs = 30000) {
    const auto start = Clock::now();
    while (!done()) {
        if (millisecondsSince(start) > limitMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        pump();
    }
    return true;
}

HWND findChild(HWND window, const wchar_t* text) { return FindWindowExW(window, nullptr, nullptr, text); }

// The component through IDispatch, as a late-bound host calls it.
class Mailer {
public:
    Mailer() {
        CLSID classId{};
        if (FAILED(CLSIDFromProgID(L"KT_EMailer.cEmail", &classId)) ||
            FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(&object_)))) {
            std::fprintf(stderr, "KT_EMailer.cEmail is not registered\n");
            ExitProcess(2);
        }
        LPOLESTR name = const_cast<LPOLESTR>(L"SendEMail");
        object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &sendEMail_);
    }
    ~Mailer() { object_->Release(); }

    // SendEMail(body, subject, to, server, from, showError, html); arguments go in reverse.
    void SendEMail(const std::wstring& body, const std::wstring& server, bool html = false) {
        const std::wstring_view texts[] = {L"me@example.com", server, L"ann@example.com,Ann", L"A subject", body};
        VARIANT arguments[7];
        V_VT(&arguments[0]) = VT_BOOL;
        V_BOOL(&arguments[0]) = html ? VARIANT_TRUE : VARIANT_FALSE;
        V_VT(&arguments[1]) = VT_BOOL;
        V_BOOL(&arguments[1]) = VARIANT_TRUE;
        for (int i = 0; i < 5; ++i) {
            V_VT(&arguments[2 + i]) = VT_BSTR;
            V_BSTR(&arguments[2 + i]) = SysAllocStringLen(texts[i].data(), static_cast<UINT>(texts[i].size()));
        }
        DISPPARAMS parameters{arguments, nullptr, 7, 0};
        object_->Invoke(sendEMail_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr, nullptr,
                        nullptr);
        for (VARIANT& argument : arguments) VariantClear(&argument);
    }

    void PageURL(const std::wstring& address) {
        LPOLESTR name = const_cast<LPOLESTR>(L"PageURL");
        DISPID property = 0, named = DISPID_PROPERTYPUT;
        object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &property);
        VARIANT value;
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocStringLen(address.data(), static_cast<UINT>(address.size()));
        DISPPARAMS parameters{&value, &named, 1, 1};
        object_->Invoke(property, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters, nullptr, nullptr,
                        nullptr);
        VariantClear(&value);
    }

private:
    IDispatch* object_ = nullptr;
    DISPID sendEMail_ = 0;
};

void closeComposeWindows() {
    while (HWND window = FindWindowW(nullptr, kComposeCaption)) DestroyWindow(window);
    pump();
}

// Presses a button of the newest compose window and waits until the window is gone.
double pressAndWaitGone(const wchar_t* button) {
    const HWND window = FindWindowW(nullptr, kComposeCaption);
    const auto start = Clock::now();
    SendMessageW(findChild(window, button), BM_CLICK, 0, 0);
    pumpUntil([&] { return !IsWindow(window); });
    return millisecondsSince(start);
}

std::wstring bodyOf(std::size_t characters) {
    std::wstring body;
    body.reserve(characters + 80);
    while (body.size() < characters) body += std::wstring(78, L'x') + L"\r\n";
    return body;
}

// The floor under a long body: a bare multi-line field with the styles, the
// size and the font of the window's, its text set as the window sets it.
double bareEditMs(const std::wstring& text) {
    const HWND frame = CreateWindowExW(0, L"STATIC", L"bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 360, 380,
                                       nullptr, nullptr, nullptr, nullptr);
    const HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                          ES_WANTRETURN,
                                      8, 184, 329, 113, frame, nullptr, nullptr, nullptr);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    pump();
    const auto start = Clock::now();
    SetWindowTextW(edit, text.c_str());
    const double elapsed = millisecondsSince(start);
    DestroyWindow(frame);
    DeleteObject(font);
    pump();
    return elapsed;
}

// What a compose window is made of, read from one on screen: the frame, and
// each control's class, styles, place, text, font and tooltip.
struct ControlMade {
    std::wstring windowClass, text, tooltip;
    DWORD style = 0, exStyle = 0;
    RECT at{};
    int font = -1;  // in WindowMade::fonts
};
struct WindowMade {
    std::wstring caption;
    DWORD style = 0, exStyle = 0;
    SIZE size{};
    std::vector<LOGFONTW> fonts;
    std::vector<ControlMade> controls;
};

struct TooltipSearch {
    HWND owner, tooltip = nullptr;
};

BOOL CALLBACK findTooltip(HWND candidate, LPARAM found) {
    auto& search = *reinterpret_cast<TooltipSearch*>(found);
    wchar_t name[64] = {};
    GetClassNameW(candidate, name, 64);
    if (GetWindow(candidate, GW_OWNER) == search.owner && lstrcmpiW(name, TOOLTIPS_CLASSW) == 0)
        search.tooltip = candidate;
    return TRUE;
}

HWND tooltipOf(HWND window) {
    TooltipSearch search{window};
    EnumThreadWindows(GetCurrentThreadId(), &findTooltip, reinterpret_cast<LPARAM>(&search));
    return search.tooltip;
}

WindowMade readWindow(HWND window) {
    WindowMade made;
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    made.caption = text;
    made.style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)) & ~WS_VISIBLE;
    made.exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT outer{};
    GetWindowRect(window, &outer);
    made.size = {outer.right - outer.left, outer.bottom - outer.top};
    const HWND tooltip = tooltipOf(window);
    for (HWND control = GetWindow(window, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        ControlMade row;
        GetClassNameW(control, text, 1024);
        row.windowClass = text;
        GetWindowTextW(control, text, 1024);
        row.text = text;
        row.style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
        row.exStyle = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_EXSTYLE));
        GetWindowRect(control, &row.at);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&row.at), 2);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
        const auto known = std::find_if(made.fonts.begin(), made.fonts.end(), [&](const LOGFONTW& other) {
            return std::memcmp(&other, &font, sizeof font) == 0;
        });
        row.font = static_cast<int>(known - made.fonts.begin());
        if (known == made.fonts.end()) made.fonts.push_back(font);
        TTTOOLINFOW tool{TTTOOLINFOW_V2_SIZE, TTF_IDISHWND, window, reinterpret_cast<UINT_PTR>(control)};
        text[0] = L'\0';
        tool.lpszText = text;
        if (tooltip) SendMessageW(tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
        row.tooltip = text;
        made.controls.push_back(row);
    }
    return made;
}

// The floor under the compose window: the same frame and controls made bare
// as it makes them (the window, a tooltip control, each control with its
// font and tooltip) and shown, with nothing else done.
double bareWindowMs(const WindowMade& made) {
    static const ATOM frameClass = [] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = L"BareComposeWindow";
        return RegisterClassExW(&wc);
    }();
    const auto start = Clock::now();
    const HWND frame = CreateWindowExW(made.exStyle, MAKEINTATOM(frameClass), made.caption.c_str(), made.style,
                                       CW_USEDEFAULT, CW_USEDEFAULT, made.size.cx, made.size.cy, nullptr, nullptr,
                                       nullptr, nullptr);
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    const HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, frame, nullptr,
                                         nullptr, nullptr);
    std::vector<HFONT> fonts;
    for (const LOGFONTW& font : made.fonts) fonts.push_back(CreateFontIndirectW(&font));
    for (const ControlMade& row : made.controls) {
        const HWND control = CreateWindowExW(row.exStyle, row.windowClass.c_str(), row.text.c_str(), row.style,
                                             row.at.left, row.at.top, row.at.right - row.at.left,
                                             row.at.bottom - row.at.top, frame, nullptr, nullptr, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[static_cast<std::size_t>(row.font)]), FALSE);
        if (row.tooltip.empty()) continue;
        TTTOOLINFOW tool{TTTOOLINFOW_V2_SIZE, TTF_IDISHWND, frame, reinterpret_cast<UINT_PTR>(control)};
        tool.lpszText = const_cast<wchar_t*>(row.tooltip.c_str());
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    ShowWindow(frame, SW_SHOW);
    const double elapsed = millisecondsSince(start);
    DestroyWindow(frame);
    for (HFONT font : fonts) DeleteObject(font);
    pump();
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Writes a book of this many entries as another program would; the time the
// bare writes took, the floor under a deletion that renumbers them all.
double seedAddressBook(int entries) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kBookKey);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kBookKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const auto start = Clock::now();
    for (int i = 0; i < entries; ++i) {
        const std::wstring record = L"person" + std::to_wstring(i) + L"@example.com,Person " + std::to_wstring(i);
        RegSetValueExW(key, std::to_wstring(i).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(record.c_str()),
                       static_cast<DWORD>((record.size() + 1) * sizeof(wchar_t)));
    }
    const double elapsed = millisecondsSince(start);
    RegCloseKey(key);
    return elapsed;
}

// An entry written as another window adds one.
void addEntry(const std::wstring& record) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kBookKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key);
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr);
    RegSetValueExW(key, std::to_wstring(count).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(record.c_str()),
                   static_cast<DWORD>((record.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Every value of the book read once, one call each: the floor under opening the picker.
double bareBookReadMs() {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kBookKey, 0, KEY_READ, &key);
    const auto start = Clock::now();
    wchar_t name[32];
    BYTE data[1024];
    for (DWORD i = 0, nameLength = 32, size = sizeof data;
         RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, data, &size) == ERROR_SUCCESS;
         ++i, nameLength = 32, size = sizeof data) {
    }
    const double elapsed = millisecondsSince(start);
    RegCloseKey(key);
    return elapsed;
}

DWORD bookValueCount() {
    DWORD count = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBookKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
    }
    return count;
}

// What the hook below is to do once the picker is on screen.
struct PickerRun {
    Clock::time_point pressed;
    double openMs = -1;
    double deleteMs = -1;
    bool deleteOne = false;
    Clock::time_point boxAnswered;
    HHOOK hook = nullptr;
} g_run;

LRESULT CALLBACK watchActivation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t caption[64] = {};
        GetWindowTextW(window, caption, 64);
        wchar_t windowClass[16] = {};
        GetClassNameW(window, windowClass, 16);
        if (g_run.openMs < 0 && lstrcmpW(caption, kPickerCaption) == 0) {
            g_run.openMs = millisecondsSince(g_run.pressed);
            PostMessageW(window, WM_APP, 0, 0);  // act once the picker's own loop runs
        } else if (lstrcmpW(windowClass, L"#32770") == 0) {
            g_run.boxAnswered = Clock::now();
            PostMessageW(window, WM_COMMAND, IDYES, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs in the picker's modal loop: deletes its first row if asked, then cancels.
void CALLBACK actInPicker(HWND, UINT, UINT_PTR id, DWORD) {
    const HWND picker = FindWindowW(nullptr, kPickerCaption);
    if (!picker || g_run.openMs < 0) return;
    KillTimer(nullptr, id);
    if (g_run.deleteOne) {
        const HWND list = FindWindowExW(picker, nullptr, L"ListBox", nullptr);
        SendMessageW(list, LB_SETSEL, TRUE, 0);
        SendMessageW(list, LB_SETCARETINDEX, 0, FALSE);
        SendMessageW(picker, WM_COMMAND, MAKEWPARAM(100, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        SendMessageW(picker, WM_COMMAND, MAKEWPARAM(kDeleteMenuItem, 0), 0);
        g_run.deleteMs = millisecondsSince(g_run.boxAnswered);
    }
    SendMessageW(findChild(picker, L"Cancel"), BM_CLICK, 0, 0);
}

// Opens the picker with To and times it; optionally deletes its first row.
void runPicker(bool deleteOne) {
    g_run = {};
    g_run.deleteOne = deleteOne;
    g_run.hook = SetWindowsHookExW(WH_CBT, &watchActivation, nullptr, GetCurrentThreadId());
    SetTimer(nullptr, 0, 10, &actInPicker);
    g_run.pressed = Clock::now();
    SendMessageW(findChild(FindWindowW(nullptr, kComposeCaption), L"To"), BM_CLICK, 0, 0);
    UnhookWindowsHookEx(g_run.hook);
}

// A bare drop-down of ten rows made and shown: the floor under a suggestion list.
double bareListMs() {
    const auto start = Clock::now();
    const HWND list = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, L"LISTBOX", L"bare",
                                      WS_POPUP | WS_BORDER | LBS_NOINTEGRALHEIGHT, 0, 0, 300, 160, nullptr, nullptr,
                                      nullptr, nullptr);
    for (int i = 0; i < 10; ++i) {
        const std::wstring row = L"Person " + std::to_wstring(i) + L"  <person" + std::to_wstring(i) + L"@example.com>";
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
    ShowWindow(list, SW_SHOWNOACTIVATE);
    pump();
    const double elapsed = millisecondsSince(start);
    DestroyWindow(list);
    pump();
    return elapsed;
}

// One character typed in the field, to its suggestions painted.
double typeMs(HWND field, wchar_t character) {
    const auto start = Clock::now();
    SendMessageW(field, WM_CHAR, character, 1);
    pump();
    return millisecondsSince(start);
}

struct Typing {
    double focusMs, firstMs, slowestOfTwentyMs, twentyMs, changeReadMs, afterChangeMs;
    bool listShown;
};

// In To of a fresh window, just after the book was written: the focus
// coming (the book read again there), the first letter, twenty letters in a
// row, the book read again when another window added an entry, and a letter
// after that.
Typing typeInTo(Mailer& mailer, const std::wstring& server) {
    mailer.SendEMail(L"suggestions", server);
    const HWND window = FindWindowW(nullptr, kComposeCaption);
    const HWND to = GetDlgItem(window, 100);
    SetWindowTextW(to, L"");
    Typing typing{};
    const auto focusing = Clock::now();
    SetFocus(to);
    pump();
    typing.focusMs = millisecondsSince(focusing);
    typing.firstMs = typeMs(to, L'p');
    const HWND list = FindWindowW(nullptr, L"Ardwyn Address Suggestions");
    typing.listShown = list && IsWindowVisible(list);
    SetWindowTextW(to, L"");
    for (const wchar_t character : std::wstring(L"person4321@example.c")) {
        const double took = typeMs(to, character);
        typing.twentyMs += took;
        typing.slowestOfTwentyMs = std::max(typing.slowestOfTwentyMs, took);
    }
    addEntry(L"added@example.com,Added");
    Sleep(50);  // for the change notification's message
    const auto reading = Clock::now();
    pump();
    typing.changeReadMs = millisecondsSince(reading);
    typing.afterChangeMs = typeMs(to, L'o');
    closeComposeWindows();
    return typing;
}

}  // namespace

// Milliseconds since 1970, as the other programs of the bench read the clock.
double wallClockMs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ULL) / 10000.0;
}

// The process's memory in use now and at its peak so far, in MB: its working
// set, since Wine keeps no peak of the private bytes (its PeakPagefileUsage
// is the current figure, and PrivateUsage is 0).
struct MemoryInUse {
    double now = 0, peak = 0;
};
MemoryInUse memoryInUse() {
    PROCESS_MEMORY_COUNTERS counters{sizeof counters};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {counters.WorkingSetSize / 1e6, counters.PeakWorkingSetSize / 1e6};
}

// The most memory in use while it runs, looked at every 2 ms from a thread
// of its own: the process's peak counts from its start, and Wine's is the
// only one it keeps.
class MemoryWatch {
public:
    MemoryWatch() : thread_(CreateThread(nullptr, 0, &MemoryWatch::watch, this, 0, nullptr)) {}
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;
    ~MemoryWatch() { most(); }
    double most() {
        if (thread_) {
            done_ = true;
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        return most_;
    }

private:
    static DWORD WINAPI watch(void* self) {
        auto& watch = *static_cast<MemoryWatch*>(self);
        for (; !watch.done_; Sleep(2)) watch.most_ = std::max(watch.most_, memoryInUse().now);
        return 0;
    }
    std::atomic<bool> done_{false};
    double most_ = 0;
    HANDLE thread_;
};

// A page with pictures from a web server: when SendEMail handed it over (the
// fetch's end is in the server's log), then Send to the window gone with its
// pictures fetched, next to the same page without an address (nothing fetched).
void measurePage(Mailer& mailer, const std::wstring& server, const std::wstring& pageFile, const std::wstring& url) {
    std::wstring page;
    if (FILE* file = _wfopen(pageFile.c_str(), L"rb")) {
        std::string bytes;
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
        std::fclose(file);
        page.assign(bytes.begin(), bytes.end());  // the pages of the bench are ASCII
    }
    std::vector<double> withPictures, without;
    const MemoryInUse before = memoryInUse();
    MemoryWatch watch;
    for (int run = 0; run < 5; ++run) {
        mailer.PageURL(url);
        std::printf("page handed over at %.1f\n", wallClockMs());
        mailer.SendEMail(page, server, true);
        pumpUntil([] { return false; }, 3000);  // the fetch is done by then
        withPictures.push_back(pressAndWaitGone(L"Send"));
        mailer.PageURL(L"");
        mailer.SendEMail(page, server, true);
        pumpUntil([] { return false; }, 500);
        without.push_back(pressAndWaitGone(L"Send"));
    }
    std::printf("Send to the window gone, the pictures fetched: %.1f ms; the page without them: %.1f ms "
                "(medians of 5)\n", median(withPictures), median(without));
    std::printf("memory in use: %.0f MB before the first SendEMail, at most %.0f MB through the ten sends\n",
                before.now, watch.most());
}

// A page of table rows, as the delivery benchmark sends, of `bytes` characters.
std::wstring tablePage(std::size_t bytes) {
    const std::wstring row = L"<tr><td>Ardwyn</td><td>a row of the page that is mailed</td></tr>\r\n";
    std::wstring page;
    page.reserve(bytes + row.size() + 32);
    page = L"<html><body><table>\r\n";
    while (page.size() < bytes) page += row;
    return page;
}

// The component's own peak with a page of `megabytes` (a million bytes each),
// over what the process held before SendEMail (the host's copy of the page
// among it): through SendEMail, less the copy the call hands over, and
// through Send; the larger of the two is the figure. A short message is sent
// first, so that what the system loads for a first window and a first
// delivery (once per process) is not counted as the page's.
void measureMemory(Mailer& mailer, const std::wstring& server, std::size_t megabytes) {
    const std::wstring page = tablePage(megabytes * 1000000);
    const MemoryInUse cold = memoryInUse();
    mailer.SendEMail(L"warm-up", server);
    pressAndWaitGone(L"Send");
    const MemoryInUse before = memoryInUse();
    std::printf("a first short message sent: %.0f MB more in use, once for the process\n", before.now - cold.now);
    mailer.SendEMail(page, server, true);
    const double handedOver = page.size() * sizeof(wchar_t) / 1e6;
    const double throughSendEMail = memoryInUse().peak - before.now - handedOver;
    pumpUntil([] { return false; }, 3000);  // the page's text is made meanwhile
    MemoryWatch watch;
    pressAndWaitGone(L"Send");
    const double throughSend = watch.most() - before.now;
    const double own = std::max(throughSendEMail, throughSend);
    std::printf("a %zu MB page: %.0f MB in use before SendEMail (the host's page among it); the component's own "
                "through SendEMail %.0f MB (less the %.0f MB the call hands over), through Send %.0f MB: %.1f x the "
                "page\n",
                megabytes, before.now, throughSendEMail, handedOver, throughSend, own / static_cast<double>(megabytes));
}

int wmain(int argc, wchar_t** argv) {
    std::wstring server = L"127.0.0.1:25";
    std::wstring pageFile, pageUrl;
    int entries = 5000, memoryMegabytes = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wstring(argv[i]) == L"--server") server = argv[++i];
        if (std::wstring(argv[i]) == L"--entries") entries = std::stoi(argv[++i]);
        if (std::wstring(argv[i]) == L"--page-file") pageFile = argv[++i];
        if (std::wstring(argv[i]) == L"--page-url") pageUrl = argv[++i];
        if (std::wstring(argv[i]) == L"--memory") memoryMegabytes = std::stoi(argv[++i]);
    }
    CoInitialize(nullptr);
    {
        Mailer mailer;
        if (!pageFile.empty() || memoryMegabytes > 0) {
            if (memoryMegabytes > 0)
                measureMemory(mailer, server, static_cast<std::size_t>(memoryMegabytes));
            else
                measurePage(mailer, server, pageFile, pageUrl);
            CoUninitialize();
            return 0;
        }
        mailer.SendEMail(L"warm-up", server);
        closeComposeWindows();

        mailer.SendEMail(L"A short page", server);
        const WindowMade made = readWindow(FindWindowW(nullptr, kComposeCaption));
        closeComposeWindows();
        std::vector<double> opened, bareWindow;
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            mailer.SendEMail(L"A short page", server);
            opened.push_back(millisecondsSince(start));
            closeComposeWindows();
            bareWindow.push_back(bareWindowMs(made));
        }
        std::printf("window on screen after SendEMail: %.1f ms; its %zu controls made bare and shown: %.1f ms, "
                    "%.2f x (medians of 20)\n",
                    median(opened), made.controls.size(), median(bareWindow), median(opened) / median(bareWindow));

        for (std::size_t megabytes : {1, 5}) {
            const std::wstring body = bodyOf(megabytes * 1024 * 1024);
            const double bare = bareEditMs(body);
            const auto start = Clock::now();
            mailer.SendEMail(body, server);
            const double ours = millisecondsSince(start);
            closeComposeWindows();
            std::printf("SendEMail with a %zu MB plain body: %.0f ms; bare edit control: %.0f ms\n", megabytes, ours,
                        bare);
        }

        std::vector<double> cycles;
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            mailer.SendEMail(L"cycle", server);
            pressAndWaitGone(L"Cancel");
            cycles.push_back(millisecondsSince(start));
        }
        const auto mean = [](auto first, auto last) {
            double sum = 0;
            for (auto it = first; it != last; ++it) sum += *it;
            return sum / static_cast<double>(last - first);
        };
        std::printf("SendEMail + Cancel, 200 cycles: first ten %.1f ms, last ten %.1f ms per cycle\n",
                    mean(cycles.begin(), cycles.begin() + 10), mean(cycles.end() - 10, cycles.end()));

        // A host that makes an instance for each page and lets it go at once.
        cycles.clear();
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            {
                Mailer own;
                own.SendEMail(L"cycle", server);
                SendMessageW(findChild(FindWindowW(nullptr, kComposeCaption), L"Cancel"), BM_CLICK, 0, 0);
            }
            pumpUntil([] { return !FindWindowW(nullptr, kComposeCaption); }, 500);
            cycles.push_back(millisecondsSince(start));
        }
        std::printf("the same with an instance for each cycle: first ten %.1f ms, last ten %.1f ms per cycle\n",
                    mean(cycles.begin(), cycles.begin() + 10), mean(cycles.end() - 10, cycles.end()));
        closeComposeWindows();

        std::vector<double> sends;
        for (int i = 0; i < 5; ++i) {
            mailer.SendEMail(L"A short page", server);
            sends.push_back(pressAndWaitGone(L"Send"));
        }
        std::printf("Send pressed to the window gone (small message): %.1f ms (median of 5)\n", median(sends));

        // Medians of five: the registry under Wine stalls now and then while it saves itself.
        std::vector<double> opens, reads, deletions, writes;
        DWORD left = 0;
        for (int i = 0; i < 5; ++i) {
            writes.push_back(seedAddressBook(entries));
            reads.push_back(bareBookReadMs());
            mailer.SendEMail(L"picker", server);
            runPicker(false);
            opens.push_back(g_run.openMs);
            runPicker(true);
            deletions.push_back(g_run.deleteMs);
            left = bookValueCount();
            closeComposeWindows();
        }
        std::printf("picker open with %d entries: %.1f ms; reading its values alone: %.1f ms (medians of 5)\n",
                    entries, median(opens), median(reads));
        std::printf("deleting the first of %d entries (every later value renumbered): %.1f ms; writing %d values "
                    "alone: %.1f ms (medians of 5; %lu left)\n",
                    entries, median(deletions), entries, median(writes), static_cast<unsigned long>(left));
        closeComposeWindows();

        std::vector<double> focus, first, slowest, twenty, changeRead, afterChange, bare;
        bool shown = true;
        for (int i = 0; i < 5; ++i) {
            seedAddressBook(entries);
            const Typing typing = typeInTo(mailer, server);
            focus.push_back(typing.focusMs);
            first.push_back(typing.firstMs);
            changeRead.push_back(typing.changeReadMs);
            afterChange.push_back(typing.afterChangeMs);
            slowest.push_back(typing.slowestOfTwentyMs);
            twenty.push_back(typing.twentyMs);
            shown &= typing.listShown;
            bare.push_back(bareListMs());
        }
        std::printf("suggestions in To with %d entries, keystroke to list painted: %.1f ms; a bare list of ten rows "
                    "shown: %.1f ms%s\n",
                    entries, median(first), median(bare), shown ? "" : " (NO LIST SHOWN)");
        std::printf("twenty keystrokes in a row: %.1f ms in all, the slowest %.1f ms; To taking the focus after the "
                    "book changed (read there): %.1f ms; the book read again on another window's addition: %.1f "
                    "ms, and the keystroke after it: %.1f ms (medians of 5)\n",
                    median(twenty), median(slowest), median(focus), median(changeRead), median(afterChange));
    }
    CoUninitialize();
    return 0;
}
