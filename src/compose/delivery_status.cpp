#include "compose/delivery_status.h"

#include "foundation/utf8.h"

namespace kt {
namespace {

// The share written of the data, which the bar shows short of its end.
constexpr int kWrittenRange = kDeliveryBarRange * 99 / 100;

constexpr float kTextLineTwips = 264;

}  // namespace

std::wstring deliveryStatusText(const DeliveryProgress& progress) {
    const std::wstring host = fromUtf8(progress.host());
    switch (progress.step()) {
        case DeliveryStep::Preparing:
            return L"Preparing the message...";
        case DeliveryStep::FetchingPictures:
            return L"Fetching the page's pictures: " + std::to_wstring(progress.picturesFinished()) + L" of " +
                   std::to_wstring(progress.picturesTotal());
        case DeliveryStep::LookingUp:
            return L"Looking up " + host + L"...";
        case DeliveryStep::Connecting:
            return L"Connecting to " + host + L"...";
        case DeliveryStep::Securing:
            return L"Securing the connection to " + host + L"...";
        case DeliveryStep::SigningIn:
            return L"Signing in to " + host + L"...";
        case DeliveryStep::Sending:
            if (progress.total() == 0) return L"Sending the message to " + host + L"...";
            return L"Sending the message to " + host + L": " +
                   std::to_wstring(progress.written() * 100 / progress.total()) + L" %";
        case DeliveryStep::AwaitingAcceptance:
            return L"Waiting for " + host + L" to accept the message...";
        case DeliveryStep::Accepted:
            break;
    }
    return L"The message was accepted.";
}

int deliveryBarPosition(const DeliveryProgress& progress) {
    switch (progress.step()) {
        case DeliveryStep::Sending:
            return progress.total() == 0 ? 0 : static_cast<int>(progress.written() * kWrittenRange / progress.total());
        case DeliveryStep::AwaitingAcceptance:
            return kWrittenRange;
        case DeliveryStep::Accepted:
            return kDeliveryBarRange;
        default:
            return 0;
    }
}

TwipsRect deliveryBarGeometry(const TwipsRect& lbInfo) {
    return {lbInfo.left, lbInfo.top + kTextLineTwips, lbInfo.width, lbInfo.height - kTextLineTwips - 12};
}

}  // namespace kt
