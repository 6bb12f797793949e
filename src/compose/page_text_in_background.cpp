#include "compose/page_text_in_background.h"

#include <chrono>

#include "compose/message_body.h"
#include "foundation/component_error.h"
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
    auto job = std::make_shared<Job>();
    if (!job->made) return;
    try {
        runOnThreadOfItsOwn(
            [job, page = std::move(htmlPage)] {
                try {
                    job->text = pageTextAhead(page);
                } catch (...) {
                }
                SetEvent(job->made.get());
            },
            L"Making the page's text");
        job_ = std::move(job);
    } catch (const ComponentError&) {
    }
}

std::shared_ptr<const PageTextAhead> PageTextInBackground::wait(const std::function<bool()>& stop) const {
    if (!job_) return nullptr;
    const auto end = waitLettingMessagesThrough({job_->made.get()}, std::chrono::steady_clock::time_point::max(), stop).end;
    return end == WaitEnd::Signalled ? job_->text : nullptr;
}

}  // namespace kt
