#include "compose/page_text_in_background.h"

#include <chrono>

#include "compose/message_body.h"
#include "foundation/handles.h"
#include "foundation/message_pump.h"
#include "foundation/module.h"

namespace kt {

// What the window and the thread share; it ends with the last of them.
struct PageTextInBackground::Job {
    UniqueKernelHandle made{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::shared_ptr<const PageTextAhead> text;  // set before `made`
};

PageTextInBackground::PageTextInBackground(std::shared_ptr<const std::wstring> htmlPage) {
    // The text made ahead only saves time: whatever fails here, Send makes it.
    try {
        auto job = std::make_shared<Job>();
        if (!job->made) return;
        runOnThreadOfItsOwn(
            [job, page = std::move(htmlPage)] {
                try {
                    job->text = makePageTextAhead(page);
                } catch (...) {
                }
                SetEvent(job->made.get());
            },
            L"Making the page's text");
        job_ = std::move(job);
    } catch (...) {
    }
}

bool PageTextInBackground::wait(const std::function<bool()>& stop) const {
    return !job_ || waitLettingMessagesThrough({job_->made.get()}, std::chrono::steady_clock::time_point::max(), stop)
                            .end == WaitEnd::Signalled;
}

std::shared_ptr<const PageTextAhead> PageTextInBackground::text() const {
    return job_ && WaitForSingleObject(job_->made.get(), 0) == WAIT_OBJECT_0 ? job_->text : nullptr;
}

}  // namespace kt
