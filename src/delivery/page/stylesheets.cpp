#include "delivery/page/stylesheets.h"

#include <algorithm>

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

// The sheets of `rules`, @import rules in `text`, each in its rule's place,
// as fetched with their url()s absolute, their own @import rules kept.
std::vector<Replacement> importedSheets(std::wstring_view text, const std::vector<AddressInPage>& rules,
                                        const SheetFetch& fetch);

// The sheet at `address` with its url()s absolute; `importsToo` follows its
// @import rules (those for every medium) in place.
std::optional<std::wstring> sheetAt(const std::string& address, const SheetFetch& fetch, bool importsToo) {
    const auto sheetAddress = resolveWebAddress(fromUtf8(address));
    const auto bytes = sheetAddress ? fetch(address) : std::nullopt;
    if (!bytes) return std::nullopt;
    StylesheetAddresses sheet = stylesheetAddresses(sheetText(*bytes), *sheetAddress);
    if (!importsToo) return std::move(sheet.css);
    return withReplacements(sheet.css, importedSheets(sheet.css, sheet.imports, fetch));
}

std::vector<Replacement> importedSheets(std::wstring_view text, const std::vector<AddressInPage>& rules,
                                        const SheetFetch& fetch) {
    std::vector<Replacement> imported;
    for (const auto& rule : rules) {
        // What follows the address (a media list, a layer) would need the rule itself.
        const std::wstring_view ruleText = text.substr(rule.start, rule.length);
        const std::size_t afterAddress = ruleText.find(L"\")");
        if (afterAddress == std::wstring_view::npos ||
            withoutOuterBlanks(ruleText.substr(afterAddress + 2, ruleText.size() - afterAddress - 3), L" \t\r\n") != L"")
            continue;
        if (auto css = sheetAt(rule.address, fetch, false)) imported.push_back({rule.start, rule.length, std::move(*css)});
    }
    return imported;
}

}  // namespace

std::wstring withStylesheetsInside(const PageAddresses& page, const SheetFetch& fetch) {
    std::vector<Replacement> sheets = importedSheets(*page.html, page.imports, fetch);
    for (auto& sheet : sheets) sheet.text = insideStyle(std::move(sheet.text));
    for (const auto& link : page.stylesheets)
        if (auto css = sheetAt(link.address, fetch, true))
            sheets.push_back({link.start, link.length, L"<style>" + insideStyle(std::move(*css)) + L"</style>"});
    std::sort(sheets.begin(), sheets.end(), [](const Replacement& a, const Replacement& b) { return a.start < b.start; });
    return withReplacements(*page.html, sheets);
}

}  // namespace kt
