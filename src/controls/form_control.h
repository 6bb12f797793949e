#pragma once
// A control on a form. The form, as its container, keeps each control's
// position and size in twips; setting one moves the control at once. The
// control exists before its window: the form lays it out first and then
// makes its window where the layout put it.

#include <windows.h>

#include <string>

#include "controls/event.h"
#include "controls/form_design.h"

namespace kt {

class Form;

struct PixelRect {
    int x, y, width, height;
    bool operator==(const PixelRect& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};

class FormControl {
public:
    FormControl(Form& form, const ControlDesign& design);
    FormControl(const FormControl&) = delete;
    FormControl& operator=(const FormControl&) = delete;
    virtual ~FormControl() = default;

    const ControlDesign& design() const noexcept { return design_; }
    const wchar_t* name() const noexcept { return design_.name; }
    HWND hwnd() const noexcept { return hwnd_; }

    // The text of a field, or the caption of a label, button or frame.
    std::wstring Text() const;
    void Text(const std::wstring& text);

    float Left() const noexcept { return geometry_.left; }
    float Top() const noexcept { return geometry_.top; }
    float Width() const noexcept { return geometry_.width; }
    float Height() const noexcept { return geometry_.height; }
    void Left(float twips);
    void Top(float twips);
    void Width(float twips);
    void Height(float twips);

    void SetFocus();

    // A text field's text changed, by the user or the program.
    Event<> Change;

    // A notification from the control to its form (WM_COMMAND).
    virtual void onCommand(WORD notification);

    // The control's window, made by the form, once.
    virtual void attach(HWND hwnd) { hwnd_ = hwnd; }

private:
    // Places the window in pixels from the twips geometry.
    void applyGeometry();

    Form& form_;
    const ControlDesign& design_;
    HWND hwnd_ = nullptr;
    TwipsRect geometry_;
    PixelRect placed_;  // where the window is
};

}  // namespace kt
