#pragma once
// The page made ready for its message from the moment the window has it,
// on threads of their own while the user writes the note: its addresses
// absolute and its stylesheets inside, then its plain text, while its
// pictures come in. Send finds it made, or waits for what is left, with Stop.

#include <memory>
#include <string>

#include "foundation/stop_signal.h"

namespace kt {

class PageTextAhead;
class PictureFetch;
struct PagePictures;
template <class Result>
class BackgroundWork;

class PageInBackground {
public:
    // `pageAddress` as the host gave it, empty for none; the text and the
    // pictures are made only for a message that carries them.
    PageInBackground(std::shared_ptr<const std::wstring> htmlPage, const std::wstring& pageAddress,
                     bool carriesPictures);
    ~PageInBackground();

    bool ready() const;
    // Waits until the page and its text are made, letting the thread's
    // messages through; false when `stop` ended the wait first.
    bool wait(const StopSignal& stop) const;

    // Once ready: the page as its message carries it (the page as handed in
    // where it could not be made), its text (none: the delivery makes it),
    // the fetch of its pictures (none when it names none), and those that came in.
    std::shared_ptr<const std::wstring> page() const;
    std::shared_ptr<const PageTextAhead> text() const;
    const PictureFetch* pictureFetch() const;
    std::shared_ptr<const PagePictures> pictures() const;

private:
    struct Ready;
    std::shared_ptr<const std::wstring> handedIn_;
    std::unique_ptr<const BackgroundWork<Ready>> work_;  // none when no thread started
};

}  // namespace kt
