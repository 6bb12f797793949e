#pragma once
// What the composition window shows of a delivery under way: a short text,
// the bar's position, and where the bar goes.

#include <string>

#include "controls/twips.h"
#include "delivery/sockets/delivery_progress.h"

namespace kt {

constexpr int kDeliveryBarRange = 1000;

std::wstring deliveryStatusText(const DeliveryProgress& progress);

// Out of kDeliveryBarRange: it moves with the message's bytes written and
// reaches its end only once the server has accepted the message.
int deliveryBarPosition(const DeliveryProgress& progress);

// Over the second line of the information label's box, whose first line
// holds the text.
TwipsRect deliveryBarGeometry(const TwipsRect& lbInfo);

}  // namespace kt
