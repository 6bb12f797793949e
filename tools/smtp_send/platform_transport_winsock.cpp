#include "delivery/smtp/winsock_transport.h"
#include "platform_transport.h"

namespace kt {
TransportFactory platformTransport() { return connectWinsock; }
}  // namespace kt
