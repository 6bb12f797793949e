#include "controls/form_control.h"

#include <vector>

#include "controls/form.h"

namespace kt {

FormControl::FormControl(Form& form, const ControlDesign& design)
    : form_(form), design_(design), geometry_(design.geometry),
      placed_(form.pixelsFor(design, design.geometry)) {}

std::wstring FormControl::Text() const {
    const int length = GetWindowTextLengthW(hwnd_);
    if (length <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(hwnd_, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? copied : 0);
}

void FormControl::Text(const std::wstring& text) { SetWindowTextW(hwnd_, text.c_str()); }

void FormControl::Left(float twips) {
    geometry_.left = twips;
    applyGeometry();
}

void FormControl::Top(float twips) {
    geometry_.top = twips;
    applyGeometry();
}

void FormControl::Width(float twips) {
    geometry_.width = twips;
    applyGeometry();
}

void FormControl::Height(float twips) {
    geometry_.height = twips;
    applyGeometry();
}

void FormControl::SetFocus() { ::SetFocus(hwnd_); }

void FormControl::onCommand(WORD notification) {
    if (notification == EN_CHANGE) Change.raise();
}

void FormControl::applyGeometry() {
    const PixelRect at = form_.pixelsFor(design_, geometry_);
    // A layout sets every control again, most often to where it is.
    if (at == placed_) return;
    placed_ = at;
    if (hwnd_) SetWindowPos(hwnd_, nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kt
