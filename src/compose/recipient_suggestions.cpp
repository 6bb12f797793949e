#include "compose/recipient_suggestions.h"

#include <commctrl.h>

#include <algorithm>

#include "compose/recipient_typing.h"
#include "controls/handler_boundary.h"
#include "foundation/module.h"
#include "foundation/scope_exit.h"

namespace kt {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT kBookChanged = WM_APP + 1;  // a field's own message while it is ours
// A timer of the first field's: timers come after every paint, so the book
// is watched and read once the window is on screen, unless a field took the
// focus first.
constexpr UINT_PTR kWatchTheBookTimer = 0x4B54;

std::wstring fieldText(HWND field) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Enter, Tab and Escape alone, as key or character: with Shift, Ctrl or
// Alt (Ctrl+M is a carriage return too) they are the field's or the window's.
bool isListKey(UINT message, WPARAM key) {
    const bool modified = GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
    return (message == WM_KEYDOWN || message == WM_CHAR) && !modified &&
           (key == VK_RETURN || key == VK_TAB || key == VK_ESCAPE);
}

// Whether the caret stands in the recipient being typed, with nothing
// selected: suggestions are for that one alone.
bool caretInTypedRecipient(HWND field) {
    DWORD start = 0, end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const auto separator = fieldText(field).rfind(L';');
    return start == end && (separator == std::wstring::npos || start > separator);
}

bool movesTheCaret(UINT message, WPARAM key) {
    return message == WM_LBUTTONDOWN ||
           (message == WM_KEYDOWN && (key == VK_LEFT || key == VK_RIGHT || key == VK_HOME || key == VK_END));
}

}  // namespace

RecipientSuggestions::RecipientSuggestions(HWND window, std::shared_ptr<AddressBook> book)
    : window_(window), book_(std::move(book)) {}

RecipientSuggestions::~RecipientSuggestions() {
    if (!fields_.empty() && IsWindow(fields_.front())) KillTimer(fields_.front(), kWatchTheBookTimer);
    for (const HWND field : fields_)
        if (IsWindow(field)) RemoveWindowSubclass(field, &RecipientSuggestions::fieldProcedure, kSubclassId);
    if (list_) DestroyWindow(list_);
}

void RecipientSuggestions::watch(const FormControl& field) {
    SetWindowSubclass(field.hwnd(), &RecipientSuggestions::fieldProcedure, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
    fields_.push_back(field.hwnd());
    if (fields_.size() == 1) SetTimer(field.hwnd(), kWatchTheBookTimer, 0, nullptr);
}

void RecipientSuggestions::watchTheBook() {
    if (bookChanges_) return;
    KillTimer(fields_.front(), kWatchTheBookTimer);
    bookChanges_.emplace(*book_, fields_.front(), kBookChanged);
    if (std::find(fields_.begin(), fields_.end(), GetFocus()) != fields_.end()) book_->prepare();
}

void RecipientSuggestions::fieldChanged(const FormControl& field) {
    if (accepting_) return;
    // Only what the user types there: the picker's additions are no typing.
    if (GetFocus() != field.hwnd()) return close();
    suggestFor(field.hwnd());
}

void RecipientSuggestions::suggestFor(HWND field) {
    if (!caretInTypedRecipient(field)) return close();
    watchTheBook();  // typed before the window was first painted
    std::vector<BookEntry> entries = book_->suggestionsFor(typedRecipient(fieldText(field)).text, kMostSuggestions);
    if (entries.empty()) return close();
    show(field, std::move(entries));
}

void RecipientSuggestions::suggestAgain() {
    const auto row = static_cast<std::size_t>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
    const std::wstring chosen = row < shown_.size() ? shown_[row].record : L"";
    suggestFor(field_);
    const auto still = std::find_if(shown_.begin(), shown_.end(), [&](const BookEntry& e) { return e.record == chosen; });
    if (isOpen() && still != shown_.end()) SendMessageW(list_, LB_SETCURSEL, still - shown_.begin(), 0);
}

void RecipientSuggestions::show(HWND field, std::vector<BookEntry> entries) {
    if (!list_) {
        list_ = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, L"LISTBOX", L"Ardwyn Address Suggestions",
                                WS_POPUP | WS_BORDER | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0, window_, nullptr,
                                thisModule(), nullptr);
        if (!list_) return;
        SetWindowSubclass(list_, &RecipientSuggestions::listProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    }
    SendMessageW(list_, WM_SETFONT, SendMessageW(field, WM_GETFONT, 0, 0), FALSE);
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    for (const BookEntry& entry : entries) {
        const std::wstring row = entry.name + L"  <" + entry.address + L">";
        SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
    SendMessageW(list_, LB_SETCURSEL, 0, 0);
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    shown_ = std::move(entries);
    field_ = field;
    GetCursorPos(&mouse_);  // the pointer where it is now chooses nothing
    place();
    if (!isOpen()) return;
    ShowWindow(list_, SW_SHOWNOACTIVATE);
    InvalidateRect(list_, nullptr, TRUE);
}

void RecipientSuggestions::place() {
    if (!isOpen()) return;
    if (IsIconic(window_)) return close();
    RECT field{};
    GetWindowRect(field_, &field);
    const auto rowHeight = static_cast<int>(SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
    const int height = rowHeight * static_cast<int>(shown_.size()) + 2 * GetSystemMetrics(SM_CYBORDER);
    // Under the field, or above it where the screen ends first.
    MONITORINFO monitor{sizeof monitor};
    GetMonitorInfoW(MonitorFromWindow(field_, MONITOR_DEFAULTTONEAREST), &monitor);
    const int top = field.bottom + height > monitor.rcWork.bottom ? field.top - height : field.bottom;
    SetWindowPos(list_, HWND_TOP, field.left, top, field.right - field.left, height, SWP_NOACTIVATE);
}

void RecipientSuggestions::close() {
    field_ = nullptr;
    shown_.clear();
    if (list_) ShowWindow(list_, SW_HIDE);
}

void RecipientSuggestions::move(int rows) {
    const auto count = static_cast<int>(shown_.size());
    const auto row = static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
    SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(std::clamp(row + rows, 0, count - 1)), 0);
}

void RecipientSuggestions::accept(int row) {
    if (row < 0 || row >= static_cast<int>(shown_.size())) return;
    const HWND field = field_;
    const std::wstring text = withRecipientAccepted(fieldText(field), shown_[static_cast<std::size_t>(row)].record);
    close();
    {
        accepting_ = true;
        const ScopeExit accepted([this] { accepting_ = false; });
        SetWindowTextW(field, text.c_str());
    }
    SendMessageW(field, EM_SETSEL, text.size(), text.size());
}

bool RecipientSuggestions::fieldKey(UINT message, WPARAM key) {
    if (message == WM_KEYDOWN && (key == VK_DOWN || key == VK_UP)) {
        move(key == VK_DOWN ? 1 : -1);
        return true;
    }
    if (!isListKey(message, key)) return false;
    // They act as their characters come, and their keys go no further.
    if (message == WM_CHAR) {
        if (key == VK_ESCAPE)
            close();
        else
            accept(static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0)));
    }
    return true;
}

