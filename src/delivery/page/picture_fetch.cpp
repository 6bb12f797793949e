#include "delivery/page/picture_fetch.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "delivery/page/page_pictures.h"
#include "delivery/page/picture_conversion.h"
#include "delivery/page/web_fetch.h"

namespace kt {
namespace {

constexpr std::size_t kConnectionsAtOnce = 6;  // as browsers open to one server
constexpr std::size_t kLargestPicture = 5u << 20;
constexpr std::chrono::seconds kTimeForOne{10};
constexpr std::chrono::seconds kTimeForAll{30};

}  // namespace

struct PictureFetch::Shared {
    std::vector<std::string> addresses;
    std::shared_ptr<const WebFetch> web;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kTimeForAll;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    mutable std::mutex guard;
    std::map<std::string, std::shared_ptr<const std::string>> pictures;  // under `guard`

    void fetchOne(const std::string& address) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        auto bytes = web->get(address, kLargestPicture, std::min<std::chrono::milliseconds>(left, kTimeForOne));
        if (!bytes) return;
        const PictureKind kind = pictureKindOf(*bytes);
        if (kind == PictureKind::WebP || kind == PictureKind::Avif) bytes = asPng(*bytes);
        if (!bytes || !showsInEveryReader(pictureKindOf(*bytes))) return;
        const std::lock_guard lock(guard);
        pictures.emplace(address, std::make_shared<const std::string>(std::move(*bytes)));
    }
};

PictureFetch::PictureFetch(std::vector<std::string> addresses, std::shared_ptr<const WebFetch> web)
    : shared_(std::make_shared<Shared>()) {
    shared_->addresses = std::move(addresses);
    shared_->web = std::move(web);
    const std::size_t workers = std::min(kConnectionsAtOnce, shared_->addresses.size());
    for (std::size_t i = 0; i < workers; ++i)
        workers_.push_back(std::make_unique<BackgroundWork<bool>>(
            [shared = shared_] {
                for (std::size_t n; (n = shared->next++) < shared->addresses.size(); ++shared->finished) {
                    try {
                        shared->fetchOne(shared->addresses[n]);
                    } catch (...) {  // one picture less; the message goes all the same
                    }
                }
                return true;
            },
            L"Fetching the page's pictures"));
}

PictureFetch::~PictureFetch() = default;

WaitEnd PictureFetch::wait(const StopSignal* stop, std::chrono::milliseconds atMost) const {
    const auto deadline = std::min(shared_->deadline, std::chrono::steady_clock::now() + atMost);
    for (const auto& worker : workers_) {
        const WaitEnd end = worker->wait(deadline, stop);
        if (end != WaitEnd::Signalled) return end;
    }
    return WaitEnd::Signalled;
}

bool PictureFetch::done() const {
    return std::chrono::steady_clock::now() >= shared_->deadline ||
           std::all_of(workers_.begin(), workers_.end(), [](const auto& worker) { return worker->done(); });
}

std::size_t PictureFetch::finished() const { return std::min(shared_->finished.load(), total()); }

std::size_t PictureFetch::total() const { return shared_->addresses.size(); }

std::map<std::string, std::shared_ptr<const std::string>> PictureFetch::pictures() const {
    const std::lock_guard lock(shared_->guard);
    return shared_->pictures;
}

}  // namespace kt
