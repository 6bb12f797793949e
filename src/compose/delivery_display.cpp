#include "compose/delivery_display.h"

#include "compose/delivery_status.h"
#include "compose/frmEmail.h"
#include "controls/handler_boundary.h"

namespace kt {

DeliveryDisplay::DeliveryDisplay(frmEmail& form)
    : form_(form),
      infoText_(form.lbInfo().Text()),
      bar_(form.hwnd(), barPlace(), kDeliveryBarRange),
      taskbar_(form.hwnd()) {
    form_.KT_CB_Cancel().Text(L"Stop");
}

DeliveryDisplay::~DeliveryDisplay() {
    ignoreFailure([&] {
        form_.KT_CB_Cancel().Text(L"Cancel");
        EnableWindow(form_.KT_CB_Cancel().hwnd(), TRUE);
        form_.lbInfo().Text(infoText_);
    });
}

void DeliveryDisplay::show(const DeliveryProgress& progress) {
    const std::wstring status = deliveryStatusText(progress);
    if (form_.lbInfo().Text() != status) form_.lbInfo().Text(status);
    const int position = deliveryBarPosition(progress);
    bar_.position(position);
    taskbar_.value(static_cast<ULONGLONG>(position), kDeliveryBarRange);
    const HWND stop = form_.KT_CB_Cancel().hwnd();
    if ((IsWindowEnabled(stop) != FALSE) != progress.canStop()) EnableWindow(stop, progress.canStop());
}

void DeliveryDisplay::place() const { bar_.place(barPlace()); }

PixelRect DeliveryDisplay::barPlace() const {
    const FormControl& label = form_.lbInfo();
    return form_.pixelsFor(label.design(),
                           deliveryBarGeometry({label.Left(), label.Top(), label.Width(), label.Height()}));
}

}  // namespace kt
