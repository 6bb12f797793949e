#pragma once
// A page's pictures fetched in the background, a few at a time, in page
// order: each within 10 s and all within 30 s, at most 5 MB each. What
// fails or comes too late stays on the web; nothing here fails a message.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/background_work.h"

namespace kt {

class WebFetch;

class PictureFetch {
public:
    PictureFetch(std::vector<std::string> addresses, std::shared_ptr<const WebFetch> web);
    ~PictureFetch();

    // Waits until every picture is in, the fetch's time is up, or `stop` ends the wait.
    WaitEnd wait(const StopSignal* stop, std::chrono::milliseconds atMost) const;
    bool done() const;
    std::size_t finished() const;  // fetched or given up
    std::size_t total() const;
    // What came in so far that every mail reader shows (PNG, JPEG, GIF), by address.
    std::map<std::string, std::shared_ptr<const std::string>> pictures() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::vector<std::unique_ptr<BackgroundWork<bool>>> workers_;
};

}  // namespace kt
