#pragma once
// A list box of a form: sorted rows, extended multiple selection, and a
// current row (the caret row), with click, double-click and mouse-down
// events, and find-as-you-type in any script.

#include <string>
#include <utility>
#include <vector>

#include "controls/event.h"
#include "controls/form_control.h"

namespace kt {

enum class MouseButton { Left, Right, Middle };

class ListBox : public FormControl {
public:
    using FormControl::FormControl;
    ~ListBox() override;

    void attach(HWND hwnd) override;

    int ListCount() const;
    std::wstring List(int row) const;
    bool Selected(int row) const;
    int SelCount() const;
    // The current row, or -1 before one was chosen and after it was removed.
    int ListIndex() const;
    // Makes a row current and selects it, as a click on it does.
    void ListIndex(int row);
    // Adds a row where the sorting puts it; returns its position.
    int AddItem(const std::wstring& text);
    void RemoveItem(int row);
    // A number kept with a row, for its owner to find what the row stands for.
    unsigned ItemData(int row) const;
    void ItemData(int row, unsigned data);
    // Adds many rows at once, with their numbers; the list is drawn once, at the end.
    void AddItems(const std::vector<std::pair<std::wstring, unsigned>>& rows);

    Event<> Click;
    Event<> DblClick;
    Event<MouseButton> MouseDown;

    void onCommand(WORD notification) override;

private:
    // Letters typed within a second of each other make one search: the first
    // row whose text starts with them all, in any case, becomes the current
    // and only selected row. One letter, or the same one again where no row
    // starts with the repeat, goes to the next row it starts.
    static constexpr DWORD kTypingPause = 1000;
    void findAsYouType(wchar_t typed);
    bool searching() const { return !typed_.empty() && GetTickCount() - lastTyped_ <= kTypingPause; }

    static LRESULT CALLBACK listProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    WNDPROC listOwnProcedure_ = nullptr;
    bool hasCurrentRow_ = false;
    std::wstring typed_;
    DWORD lastTyped_ = 0;
};

}  // namespace kt
