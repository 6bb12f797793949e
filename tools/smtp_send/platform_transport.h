#pragma once
// The socket layer of the platform the test client runs on.

#include "delivery/smtp/transport.h"

namespace kt {
TransportFactory platformTransport();
}
