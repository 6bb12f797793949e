#pragma once
// What the composition window shows while its message goes, for as long as
// this lives: the status in the information label, a progress bar over the
// label's second line, the same progress on the taskbar button, and Cancel
// reading "Stop" (disabled once the message's end is out). All of it is back
// as it was when this ends, whichever way the delivery ended.

#include <string>

#include "controls/progress_bar.h"
#include "controls/taskbar_progress.h"
#include "delivery/sockets/delivery_progress.h"

namespace kt {

class frmEmail;

class DeliveryDisplay {
public:
    explicit DeliveryDisplay(frmEmail& form);
    DeliveryDisplay(const DeliveryDisplay&) = delete;
    DeliveryDisplay& operator=(const DeliveryDisplay&) = delete;
    ~DeliveryDisplay();

    void show(const DeliveryProgress& progress);
    // The bar follows the label after a layout.
    void place() const;

private:
    PixelRect barPlace() const;

    frmEmail& form_;
    const std::wstring infoText_;
    const ProgressBar bar_;
    TaskbarProgress taskbar_;
};

}  // namespace kt
