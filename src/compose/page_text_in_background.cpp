#include "compose/page_text_in_background.h"

#include "compose/message_body.h"
#include "foundation/background_work.h"

namespace kt {

PageTextInBackground::PageTextInBackground(std::shared_ptr<const std::wstring> htmlPage) {
    // The text made ahead only saves time: whatever fails here, Send makes it.
    try {
        work_ = std::make_unique<const BackgroundWork<std::shared_ptr<const PageTextAhead>>>(
            [page = std::move(htmlPage)]() -> std::shared_ptr<const PageTextAhead> {
                try {
                    return makePageTextAhead(page);
                } catch (...) {
                    return nullptr;
                }
            },
            L"Making the page's text");
    } catch (...) {
    }
}

PageTextInBackground::~PageTextInBackground() = default;

bool PageTextInBackground::wait(const StopSignal& stop) const {
    return !work_ || work_->wait(std::chrono::steady_clock::time_point::max(), &stop) == WaitEnd::Signalled;
}

std::shared_ptr<const PageTextAhead> PageTextInBackground::text() const {
    return work_ && work_->done() ? work_->result() : nullptr;
}

}  // namespace kt
