#include "delivery/page/stylesheets.h"

#include "foundation/characters.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

// A sheet's text: UTF-8 (the web's default for CSS), without its byte order
// mark or the @charset rule that may stand only at a sheet's start.
std::wstring sheetText(std::string bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (bytes.compare(0, 10, "@charset \"") == 0)
        if (const auto end = bytes.find("\";"); end != std::string::npos) bytes.erase(0, end + 2);
    return fromUtf8(bytes);
}

// Text that can stand inside <style>: nothing in it may close the element.
std::wstring insideStyle(std::wstring css) {
    for (std::size_t at = css.find(L"</"); at != std::wstring::npos; at = css.find(L"</", at + 3))
        if (asciiLowerCase(css.substr(at + 2, 5)) == L"style") css.replace(at, 2, L"<\\/");
    return css;
}

// The sheet at `address` with its url()s absolute; `importsToo` follows its
// @import rules (those for every medium) in place.
std::optional<std::wstring> sheetAt(const std::string& address, const SheetFetch& fetch, bool importsToo) {
    const auto sheetAddress = resolveWebAddress(fromUtf8(address));
    const auto bytes = sheetAddress ? fetch(address) : std::nullopt;
    if (!bytes) return std::nullopt;
    StylesheetAddresses sheet = stylesheetAddresses(sheetText(*bytes), *sheetAddress);
    if (!importsToo) return std::move(sheet.css);
    std::vector<Replacement> imported;
    for (const auto& rule : sheet.imports) {
        // What follows the address (a media list, a layer) would need the rule itself.
        const std::wstring_view text = std::wstring_view(sheet.css).substr(rule.start, rule.length);
        const std::size_t afterAddress = text.find(L"\")");
        if (afterAddress == std::wstring_view::npos ||
            withoutOuterBlanks(text.substr(afterAddress + 2, text.size() - afterAddress - 3), L" \t\r\n") != L"")
            continue;
        if (auto css = sheetAt(rule.address, fetch, false))
            imported.push_back({rule.start, rule.length, std::move(*css)});
    }
    return withReplacements(sheet.css, imported);
}

}  // namespace

std::wstring withStylesheetsInside(const PageAddresses& page, const SheetFetch& fetch) {
    std::vector<Replacement> sheets;
    for (const auto& link : page.stylesheets)
        if (auto css = sheetAt(link.address, fetch, true))
            sheets.push_back({link.start, link.length, L"<style>" + insideStyle(std::move(*css)) + L"</style>"});
    return withReplacements(page.html, sheets);
}

}  // namespace kt
