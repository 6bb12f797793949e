#include "delivery/sockets/delivery_progress.h"

#include <algorithm>

#include "delivery/mail_error.h"
#include "delivery/sockets/transport.h"

namespace kt {

DeliveryStopped::DeliveryStopped()
    : ComponentError(mailError(MailFailure::Stopped, L"The delivery was stopped; nothing was sent.")) {}

ServerSpokeFirst::ServerSpokeFirst()
    : ComponentError(mailError(MailFailure::ConnectionClosed,
                               L"The server answered, or hung up, before the message's end")) {}

void DeliveryProgress::enter(DeliveryStep step) {
    step_ = step;
    countingData_ = false;
    tell();
}

void DeliveryProgress::sendingData(std::uint64_t bytes) {
    step_ = DeliveryStep::Sending;
    total_ = bytes;
    written_ = 0;
    countingData_ = true;
    tell();
}

void DeliveryProgress::wrote(std::uint64_t bytes) {
    if (!countingData_ || bytes == 0) return;
    // Doubled leading dots and the end of the data come on top of what was counted.
    written_ = std::min(written_ + bytes, total_);
    tell();
}

void DeliveryProgress::throwIfStopped() const {
    if (stopRequested()) throw DeliveryStopped();
}

}  // namespace kt
