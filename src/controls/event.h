#pragma once
// An event with one listener, the way a window or timer reports to the object
// that holds it. The listener connects through a Subscription that disconnects
// when it goes away, so an event raised after its listener has let go reaches
// no one.

#include <functional>
#include <memory>
#include <utility>

namespace kt {

class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    Subscription(Subscription&& other) noexcept : disconnect_(std::exchange(other.disconnect_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        reset();
        disconnect_ = std::exchange(other.disconnect_, nullptr);
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() noexcept {
        if (auto disconnect = std::exchange(disconnect_, nullptr)) disconnect();
    }

private:
    std::function<void()> disconnect_;
};

template <class... Args>
class Event {
public:
    using Handler = std::function<void(Args...)>;

    // Connects the one listener, in place of any earlier one. Each
    // subscription disconnects only its own listener.
    [[nodiscard]] Subscription subscribe(Handler handler) {
        slot_ = std::make_shared<Handler>(std::move(handler));
        std::weak_ptr<Handler> slot = slot_;
        return Subscription([slot] {
            if (auto live = slot.lock()) *live = nullptr;
        });
    }

    // The handler runs from a copy, so it may drop its own subscription.
    // False when no one listens.
    bool raise(Args... args) const {
        const Handler handler = slot_ ? *slot_ : nullptr;
        if (!handler) return false;
        handler(args...);
        return true;
    }

private:
    std::shared_ptr<Handler> slot_;
};

}  // namespace kt
