#include "compose/page_in_background.h"

#include "compose/message_body.h"
#include "delivery/page/page_pictures.h"
#include "delivery/page/picture_fetch.h"
#include "delivery/page/prepared_page.h"
#include "foundation/background_work.h"

namespace kt {

struct PageInBackground::Ready {
    std::shared_ptr<const std::wstring> page;
    std::vector<AddressInPage> pictures;
    std::shared_ptr<const PictureFetch> fetch;
    std::shared_ptr<const PageTextAhead> text;
};

PageInBackground::PageInBackground(std::shared_ptr<const std::wstring> htmlPage, const std::wstring& pageAddress,
                                   bool carriesPictures)
    : handedIn_(std::move(htmlPage)) {
    // All of it only makes the message better or saves time: whatever fails
    // here, the page goes as it was handed in, and Send makes its text.
    try {
        work_ = std::make_unique<const BackgroundWork<Ready>>(
            [page = handedIn_, address = pageAddressOf(pageAddress), carriesPictures] {
                Ready ready{page};
                try {
                    PreparedPage prepared = preparedPage(page, address);
                    ready.page = prepared.html;
                    ready.pictures = std::move(prepared.pictures);
                    if (!carriesPictures) return ready;
                    if (auto addresses = picturesToFetch(ready.pictures); !addresses.empty())
                        ready.fetch = std::make_shared<const PictureFetch>(std::move(addresses), prepared.web);
                } catch (...) {
                }
                try {
                    ready.text = makePageTextAhead(ready.page);
                } catch (...) {
                }
                return ready;
            },
            L"Preparing the page");
    } catch (...) {
    }
}

PageInBackground::~PageInBackground() = default;

bool PageInBackground::ready() const { return !work_ || work_->done(); }

bool PageInBackground::wait(const StopSignal& stop) const {
    return !work_ || work_->wait(std::chrono::steady_clock::time_point::max(), &stop) == WaitEnd::Signalled;
}

std::shared_ptr<const std::wstring> PageInBackground::page() const {
    return work_ && work_->done() ? work_->result().page : handedIn_;
}

std::shared_ptr<const PageTextAhead> PageInBackground::text() const {
    return work_ && work_->done() ? work_->result().text : nullptr;
}

const PictureFetch* PageInBackground::pictureFetch() const {
    return work_ && work_->done() ? work_->result().fetch.get() : nullptr;
}

std::shared_ptr<const PagePictures> PageInBackground::pictures() const {
    if (!work_ || !work_->done()) return nullptr;
    const Ready& ready = work_->result();
    auto pictures = std::make_shared<const PagePictures>(kt::pagePictures(
        ready.page, ready.pictures, ready.fetch ? ready.fetch->pictures() : decltype(ready.fetch->pictures()){}));
    return pictures->pictures.empty() ? nullptr : pictures;
}

}  // namespace kt
