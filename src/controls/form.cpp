#include "controls/form.h"

#include <commctrl.h>

#include <cmath>
#include <cstring>

#include "controls/list_box.h"
#include "controls/push_button.h"
#include "foundation/api_error.h"

namespace kt {
namespace {

constexpr WORD kFirstControlId = 100;

struct NativeControl {
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
};

NativeControl nativeControlFor(ControlKind kind) {
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
        case ControlKind::TextField:
            return {L"EDIT", child | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case ControlKind::MultiLineTextField:
            return {L"EDIT", child | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                    WS_EX_CLIENTEDGE};
        case ControlKind::Label:
            return {L"STATIC", child | SS_LEFT | SS_NOPREFIX, 0};
        case ControlKind::PushButton:
            return {L"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
        case ControlKind::ListBox:
            return {L"LISTBOX",
                    child | WS_TABSTOP | WS_VSCROLL | LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                    WS_EX_CLIENTEDGE};
        case ControlKind::Frame:
            return {L"BUTTON", child | BS_GROUPBOX, WS_EX_TRANSPARENT};
    }
    return {L"STATIC", child, 0};
}

std::unique_ptr<FormControl> makeControl(Form& form, const ControlDesign& design) {
    if (design.kind == ControlKind::PushButton) return std::make_unique<KT_CB>(form, design);
    if (design.kind == ControlKind::ListBox) return std::make_unique<ListBox>(form, design);
    return std::make_unique<FormControl>(form, design);
}

bool sameFont(const FontDesign& a, const FontDesign& b) {
    if (!a.face || !b.face) return a.face == b.face;
    return std::wcscmp(a.face, b.face) == 0 && a.points == b.points && a.weight == b.weight;
}

}  // namespace

Form::Form(const FormDesign& design) : design_(design) {}

void Form::Load(HWND owner) {
    if (IsLoaded()) return;
    {
        ScreenDc screen(GetDC(nullptr));
        twipsPerPixelX_ = twipsPerPixel(GetDeviceCaps(screen.get(), LOGPIXELSX));
        twipsPerPixelY_ = twipsPerPixel(GetDeviceCaps(screen.get(), LOGPIXELSY));
    }
    const DWORD style = design_.resizable ? WS_OVERLAPPEDWINDOW : (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU);
    RECT outer{0, 0, twipsToPixels(design_.clientWidth, twipsPerPixelX_),
               twipsToPixels(design_.clientHeight, twipsPerPixelY_)};
    AdjustWindowRectEx(&outer, style, FALSE, WS_EX_CONTROLPARENT);
    createWindow(WindowClass::Form, WS_EX_CONTROLPARENT, design_.caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                 outer.right - outer.left, outer.bottom - outer.top, owner);
    self_ = shared_from_this();
    try {
        if (const auto icon = static_cast<HICON>(
                LoadImageW(thisModule(), MAKEINTRESOURCEW(design_.iconId), IMAGE_ICON, 16, 16, LR_SHARED)))
            SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        createControls();
        navigation_.emplace(hwnd(), tooltip_);
        Form_Load();
        loaded_ = true;
    } catch (...) {
        // A window half made is no window: it goes, and with it the hold on itself.
        destroyWindow();
        throw;
    }
}

void Form::Show() {
    // Resized since it was loaded, it is laid out again while still hidden:
    // moving controls that are on screen costs a redraw each.
    if (!std::exchange(shownBefore_, true)) layOutIfResized();
    ShowWindow(hwnd(), SW_SHOW);
}

void Form::Unload() {
    const auto keepAlive = shared_from_this();
    destroyWindow();
}

float Form::Width() const {
    RECT r{};
    GetWindowRect(hwnd(), &r);
    return pixelsToTwips(r.right - r.left, twipsPerPixelX_);
}

float Form::Height() const {
    RECT r{};
    GetWindowRect(hwnd(), &r);
    return pixelsToTwips(r.bottom - r.top, twipsPerPixelY_);
}

void Form::Width(float twips) {
    RECT r{};
    GetWindowRect(hwnd(), &r);
    resizeOuter(twipsToPixels(twips, twipsPerPixelX_), r.bottom - r.top);
}

void Form::Height(float twips) {
    RECT r{};
    GetWindowRect(hwnd(), &r);
    resizeOuter(r.right - r.left, twipsToPixels(twips, twipsPerPixelY_));
}

void Form::resizeOuter(int widthPixels, int heightPixels) {
    if (!SetWindowPos(hwnd(), nullptr, 0, 0, widthPixels, heightPixels, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
        throw apiError(GetLastError(), L"Setting the window's size failed");
}

void Form::Pointer(MousePointer pointer) {
    pointer_ = pointer;
    POINT cursor{};
    GetCursorPos(&cursor);
    RECT r{};
    GetWindowRect(hwnd(), &r);
    if (PtInRect(&r, cursor)) showPointer();
}

void Form::showPointer() const {
    const LPCWSTR cursor = pointer_ == MousePointer::Hourglass        ? IDC_WAIT
                           : pointer_ == MousePointer::ArrowHourglass ? IDC_APPSTARTING
                                                                      : IDC_ARROW;
    SetCursor(LoadCursorW(nullptr, cursor));
}

PixelRect Form::pixelsFor(const ControlDesign& design, const TwipsRect& geometry) const {
    float left = geometry.left;
    float top = geometry.top;
    if (design.container != kInWindow) {
        const FormControl& frame = *controls_.at(static_cast<size_t>(design.container));
        left += frame.Left();
        top += frame.Top();
    }
    return {twipsToPixels(left, twipsPerPixelX_), twipsToPixels(top, twipsPerPixelY_),
            twipsToPixels(geometry.width, twipsPerPixelX_), twipsToPixels(geometry.height, twipsPerPixelY_)};
}

void Form::createControls() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                               thisModule(), nullptr);
    if (tooltip_) SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 320);

