#include "delivery/sockets/background_lookup.h"

#include "foundation/api_error.h"
#include "foundation/background_work.h"
#include "foundation/utf8.h"

namespace kt {

std::vector<ResolvedAddress> lookUpInBackground(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, Clock::time_point deadline,
                                                const StopSignal& stop) {
    const std::wstring where = fromUtf8(host) + L":" + std::to_wstring(port);
    const BackgroundWork<std::vector<ResolvedAddress>> found([lookup, host, port] { return lookup(host, port); },
                                                             L"Looking up " + where + L" failed");
    switch (found.wait(deadline, &stop)) {
        case WaitEnd::Stopped:
            throw DeliveryStopped();
        case WaitEnd::TimedOut:
            throw apiError(WSAETIMEDOUT, L"Looking up " + where + L" took too long");
        case WaitEnd::Signalled:
            break;
    }
    return std::move(found.result());
}

}  // namespace kt
