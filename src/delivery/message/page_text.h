#pragma once
// A page's text as a careful reader would write it by hand, for the plain
// part that goes with an HTML message: paragraphs and headings a blank line
// apart, line breaks kept, list items on lines of their own behind "- ",
// table rows on lines of their own with their cells apart, links as
// "text <url>", images as their alt text, entities decoded; scripts,
// styles, comments and the head left out; blanks collapsed as a browser
// collapses them. One pass, linear in the page however it is nested or
// broken: no element is remembered but the few whose end matters.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kt {

// Lines end with CR LF; there is no line break at the end.
std::wstring pageText(std::wstring_view html);

// The text with its character references decoded (the named ones of HTML 4,
// &apos; and numeric ones), as a browser reads text and attribute values.
std::wstring decodedCharacterReferences(std::wstring_view text);

// Renders a page read in parts, each going on where the last one ended: a
// body whose start is known late (the note) and whose rest early (the page)
// can be rendered as the two, and the rest's text kept for any start that
// leaves the reader as a sample start did.
using SettledText = std::function<void(std::wstring_view piece)>;

class PageTextReader {
public:
    PageTextReader();
    PageTextReader(const PageTextReader& other);
    PageTextReader& operator=(const PageTextReader&) = delete;
    ~PageTextReader();

    // Reads the next part. Only where the parts before ended at a break does
    // the text come out as if they had been read as one.
    void read(std::wstring_view part);
    // True when the last part left nothing open that the next could go on
    // with: no tag, comment, raw text or entity.
    bool atBreak() const;
    // True when whatever is read next renders after this reader as after `other`.
    bool sameState(const PageTextReader& other) const;

    // From now on, hands the text to `sink` as it settles, in pieces that
    // each end with a line break; text() then holds only what is not handed on.
    void handSettledTextTo(SettledText sink);

    const std::wstring& text() const;
    // The text, taken: the reading is over.
    std::wstring takeText();

private:
    class Reader;
    std::unique_ptr<Reader> reader_;
};

}  // namespace kt
