#pragma once
// A name lookup on a thread of its own: the system's resolver may take as
// long as it likes, while the waiting thread's windows keep answering and
// the delivery's deadline and Stop still hold.

#include "delivery/sockets/event_socket.h"
#include "delivery/sockets/socket_transport.h"

namespace kt {

// The addresses `lookup` finds for host and port. Throws DeliveryStopped
// when `stop` ends the wait first, a time-out when the deadline comes first, or
// what the lookup threw. A lookup given up finishes on its own; its thread
// keeps the module loaded until then.
std::vector<ResolvedAddress> lookUpInBackground(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, Clock::time_point deadline,
                                                const StopSignal& stop);

}  // namespace kt
