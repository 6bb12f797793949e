#pragma once
// A listener on 127.0.0.1 at a port the system chooses, for the browser to
// bring a sign-in's answer to: it takes one HTTP request at a time and
// answers it with a page. Its waits let the thread's messages through.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "foundation/secret_text.h"
#include "foundation/stop_signal.h"

namespace kt {

class LoopbackListener {
public:
    // Listens at once; throws when it cannot.
    LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    ~LoopbackListener();

    unsigned short port() const;

    // The head of the next request (request line and header lines), or
    // nothing when the deadline came or `stop` ended the wait first. It
    // carries the authorization code: every copy is wiped.
    std::optional<SecretText> nextRequest(std::chrono::steady_clock::time_point deadline, const StopSignal& stop);
    // Answers the request last taken with an HTML page, and closes its connection.
    void answer(const std::string& html);

private:
    struct Sockets;
    std::unique_ptr<Sockets> sockets_;
};

}  // namespace kt
