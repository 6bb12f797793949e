#include "controls/list_box.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "controls/handler_boundary.h"
#include "foundation/component_error.h"
#include "foundation/locale_order.h"
#include "foundation/scope_exit.h"

namespace kt {

// The list's mouse buttons pass through a window procedure of ours. It is
// put in front of the list's own directly: the common controls' subclassing
// looks its data up anew for every message, which makes filling a long list
// many times slower.
void ListBox::attach(HWND hwnd) {
    FormControl::attach(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    listOwnProcedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListBox::listProcedure)));
}

ListBox::~ListBox() {
    if (!listOwnProcedure_) return;
    SetWindowLongPtrW(hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listOwnProcedure_));
    SetWindowLongPtrW(hwnd(), GWLP_USERDATA, 0);
}

int ListBox::ListCount() const { return static_cast<int>(SendMessageW(hwnd(), LB_GETCOUNT, 0, 0)); }

std::wstring ListBox::List(int row) const {
    const LRESULT length = SendMessageW(hwnd(), LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR) return {};
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    SendMessageW(hwnd(), LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

bool ListBox::Selected(int row) const { return SendMessageW(hwnd(), LB_GETSEL, static_cast<WPARAM>(row), 0) > 0; }

int ListBox::SelCount() const { return static_cast<int>(SendMessageW(hwnd(), LB_GETSELCOUNT, 0, 0)); }

int ListBox::ListIndex() const {
    if (!hasCurrentRow_ || ListCount() == 0) return -1;
    return static_cast<int>(SendMessageW(hwnd(), LB_GETCARETINDEX, 0, 0));
}

void ListBox::ListIndex(int row) {
    if (row < 0 || row >= ListCount()) throw invalidPropertyValueError();
    SendMessageW(hwnd(), LB_SETSEL, TRUE, row);
    SendMessageW(hwnd(), LB_SETCARETINDEX, static_cast<WPARAM>(row), FALSE);
    hasCurrentRow_ = true;
    Click.raise();
}

int ListBox::AddItem(const std::wstring& text) {
    const LRESULT row = SendMessageW(hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (row < 0) throw outOfMemoryError();
    return static_cast<int>(row);
}

unsigned ListBox::ItemData(int row) const {
    const LRESULT data = SendMessageW(hwnd(), LB_GETITEMDATA, static_cast<WPARAM>(row), 0);
    if (data == LB_ERR) throw subscriptOutOfRangeError();
    return static_cast<unsigned>(data);
}

void ListBox::ItemData(int row, unsigned data) {
    if (SendMessageW(hwnd(), LB_SETITEMDATA, static_cast<WPARAM>(row), static_cast<LPARAM>(data)) == LB_ERR)
        throw subscriptOutOfRangeError();
}

void ListBox::AddItems(const std::vector<std::pair<std::wstring, unsigned>>& rows) {
    std::size_t characters = 0;
    for (const auto& row : rows) characters += row.first.size() + 1;
    SendMessageW(hwnd(), LB_INITSTORAGE, rows.size(), characters * sizeof(wchar_t));
    SendMessageW(hwnd(), WM_SETREDRAW, FALSE, 0);
    const ScopeExit redraw([this] {
        SendMessageW(hwnd(), WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hwnd(), nullptr, TRUE);
    });
    if (ListCount() > 0) {
        for (const auto& [text, data] : rows) ItemData(AddItem(text), data);
        return;
    }
    // Into an empty list the rows go in the order the list would give them,
    // found once from sort keys of the comparison it uses, instead of a
    // search through the list for every row.
    std::vector<std::pair<std::string, std::size_t>> keys;
    keys.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) keys.emplace_back(localeSortKey(rows[i].first), i);
    std::stable_sort(keys.begin(), keys.end());
    for (const auto& key : keys) {
        const auto& [text, data] = rows[key.second];
        const LRESULT row = SendMessageW(hwnd(), LB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
        if (row < 0) throw outOfMemoryError();
        ItemData(static_cast<int>(row), data);
    }
}

void ListBox::RemoveItem(int row) {
    if (row < 0 || row >= ListCount()) throw subscriptOutOfRangeError();
    if (row == ListIndex()) hasCurrentRow_ = false;
    SendMessageW(hwnd(), LB_DELETESTRING, static_cast<WPARAM>(row), 0);
}

void ListBox::onCommand(WORD notification) {
    if (notification == LBN_SELCHANGE) {
        hasCurrentRow_ = true;
        Click.raise();
    } else if (notification == LBN_DBLCLK) {
        DblClick.raise();
    }
}

void ListBox::findAsYouType(wchar_t typed) {
    const DWORD now = GetTickCount();
    if (now - lastTyped_ > kTypingPause) typed_.clear();
    lastTyped_ = now;
    typed_ += typed;
    // The first row from `from` on, round to the top, whose text starts with `start` in any case; -1 for none.
    const auto rowStartingWith = [this](const std::wstring& start, int from) {
        const int count = ListCount();
        const auto length = static_cast<int>(start.size());
        for (int i = 0; i < count; ++i) {
            const int row = (from + i) % count;
            const std::wstring text = List(row);
            if (static_cast<int>(text.size()) >= length &&
                CompareStringOrdinal(text.data(), length, start.data(), length, TRUE) == CSTR_EQUAL)
                return row;
        }
        return -1;
    };
    int found = typed_.size() > 1 ? rowStartingWith(typed_, 0) : -1;
    // One letter, or the same again and again, steps through the rows it starts, as the list's own keys do.
    if (found < 0 && typed_.find_first_not_of(typed_.front()) == std::wstring::npos) {
        const int current = hasCurrentRow_ ? static_cast<int>(SendMessageW(hwnd(), LB_GETCARETINDEX, 0, 0)) : -1;
        found = rowStartingWith(typed_.substr(0, 1), current + 1);
    }
    if (found < 0) return;
    // As the list's own keys move: this row alone selected, current, and where Shift extends from.
    SendMessageW(hwnd(), LB_SETSEL, FALSE, -1);
    SendMessageW(hwnd(), LB_SETSEL, TRUE, found);
    SendMessageW(hwnd(), LB_SETANCHORINDEX, static_cast<WPARAM>(found), 0);
    SendMessageW(hwnd(), LB_SETCARETINDEX, static_cast<WPARAM>(found), FALSE);
    hasCurrentRow_ = true;
    Click.raise();
}

LRESULT CALLBACK ListBox::listProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* before = reinterpret_cast<ListBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    // Letters typed go to our search, which finds names in any script; a
    // blank only within a search, else it is the list's own key.
    if (message == WM_CHAR && wParam >= L' ' && wParam != 0x7F && (wParam != L' ' || before->searching())) {
        runHandler(before->name(), [&] { before->findAsYouType(static_cast<wchar_t>(wParam)); });
        return 0;
    }
    const LRESULT result = CallWindowProcW(before->listOwnProcedure_, hwnd, message, wParam, lParam);
    // After the list's own handling, so the event sees the row the click made
    // current; that handling may have closed the window and ended the list.
    auto* list = IsWindow(hwnd) ? reinterpret_cast<ListBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)) : nullptr;
    if (list && (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN)) {
        const MouseButton button = message == WM_LBUTTONDOWN   ? MouseButton::Left
                                   : message == WM_RBUTTONDOWN ? MouseButton::Right
                                                               : MouseButton::Middle;
        runHandler(list->name(), [&] { list->MouseDown.raise(button); });
    }
    return result;
}

}  // namespace kt
