// How fast a page's plain-text rendering is made: the 10 MB page of the SMTP
// benchmark and a page of dense markup (articles, lists, links, entities),
// each converted five times. Prints the median in MB/s of the page's UTF-8.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "delivery/message/page_text.h"
#include "foundation/utf8.h"

namespace {

std::wstring repeated(const std::wstring& head, const std::wstring& piece, std::size_t bytes) {
    std::wstring page = head;
    for (std::size_t size = kt::utf8Length(head); size < bytes; size += kt::utf8Length(piece)) page += piece;
    return page;
}

void measure(const char* what, const std::wstring& page) {
    const double megabytes = static_cast<double>(kt::utf8Length(page)) / (1024 * 1024);
    std::vector<double> rates;
    std::size_t text = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        text += kt::pageText(page).size();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        rates.push_back(megabytes / took.count());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("  %-40s %6.1f MB/s (%.1f MB, text %zu characters a run)\n", what, rates[2], megabytes, text / 5);
}

}  // namespace

int main() {
    std::printf("The plain-text rendering of a page, median of 5 runs:\n");
    measure("the benchmark's 10 MB page (a table)",
            repeated(L"<html><body><table>\r\n", L"<tr><td>Ardwyn</td><td>a row of the page that is mailed</td></tr>\r\n",
                     10u << 20));
    measure("10 MB of dense article markup",
            repeated(L"<html><head><style>p{}</style></head><body>",
                     L"<h2>Gr\u00fc\u00dfe &amp; news</h2><p>Text with <a href=\"https://example.com/a?b=1&amp;c=2\">a "
                     L"link</a>, <b>bold</b> &#8212; <img src=\"x.png\" alt=\"a chart\"></p><ul><li>one</li>"
                     L"<li>two</li></ul><!-- note --><script>var s = '<p>';</script>\r\n",
                     10u << 20));
}
