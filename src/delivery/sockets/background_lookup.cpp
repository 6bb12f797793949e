#include "delivery/sockets/background_lookup.h"

#include <exception>
#include <memory>

#include "delivery/smtp/utf8.h"
#include "foundation/api_error.h"
#include "foundation/handles.h"

namespace kt {
namespace {

// What the lookup thread and the waiting thread share; it ends with the last of them.
struct LookupJob {
    AddressLookup lookup;
    std::string host;
    unsigned short port = 0;
    HMODULE module = nullptr;  // a reference of the thread's own
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::vector<ResolvedAddress> addresses;
    std::exception_ptr failure;
};

DWORD WINAPI runLookup(void* parameter) {
    HMODULE module = nullptr;
    {
        const std::unique_ptr<std::shared_ptr<LookupJob>> held(static_cast<std::shared_ptr<LookupJob>*>(parameter));
        LookupJob& job = **held;
        module = job.module;
        try {
            job.addresses = job.lookup(job.host, job.port);
        } catch (...) {
            job.failure = std::current_exception();
        }
        SetEvent(job.done.get());
    }
    // The code that runs here is the module's: it goes only after this thread.
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

std::vector<ResolvedAddress> lookUpInBackground(const AddressLookup& lookup, const std::string& host,
                                                unsigned short port, Clock::time_point deadline,
                                                const std::function<bool()>& stop) {
    const std::wstring where = fromUtf8(host) + L":" + std::to_wstring(port);
    auto job = std::make_shared<LookupJob>();
    job->lookup = lookup;
    job->host = host;
    job->port = port;
    if (!job->done) throw apiError(GetLastError(), L"Looking up " + where + L" failed");
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&runLookup),
                            &job->module))
        throw apiError(GetLastError(), L"Looking up " + where + L" failed");
    auto parameter = std::make_unique<std::shared_ptr<LookupJob>>(job);
    const UniqueKernelHandle thread(CreateThread(nullptr, 0, runLookup, parameter.get(), 0, nullptr));
    if (!thread) {
        const DWORD error = GetLastError();
        FreeLibrary(job->module);
        throw apiError(error, L"Looking up " + where + L" failed");
    }
    parameter.release();  // the thread's now

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
