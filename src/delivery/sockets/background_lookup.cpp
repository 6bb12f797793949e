#include "delivery/sockets/background_lookup.h"

#include <exception>
#include <memory>

#include "delivery/smtp/utf8.h"
#include "foundation/api_error.h"
#include "foundation/handles.h"
#include "foundation/module.h"

namespace kt {
namespace {

// What the lookup thread and the waiting thread share; it ends with the last of them.
struct LookupJob {
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::vector<ResolvedAddress> addresses;
    std::exception_ptr failure;
};

}  // namespace

std::vector<ResolvedAddress> lookUpInBackground(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, Clock::time_point deadline,
                                                const std::function<bool()>& stop) {
    const std::wstring where = fromUtf8(host) + L":" + std::to_wstring(port);
    auto job = std::make_shared<LookupJob>();
    if (!job->done) throw apiError(GetLastError(), L"Looking up " + where + L" failed");
    runOnThreadOfItsOwn(
        [job, lookup, host, port] {
            try {
                job->addresses = lookup(host, port);
            } catch (...) {
                job->failure = std::current_exception();
            }
            SetEvent(job->done.get());
        },
        L"Looking up " + where + L" failed");

    switch (waitLettingMessagesThrough({job->done.get()}, deadline, stop).end) {
        case WaitEnd::Stopped:
            throw DeliveryStopped();
        case WaitEnd::TimedOut:
            throw apiError(WSAETIMEDOUT, L"Looking up " + where + L" took too long");
        case WaitEnd::Signalled:
            break;
    }
    if (job->failure) std::rethrow_exception(job->failure);
    return std::move(job->addresses);
}

}  // namespace kt
