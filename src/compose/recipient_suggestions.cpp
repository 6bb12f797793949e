#include "compose/recipient_suggestions.h"

#include <commctrl.h>

#include <algorithm>

#include "compose/recipient_typing.h"
#include "controls/handler_boundary.h"
#include "foundation/module.h"

namespace kt {
namespace {

constexpr UINT_PTR kSubclassId = 1;

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

RecipientSuggestions::RecipientSuggestions(HWND window, std::shared_ptr<AddressBook> book)
    : window_(window), book_(std::move(book)) {}

RecipientSuggestions::~RecipientSuggestions() {
    for (const HWND field : fields_)
        if (IsWindow(field)) RemoveWindowSubclass(field, &RecipientSuggestions::fieldProcedure, kSubclassId);
    if (list_) DestroyWindow(list_);
}

void RecipientSuggestions::watch(const FormControl& field) {
    SetWindowSubclass(field.hwnd(), &RecipientSuggestions::fieldProcedure, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
    fields_.push_back(field.hwnd());
}

void RecipientSuggestions::fieldChanged(const FormControl& field) {
    if (accepting_) return;
    // Only what the user types there: the picker's additions are no typing.
    if (GetFocus() != field.hwnd()) return close();
    const std::wstring typed = typedRecipient(textOf(field.hwnd())).text;
    std::vector<BookEntry> entries = book_->suggestionsFor(typed, kMostSuggestions);
    if (entries.empty()) return close();
    show(field.hwnd(), std::move(entries));
}

void RecipientSuggestions::show(HWND field, std::vector<BookEntry> entries) {
    if (!list_) {
        list_ = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, L"LISTBOX", L"Ardwyn Address Suggestions",
                                WS_POPUP | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0, window_, nullptr,
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
    place();
    ShowWindow(list_, SW_SHOWNOACTIVATE);
    InvalidateRect(list_, nullptr, TRUE);
}

void RecipientSuggestions::place() const {
    if (!isOpen()) return;
    RECT under{};
    GetWindowRect(field_, &under);
    const auto rowHeight = static_cast<int>(SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
    const int height = rowHeight * static_cast<int>(shown_.size()) + 2 * GetSystemMetrics(SM_CYBORDER);
    SetWindowPos(list_, HWND_TOP, under.left, under.bottom, under.right - under.left, height, SWP_NOACTIVATE);
}

void RecipientSuggestions::close() {
    if (!isOpen()) return;
    field_ = nullptr;
    shown_.clear();
    ShowWindow(list_, SW_HIDE);
}

void RecipientSuggestions::move(int rows) {
    const auto count = static_cast<int>(shown_.size());
    const auto row = static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
    SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(std::clamp(row + rows, 0, count - 1)), 0);
}

void RecipientSuggestions::accept(int row) {
    if (row < 0 || row >= static_cast<int>(shown_.size())) return;
    const HWND field = field_;
    const std::wstring text = withRecipientAccepted(textOf(field), shown_[static_cast<std::size_t>(row)].record);
    close();
    accepting_ = true;
    SetWindowTextW(field, text.c_str());
    accepting_ = false;
    SendMessageW(field, EM_SETSEL, text.size(), text.size());
}

bool RecipientSuggestions::fieldKey(UINT message, WPARAM key) {
    if (message == WM_KEYDOWN && (key == VK_DOWN || key == VK_UP)) {
        move(key == VK_DOWN ? 1 : -1);
        return true;
    }
    // Enter, Tab and Escape act as their characters come, and their keys go no further.
    const bool acting = key == VK_RETURN || key == VK_TAB || key == VK_ESCAPE;
    if (message == WM_CHAR && acting) {
        if (key == VK_ESCAPE)
            close();
        else
            accept(static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0)));
        return true;
    }
    return message == WM_KEYDOWN && acting;
}

LRESULT CALLBACK RecipientSuggestions::fieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                      DWORD_PTR self) {
    auto& suggestions = *reinterpret_cast<RecipientSuggestions*>(self);
    const bool open = suggestions.isOpen() && suggestions.field_ == field;
    switch (message) {
        case WM_GETDLGCODE:
            // While the list is open its keys are the field's, not the window's.
            return DefSubclassProc(field, message, wParam, lParam) | (open ? DLGC_WANTALLKEYS : 0);
        case WM_KEYDOWN:
        case WM_CHAR: {
            bool handled = false;
            if (open) runHandler(L"the address suggestions", [&] { handled = suggestions.fieldKey(message, wParam); });
            if (handled) return 0;
            break;
        }
        case WM_SETFOCUS:
            runHandler(L"the address suggestions", [&] { suggestions.book_->refresh(); });
            break;
        case WM_KILLFOCUS:
            if (open) suggestions.close();
            break;
        default:
            break;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

LRESULT CALLBACK RecipientSuggestions::listProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                     DWORD_PTR self) {
    auto& suggestions = *reinterpret_cast<RecipientSuggestions*>(self);
    switch (message) {
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;  // the focus stays in the field
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN: {
            const auto hit = static_cast<DWORD>(SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam));
            if (HIWORD(hit)) return 0;  // below the last row
            if (message == WM_MOUSEMOVE) {
                SendMessageW(list, LB_SETCURSEL, LOWORD(hit), 0);
                return 0;
            }
            runHandler(L"the address suggestions", [&] { suggestions.accept(LOWORD(hit)); });
            return 0;
        }
        default:
            return DefSubclassProc(list, message, wParam, lParam);
    }
}

}  // namespace kt
