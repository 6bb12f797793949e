#pragma once
// The page's plain text, made on a thread of its own from the moment the
// window has the page: the user writes the note meanwhile, and Send finds
// the page's part of the text made.

#include <functional>
#include <memory>
#include <string>

#include "delivery/smtp/text_part.h"

namespace kt {

class PageTextInBackground {
public:
    explicit PageTextInBackground(std::shared_ptr<const std::wstring> htmlPage);

    // The text once made, letting the thread's messages through meanwhile;
    // none when `stop` says so first or it could not be made (the delivery
    // then makes the whole text itself).
    std::shared_ptr<const PageTextAhead> wait(const std::function<bool()>& stop) const;

private:
    struct Job;
    std::shared_ptr<Job> job_;  // none when no thread started
};

}  // namespace kt
