#include "delivery/smtp/winsock_transport.h"
#include "support/platform_transport.h"

namespace kt {
TransportFactory platformTransport() { return connectWinsock; }
}  // namespace kt
