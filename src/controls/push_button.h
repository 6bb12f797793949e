#pragma once
// KT_CB, the push button of both windows: caption, font and tooltip from the
// design, position properties kept by its form, and a click event.

#include "controls/event.h"
#include "controls/form_control.h"

namespace kt {

class KT_CB : public FormControl {
public:
    using FormControl::FormControl;

    Event<> Click;

    void onCommand(WORD notification) override;
};

}  // namespace kt
