#pragma once
// The page's plain text, made on a thread of its own from the moment the
// window has the page: the user writes the note meanwhile, and Send finds
// the page's part of the text made.

#include <memory>
#include <string>

#include "foundation/stop_signal.h"

namespace kt {

class PageTextAhead;
template <class Result>
class BackgroundWork;

class PageTextInBackground {
public:
    explicit PageTextInBackground(std::shared_ptr<const std::wstring> htmlPage);
    ~PageTextInBackground();

    // Waits until the text is made, letting the thread's messages through;
    // false when `stop` ended the wait first.
    bool wait(const StopSignal& stop) const;
    // The text once made; none when it could not be made, and the delivery
    // then makes the whole text itself.
    std::shared_ptr<const PageTextAhead> text() const;

private:
    std::unique_ptr<const BackgroundWork<std::shared_ptr<const PageTextAhead>>> work_;  // none when no thread started
};

}  // namespace kt
