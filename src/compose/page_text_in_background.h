#pragma once
// The page's plain text, made on a thread of its own from the moment the
// window has the page: the user writes the note meanwhile, and Send finds
// the page's part of the text made.

#include <functional>
#include <memory>
#include <string>

namespace kt {

class PageTextAhead;

class PageTextInBackground {
public:
    explicit PageTextInBackground(std::shared_ptr<const std::wstring> htmlPage);

    // Waits until the text is made, letting the thread's messages through;
    // false when `stop` said so first or the thread's quit came.
    bool wait(const std::function<bool()>& stop) const;
    // The text once made; none when it could not be made, and the delivery
    // then makes the whole text itself.
    std::shared_ptr<const PageTextAhead> text() const;

private:
    struct Job;
    std::shared_ptr<Job> job_;  // none when no thread started
};

}  // namespace kt
