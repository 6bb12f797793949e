#pragma once
// A page's addresses as a mail reader needs them: every one absolute, since
// readers drop <base> and resolve nothing against a page they did not load;
// and where its pictures and stylesheets are, so that they can go inside the
// message.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/page/web_address.h"

namespace kt {

// An address in the page's text: where it stands (as written there, entities
// and all), and what it stands for.
struct AddressInPage {
    std::size_t start = 0;
    std::size_t length = 0;
    std::string address;  // absolute
};

// A <link rel=stylesheet> for all or screen media: the whole tag, and the sheet's address.
struct StylesheetInPage {
    std::size_t start = 0;
    std::size_t length = 0;
    std::string address;
};

struct PageAddresses {
    // The page with every address absolute (src, href, background, poster,
    // url() in styles), one candidate of each srcset as src, and <base> gone:
    // the very text read where none of that changed it.
    std::shared_ptr<const std::wstring> html;
    // In `html`, in page order: img and image input sources, background
    // attributes, video posters, and url() in style attributes and <style>.
    std::vector<AddressInPage> pictures;
    std::vector<StylesheetInPage> stylesheets;
    // The @import rules of <style> elements, each whole (";" included), in `html`.
    std::vector<AddressInPage> imports;
    // What relative addresses were resolved against: the page's own <base>
    // (itself resolved against the page's address), else the page's address.
    std::optional<WebAddress> base;
};

// Reads a page whose own address is `pageAddress` (none: relative addresses
// stay as they are).
PageAddresses pageAddresses(std::shared_ptr<const std::wstring> html, const std::optional<WebAddress>& pageAddress);

// A stylesheet with its url() made absolute against its own address, and
// its @import rules: each rule's place (the whole rule, ";" included) and the
// address it imports.
struct StylesheetAddresses {
    std::wstring css;
    std::vector<AddressInPage> imports;
};
StylesheetAddresses stylesheetAddresses(std::wstring_view css, const WebAddress& sheetAddress);

// The text with each span replaced, spans in order and apart; the rest as it was.
struct Replacement {
    std::size_t start = 0;
    std::size_t length = 0;
    std::wstring text;
};
std::wstring withReplacements(std::wstring_view text, const std::vector<Replacement>& replacements);

}  // namespace kt