    // Laid out before their windows are made, so that each is made where it
    // stays: a control moved once made costs a round of messages.
    for (std::size_t row = 0; row < design_.controlCount; ++row)
        controls_.push_back(makeControl(*this, design_.controls[row]));
    layOutIfResized();

    for (std::size_t row = 0; row < design_.controlCount; ++row) {
        FormControl& control = *controls_[row];
        const ControlDesign& design = control.design();
        const NativeControl native = nativeControlFor(design.kind);
        const PixelRect at =
            pixelsFor(design, TwipsRect{control.Left(), control.Top(), control.Width(), control.Height()});
        const HWND hwnd = CreateWindowExW(native.exStyle, native.windowClass, design.text, native.style, at.x, at.y,
                                          at.width, at.height, this->hwnd(),
                                          reinterpret_cast<HMENU>(UINT_PTR{kFirstControlId + row}), thisModule(),
                                          nullptr);
        if (!hwnd) throw apiError(GetLastError(), L"Creating a control of the window failed");
        control.attach(hwnd);
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(design.font)), FALSE);
        // Text fields hold text of any length.
        if (design.kind == ControlKind::TextField || design.kind == ControlKind::MultiLineTextField)
            SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);
        if (design.tooltip) addTooltip(hwnd, design.tooltip);
    }
    controlsReady_ = true;
}

HFONT Form::fontFor(const FontDesign& design) {
    for (const auto& [known, font] : fonts_)
        if (sameFont(known, design)) return font.get();

    LOGFONTW logFont{};
    if (design.face) {
        ScreenDc screen(GetDC(nullptr));
        logFont.lfHeight =
            -static_cast<LONG>(std::lround(design.points * static_cast<float>(GetDeviceCaps(screen.get(), LOGPIXELSY)) / 72.0f));
        logFont.lfWeight = design.weight;
        logFont.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(logFont.lfFaceName, design.face, LF_FACESIZE);
    } else {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        logFont = metrics.lfMessageFont;
    }
    fonts_.emplace_back(design, UniqueFont(CreateFontIndirectW(&logFont)));
    return fonts_.back().second.get();
}

void Form::addTooltip(HWND control, const wchar_t* text) {
    if (!tooltip_) return;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT Form::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            if (lParam == 0 && HIWORD(wParam) == 0) {
                onMenuCommand(LOWORD(wParam));
                return 0;
            }
            const std::size_t row = LOWORD(wParam) - kFirstControlId;
            if (lParam != 0 && LOWORD(wParam) >= kFirstControlId && row < controls_.size() &&
                controls_[row]->hwnd() == reinterpret_cast<HWND>(lParam))
                controls_[row]->onCommand(HIWORD(wParam));
            return 0;
        }
        case WM_SIZE:
            if (controlsReady_ && shownBefore_) layOutIfResized();
            return 0;
        case WM_MOVE:
            if (controlsReady_) Form_Move();
            return 0;
        case WM_ACTIVATE:
            if (controlsReady_ && LOWORD(wParam) == WA_INACTIVE) Form_Deactivate();
            break;
        case WM_NEXTDLGCTL: {
            // What a dialog does for its controls, asked by a multi-line field on Tab.
            const HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                               : GetNextDlgTabItem(hwnd(), GetFocus(), wParam != 0);
            if (target) ::SetFocus(target);
            return 0;
        }
        case WM_SETCURSOR:
            if (pointer_ != MousePointer::Default && LOWORD(lParam) == HTCLIENT) {
                showPointer();
                return TRUE;
            }
            break;
        case WM_CLOSE:
            if (!Form_QueryUnload()) return 0;
            break;
        case WM_DESTROY:
            navigation_.reset();
            if (std::exchange(loaded_, false)) Form_Unload();
            return 0;
        default:
            break;
    }
    return defaultHandling(message, wParam, lParam);
}

void Form::layOutIfResized() {
    // The layout follows the outer size alone; the first showing brings a
    // WM_SIZE for the size just laid out. A minimized window keeps its layout
    // for when it is restored.
    if (IsIconic(hwnd())) return;
    RECT outer{};
    GetWindowRect(hwnd(), &outer);
    const SIZE size{outer.right - outer.left, outer.bottom - outer.top};
    if (size.cx == laidOutSize_.cx && size.cy == laidOutSize_.cy) return;
    laidOutSize_ = size;
    Form_Resize();
    // The layout may have set the size itself (a minimum): it is laid out for that one.
    GetWindowRect(hwnd(), &outer);
    laidOutSize_ = {outer.right - outer.left, outer.bottom - outer.top};
}

void Form::onFinalMessage() {
    controls_.clear();
    controlsReady_ = false;
    tooltip_ = nullptr;
    const auto release = std::move(self_);
}

}  // namespace kt
