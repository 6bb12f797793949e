#pragma once
// A page's stylesheets inside it, since mail readers ignore <link>: each
// sheet for all or screen media goes into a <style> at its link's place,
// where the cascade keeps it, with its url()s absolute and its @import rules
// followed one level deep, as are the @import rules of the page's own <style>
// elements. A sheet that cannot be had keeps its link or rule.

#include <functional>
#include <optional>
#include <string>

#include "delivery/page/page_addresses.h"

namespace kt {

// The bytes at an address, or none.
using SheetFetch = std::function<std::optional<std::string>(const std::string& address)>;

std::wstring withStylesheetsInside(const PageAddresses& page, const SheetFetch& fetch);

}  // namespace kt
