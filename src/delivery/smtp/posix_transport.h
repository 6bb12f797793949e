#pragma once
// The transport over POSIX sockets, for builds outside Windows.

#include "delivery/smtp/transport.h"

namespace kt {

std::unique_ptr<Transport> connectPosix(const std::string& host, unsigned short port,
                                        std::chrono::milliseconds connectTimeout);

}  // namespace kt
