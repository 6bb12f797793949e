#include "delivery/smtp/posix_transport.h"
#include "platform_transport.h"

namespace kt {
TransportFactory platformTransport() { return connectPosix; }
}  // namespace kt
