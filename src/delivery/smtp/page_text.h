#pragma once
// A page's text as a careful reader would write it by hand, for the plain
// part that goes with an HTML message: paragraphs and headings a blank line
// apart, line breaks kept, list items on lines of their own behind "- ",
// table rows on lines of their own with their cells apart, links as
// "text <url>", images as their alt text, entities decoded; scripts,
// styles, comments and the head left out; blanks collapsed as a browser
// collapses them. One pass, linear in the page however it is nested or
// broken: no element is remembered but the few whose end matters.

#include <string>
#include <string_view>

namespace kt {

// Lines end with CR LF; there is no line break at the end.
std::wstring pageText(std::wstring_view html);

}  // namespace kt
