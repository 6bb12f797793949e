#pragma once
// The design of a form, as a table that reads like the form designer's view:
// each control with its kind, text, tooltip, font and twips geometry. Rows are
// listed in tab order.

#include <cstddef>

#include "controls/twips.h"

namespace kt {

enum class ControlKind {
    TextField,
    MultiLineTextField,  // with a vertical scroll bar
    Label,
    PushButton,          // KT_CB
    ListBox,             // sorted, extended multiple selection
    Frame,
};

struct FontDesign {
    const wchar_t* face = nullptr;  // nullptr: the system's message font
    float points = 0;
    int weight = 400;
};

constexpr int kInWindow = -1;

struct ControlDesign {
    const wchar_t* name;
    ControlKind kind;
    const wchar_t* text;
    const wchar_t* tooltip;  // nullptr: none
    TwipsRect geometry;      // relative to its container
    FontDesign font;
    int container = kInWindow;  // row of the frame that holds the control
};

struct FormDesign {
    const wchar_t* caption;
    float clientWidth;  // twips
    float clientHeight;
    int iconId;
    bool resizable;
    const ControlDesign* controls;
    std::size_t controlCount;
};

}  // namespace kt
