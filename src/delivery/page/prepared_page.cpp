#include "delivery/page/prepared_page.h"

#include "delivery/page/stylesheets.h"
#include "delivery/page/web_fetch.h"

namespace kt {
namespace {

constexpr std::size_t kLargestStylesheet = 2u << 20;
constexpr std::chrono::seconds kTimeForASheet{10};

}  // namespace

std::optional<WebAddress> pageAddressOf(const std::wstring& address) {
    if (address.empty()) return std::nullopt;
    return resolveWebAddress(address);
}

PreparedPage preparedPage(std::shared_ptr<const std::wstring> html, const std::optional<WebAddress>& pageAddress) {
    PageAddresses page = pageAddresses(std::move(html), pageAddress);
    PreparedPage prepared;
    prepared.web = std::make_shared<const WebFetch>(page.base);
    if (!page.stylesheets.empty() || !page.imports.empty()) {
        auto styled = std::make_shared<const std::wstring>(withStylesheetsInside(page, [&](const std::string& address) {
            return prepared.web->get(address, kLargestStylesheet, kTimeForASheet);
        }));
        // The sheets brought pictures of their own; every address is absolute now.
        page = pageAddresses(std::move(styled), page.base);
    }
    prepared.html = std::move(page.html);
    prepared.pictures = std::move(page.pictures);
    return prepared;
}

}  // namespace kt
