#include "delivery/smtp/posix_transport.h"
#include "support/platform_transport.h"

namespace kt {
TransportFactory platformTransport() { return connectPosix; }
}  // namespace kt
