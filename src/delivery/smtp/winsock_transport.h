#pragma once
// The transport over Winsock. While it waits for the network it lets the
// thread's messages through, so the user interface keeps repainting.

#include "delivery/smtp/transport.h"

namespace kt {

std::unique_ptr<Transport> connectWinsock(const std::string& host, unsigned short port,
                                          std::chrono::milliseconds connectTimeout);

}  // namespace kt
