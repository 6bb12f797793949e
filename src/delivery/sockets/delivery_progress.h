#pragma once
// How far one delivery has got, told to whoever watches it, and the way that
// watcher asks it to stop. The delivery runs on the watcher's thread, letting
// its messages through while it waits: a Stop arrives inside one of those
// waits, which then ends at once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/component_error.h"
#include "foundation/stop_signal.h"

namespace kt {

enum class DeliveryStep {
    Preparing,           // the message is being put together
    FetchingPictures,    // the page's pictures that are still coming in
    LookingUp,           // the server's name
    Connecting,          // to one of its addresses, or racing several
    Securing,            // the TLS handshake
    SigningIn,           // with the server, or the user asked for a sign-in
    Sending,             // the envelope, then the message's bytes
    AwaitingAcceptance,  // every byte is out; the server decides
    Accepted,
};

// What a delivery throws when it was stopped: nothing was delivered.
class DeliveryStopped : public ComponentError {
public:
    DeliveryStopped();
};

class DeliveryProgress final : public StopSignal {
public:
    // Told after each new step, each write of the message's bytes, and at the end.
    using Listener = std::function<void(const DeliveryProgress&)>;

    DeliveryProgress() = default;
    explicit DeliveryProgress(Listener changed) : changed_(std::move(changed)) {}
    DeliveryProgress(const DeliveryProgress&) = delete;
    DeliveryProgress& operator=(const DeliveryProgress&) = delete;

    // --- the delivery's side
    // Whether anyone hears of it: what is only for showing need not be counted.
    bool watched() const noexcept { return static_cast<bool>(changed_); }
    void server(std::string host) { host_ = std::move(host); }
    void enter(DeliveryStep step);
    // Enters FetchingPictures, or tells how many of them are in.
    void fetchingPictures(std::size_t finished, std::size_t total) {
        step_ = DeliveryStep::FetchingPictures;
        picturesFinished_ = finished;
        picturesTotal_ = total;
        tell();
    }
    // Enters Sending the message's data: `bytes` of it to write.
    void sendingData(std::uint64_t bytes);
    // Bytes written to the connection (after TLS, counted as the bytes they carry).
    void wrote(std::uint64_t bytes);
    // The delivery is over, whichever way it ended.
    void finish() {
        finished_ = true;
        tell();
    }
    // Whether the watcher asked to stop while the delivery still can.
    bool stopRequested() const noexcept override { return stopRequested_ && canStop(); }
    void throwIfStopped() const;

    // --- the watcher's side
    // Ends the delivery at its next wait; does nothing once the message's
    // final line is out, when the server may have accepted it already.
    void stop() noexcept { stopRequested_ = canStop(); }
    bool canStop() const noexcept override { return step_ < DeliveryStep::AwaitingAcceptance; }
    DeliveryStep step() const noexcept { return step_; }
    bool finished() const noexcept { return finished_; }
    const std::string& host() const noexcept { return host_; }
    // Of the message's data: how much is written, and how much there is (0 before Sending data).
    std::uint64_t written() const noexcept { return written_; }
    std::uint64_t total() const noexcept { return total_; }
    // Of the page's pictures: how many are in (or given up), and how many there are.
    std::size_t picturesFinished() const noexcept { return picturesFinished_; }
    std::size_t picturesTotal() const noexcept { return picturesTotal_; }

private:
    void tell() const {
        if (changed_) changed_(*this);
    }

    Listener changed_;
    std::string host_;
    DeliveryStep step_ = DeliveryStep::Preparing;
    std::uint64_t written_ = 0;
    std::uint64_t total_ = 0;
    std::size_t picturesFinished_ = 0;
    std::size_t picturesTotal_ = 0;
    bool countingData_ = false;
    bool stopRequested_ = false;
    bool finished_ = false;
};

}  // namespace kt
