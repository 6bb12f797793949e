#pragma once
// A page made ready for its message: its addresses absolute (against its
// own <base>, else the address the host gave), its stylesheets inside, and
// where its pictures are, with the fetch that the page's network allows.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery/page/page_addresses.h"

namespace kt {

class WebFetch;

// The page's address as the host gave it; none for an empty or unreadable one.
std::optional<WebAddress> pageAddressOf(const std::wstring& address);

struct PreparedPage {
    std::shared_ptr<const std::wstring> html;
    std::vector<AddressInPage> pictures;  // in `html`
    std::shared_ptr<const WebFetch> web;  // fetches for this page
};

// Fetches the stylesheets as it goes: it takes as long as they do.
PreparedPage preparedPage(std::shared_ptr<const std::wstring> html, const std::optional<WebAddress>& pageAddress);

}  // namespace kt