LRESULT CALLBACK RecipientSuggestions::fieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                      DWORD_PTR self) {
    auto& suggestions = *reinterpret_cast<RecipientSuggestions*>(self);
    const bool open = suggestions.isOpen() && suggestions.field_ == field;
    switch (message) {
        case WM_GETDLGCODE: {
            // While the list is open its keys are the field's, not the window's.
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            const bool listKey = open && key && isListKey(key->message, key->wParam);
            return DefSubclassProc(field, message, wParam, lParam) | (listKey ? DLGC_WANTALLKEYS : 0);
        }
        case WM_KEYDOWN:
        case WM_CHAR: {
            bool handled = false;
            if (open) runHandler(L"the address suggestions", [&] { handled = suggestions.fieldKey(message, wParam); });
            if (handled) return 0;
            break;
        }
        case WM_TIMER:
            if (wParam != kWatchTheBookTimer) break;
            runHandler(L"the address suggestions", [&] { suggestions.watchTheBook(); });
            return 0;
        case WM_SETFOCUS:
            if (!suggestions.bookChanges_) {
                runHandler(L"the address suggestions", [&] { suggestions.watchTheBook(); });
                break;
            }
            [[fallthrough]];
        case kBookChanged:
            // Read now, so the next keystroke finds the book as it is, and so does an open list.
            runHandler(L"the address suggestions", [&] {
                suggestions.book_->prepare();
                if (message == kBookChanged && suggestions.isOpen()) suggestions.suggestAgain();
            });
            if (message == kBookChanged) return 0;
            break;
        case WM_KILLFOCUS:
            if (open) suggestions.close();
            break;
        default:
            break;
    }
    const LRESULT result = DefSubclassProc(field, message, wParam, lParam);
    // The caret went out of the recipient being typed: its suggestions go.
    if (open && movesTheCaret(message, wParam) && suggestions.field_ == field && !caretInTypedRecipient(field))
        suggestions.close();
    return result;
}

LRESULT CALLBACK RecipientSuggestions::listProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                     DWORD_PTR self) {
    auto& suggestions = *reinterpret_cast<RecipientSuggestions*>(self);
    switch (message) {
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;  // the focus stays in the field
        case WM_SHOWWINDOW:
            // Shown and hidden by us alone, never again as the window is restored.
            if (lParam != 0) return 0;
            break;
        case WM_NCDESTROY:
            suggestions.list_ = nullptr;  // gone with its owner
            break;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN: {
            const auto hit = static_cast<DWORD>(SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam));
            if (HIWORD(hit)) return 0;  // below the last row
            if (message == WM_MOUSEMOVE) {
                // The system also tells of a pointer a list appears under; only the user's move chooses.
                POINT mouse{};
                GetCursorPos(&mouse);
                if (mouse.x == suggestions.mouse_.x && mouse.y == suggestions.mouse_.y) return 0;
                suggestions.mouse_ = mouse;
                SendMessageW(list, LB_SETCURSEL, LOWORD(hit), 0);
                return 0;
            }
            runHandler(L"the address suggestions", [&] { suggestions.accept(LOWORD(hit)); });
            return 0;
        }
        default:
            break;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

}  // namespace kt
