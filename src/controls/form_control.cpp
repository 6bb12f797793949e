#include "controls/form_control.h"

#include <vector>

#include "controls/form.h"

namespace kt {

FormControl::FormControl(Form& form, const ControlDesign& design, HWND hwnd)
    : form_(form), design_(design), hwnd_(hwnd), geometry_(design.geometry) {}

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

void FormControl::onCommand(WORD) {}

void FormControl::applyGeometry() {
    float left = geometry_.left;
    float top = geometry_.top;
    if (const FormControl* container = form_.containerOf(*this)) {
        left += container->Left();
        top += container->Top();
    }
    const float x = form_.twipsPerPixelX();
    const float y = form_.twipsPerPixelY();
    SetWindowPos(hwnd_, nullptr, twipsToPixels(left, x), twipsToPixels(top, y), twipsToPixels(geometry_.width, x),
                 twipsToPixels(geometry_.height, y), SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kt
