#include "delivery/message/page_text.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "foundation/characters.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

constexpr std::size_t kDeepestListIndent = 8;
constexpr std::size_t kLongestEntity = 32;
constexpr std::size_t kSettledPiece = std::size_t{1} << 16;  // characters of text handed on at once

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }
bool isNameCharacter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'); }

struct NamedEntity {
    const wchar_t* name;
    char32_t character;
};

// The named entities of HTML 4, and &apos;; others stay as they are written.
constexpr NamedEntity kEntities[] = {
    {L"quot", U'"'}, {L"amp", U'&'}, {L"apos", U'\''}, {L"lt", U'<'}, {L"gt", U'>'}, {L"nbsp", U'\u00A0'},
    {L"iexcl", U'\u00A1'}, {L"cent", U'\u00A2'}, {L"pound", U'\u00A3'}, {L"curren", U'\u00A4'}, {L"yen", U'\u00A5'},
    {L"brvbar", U'\u00A6'}, {L"sect", U'\u00A7'}, {L"uml", U'\u00A8'}, {L"copy", U'\u00A9'}, {L"ordf", U'\u00AA'},
    {L"laquo", U'\u00AB'}, {L"not", U'\u00AC'}, {L"shy", U'\u00AD'}, {L"reg", U'\u00AE'}, {L"macr", U'\u00AF'},
    {L"deg", U'\u00B0'}, {L"plusmn", U'\u00B1'}, {L"sup2", U'\u00B2'}, {L"sup3", U'\u00B3'}, {L"acute", U'\u00B4'},
    {L"micro", U'\u00B5'}, {L"para", U'\u00B6'}, {L"middot", U'\u00B7'}, {L"cedil", U'\u00B8'}, {L"sup1", U'\u00B9'},
    {L"ordm", U'\u00BA'}, {L"raquo", U'\u00BB'}, {L"frac14", U'\u00BC'}, {L"frac12", U'\u00BD'},
    {L"frac34", U'\u00BE'}, {L"iquest", U'\u00BF'}, {L"Agrave", U'\u00C0'}, {L"Aacute", U'\u00C1'},
    {L"Acirc", U'\u00C2'}, {L"Atilde", U'\u00C3'}, {L"Auml", U'\u00C4'}, {L"Aring", U'\u00C5'}, {L"AElig", U'\u00C6'},
    {L"Ccedil", U'\u00C7'}, {L"Egrave", U'\u00C8'}, {L"Eacute", U'\u00C9'}, {L"Ecirc", U'\u00CA'},
    {L"Euml", U'\u00CB'}, {L"Igrave", U'\u00CC'}, {L"Iacute", U'\u00CD'}, {L"Icirc", U'\u00CE'}, {L"Iuml", U'\u00CF'},
    {L"ETH", U'\u00D0'}, {L"Ntilde", U'\u00D1'}, {L"Ograve", U'\u00D2'}, {L"Oacute", U'\u00D3'},
    {L"Ocirc", U'\u00D4'}, {L"Otilde", U'\u00D5'}, {L"Ouml", U'\u00D6'}, {L"times", U'\u00D7'},
    {L"Oslash", U'\u00D8'}, {L"Ugrave", U'\u00D9'}, {L"Uacute", U'\u00DA'}, {L"Ucirc", U'\u00DB'},
    {L"Uuml", U'\u00DC'}, {L"Yacute", U'\u00DD'}, {L"THORN", U'\u00DE'}, {L"szlig", U'\u00DF'},
    {L"agrave", U'\u00E0'}, {L"aacute", U'\u00E1'}, {L"acirc", U'\u00E2'}, {L"atilde", U'\u00E3'},
    {L"auml", U'\u00E4'}, {L"aring", U'\u00E5'}, {L"aelig", U'\u00E6'}, {L"ccedil", U'\u00E7'},
    {L"egrave", U'\u00E8'}, {L"eacute", U'\u00E9'}, {L"ecirc", U'\u00EA'}, {L"euml", U'\u00EB'},
    {L"igrave", U'\u00EC'}, {L"iacute", U'\u00ED'}, {L"icirc", U'\u00EE'}, {L"iuml", U'\u00EF'}, {L"eth", U'\u00F0'},
    {L"ntilde", U'\u00F1'}, {L"ograve", U'\u00F2'}, {L"oacute", U'\u00F3'}, {L"ocirc", U'\u00F4'},
    {L"otilde", U'\u00F5'}, {L"ouml", U'\u00F6'}, {L"divide", U'\u00F7'}, {L"oslash", U'\u00F8'},
    {L"ugrave", U'\u00F9'}, {L"uacute", U'\u00FA'}, {L"ucirc", U'\u00FB'}, {L"uuml", U'\u00FC'},
    {L"yacute", U'\u00FD'}, {L"thorn", U'\u00FE'}, {L"yuml", U'\u00FF'}, {L"OElig", U'\u0152'}, {L"oelig", U'\u0153'},
    {L"Scaron", U'\u0160'}, {L"scaron", U'\u0161'}, {L"Yuml", U'\u0178'}, {L"fnof", U'\u0192'}, {L"circ", U'\u02C6'},
    {L"tilde", U'\u02DC'}, {L"Alpha", U'\u0391'}, {L"Beta", U'\u0392'}, {L"Gamma", U'\u0393'}, {L"Delta", U'\u0394'},
    {L"Epsilon", U'\u0395'}, {L"Zeta", U'\u0396'}, {L"Eta", U'\u0397'}, {L"Theta", U'\u0398'}, {L"Iota", U'\u0399'},
    {L"Kappa", U'\u039A'}, {L"Lambda", U'\u039B'}, {L"Mu", U'\u039C'}, {L"Nu", U'\u039D'}, {L"Xi", U'\u039E'},
    {L"Omicron", U'\u039F'}, {L"Pi", U'\u03A0'}, {L"Rho", U'\u03A1'}, {L"Sigma", U'\u03A3'}, {L"Tau", U'\u03A4'},
    {L"Upsilon", U'\u03A5'}, {L"Phi", U'\u03A6'}, {L"Chi", U'\u03A7'}, {L"Psi", U'\u03A8'}, {L"Omega", U'\u03A9'},
    {L"alpha", U'\u03B1'}, {L"beta", U'\u03B2'}, {L"gamma", U'\u03B3'}, {L"delta", U'\u03B4'},
    {L"epsilon", U'\u03B5'}, {L"zeta", U'\u03B6'}, {L"eta", U'\u03B7'}, {L"theta", U'\u03B8'}, {L"iota", U'\u03B9'},
    {L"kappa", U'\u03BA'}, {L"lambda", U'\u03BB'}, {L"mu", U'\u03BC'}, {L"nu", U'\u03BD'}, {L"xi", U'\u03BE'},
    {L"omicron", U'\u03BF'}, {L"pi", U'\u03C0'}, {L"rho", U'\u03C1'}, {L"sigmaf", U'\u03C2'}, {L"sigma", U'\u03C3'},
    {L"tau", U'\u03C4'}, {L"upsilon", U'\u03C5'}, {L"phi", U'\u03C6'}, {L"chi", U'\u03C7'}, {L"psi", U'\u03C8'},
    {L"omega", U'\u03C9'}, {L"thetasym", U'\u03D1'}, {L"upsih", U'\u03D2'}, {L"piv", U'\u03D6'}, {L"ensp", U'\u2002'},
    {L"emsp", U'\u2003'}, {L"thinsp", U'\u2009'}, {L"zwnj", U'\u200C'}, {L"zwj", U'\u200D'}, {L"lrm", U'\u200E'},
    {L"rlm", U'\u200F'}, {L"ndash", U'\u2013'}, {L"mdash", U'\u2014'}, {L"lsquo", U'\u2018'}, {L"rsquo", U'\u2019'},
    {L"sbquo", U'\u201A'}, {L"ldquo", U'\u201C'}, {L"rdquo", U'\u201D'}, {L"bdquo", U'\u201E'},
    {L"dagger", U'\u2020'}, {L"Dagger", U'\u2021'}, {L"bull", U'\u2022'}, {L"hellip", U'\u2026'},
    {L"permil", U'\u2030'}, {L"prime", U'\u2032'}, {L"Prime", U'\u2033'}, {L"lsaquo", U'\u2039'},
    {L"rsaquo", U'\u203A'}, {L"oline", U'\u203E'}, {L"frasl", U'\u2044'}, {L"euro", U'\u20AC'}, {L"image", U'\u2111'},
    {L"weierp", U'\u2118'}, {L"real", U'\u211C'}, {L"trade", U'\u2122'}, {L"alefsym", U'\u2135'},
    {L"larr", U'\u2190'}, {L"uarr", U'\u2191'}, {L"rarr", U'\u2192'}, {L"darr", U'\u2193'}, {L"harr", U'\u2194'},
    {L"crarr", U'\u21B5'}, {L"lArr", U'\u21D0'}, {L"uArr", U'\u21D1'}, {L"rArr", U'\u21D2'}, {L"dArr", U'\u21D3'},
    {L"hArr", U'\u21D4'}, {L"forall", U'\u2200'}, {L"part", U'\u2202'}, {L"exist", U'\u2203'}, {L"empty", U'\u2205'},
    {L"nabla", U'\u2207'}, {L"isin", U'\u2208'}, {L"notin", U'\u2209'}, {L"ni", U'\u220B'}, {L"prod", U'\u220F'},
    {L"sum", U'\u2211'}, {L"minus", U'\u2212'}, {L"lowast", U'\u2217'}, {L"radic", U'\u221A'}, {L"prop", U'\u221D'},
    {L"infin", U'\u221E'}, {L"ang", U'\u2220'}, {L"and", U'\u2227'}, {L"or", U'\u2228'}, {L"cap", U'\u2229'},
    {L"cup", U'\u222A'}, {L"int", U'\u222B'}, {L"there4", U'\u2234'}, {L"sim", U'\u223C'}, {L"cong", U'\u2245'},
    {L"asymp", U'\u2248'}, {L"ne", U'\u2260'}, {L"equiv", U'\u2261'}, {L"le", U'\u2264'}, {L"ge", U'\u2265'},
    {L"sub", U'\u2282'}, {L"sup", U'\u2283'}, {L"nsub", U'\u2284'}, {L"sube", U'\u2286'}, {L"supe", U'\u2287'},
    {L"oplus", U'\u2295'}, {L"otimes", U'\u2297'}, {L"perp", U'\u22A5'}, {L"sdot", U'\u22C5'}, {L"lceil", U'\u2308'},
    {L"rceil", U'\u2309'}, {L"lfloor", U'\u230A'}, {L"rfloor", U'\u230B'}, {L"lang", U'\u2329'}, {L"rang", U'\u232A'},
    {L"loz", U'\u25CA'}, {L"spades", U'\u2660'}, {L"clubs", U'\u2663'}, {L"hearts", U'\u2665'}, {L"diams", U'\u2666'},
};

// RawText: hidden, and its content is no markup at all: it ends only at its end tag.
enum class Kind { Other, Paragraph, Line, Item, List, Row, Cell, Link, Image, Rule, Break, Preformatted, Hidden, RawText, Body };

struct Element {
    const wchar_t* name;
    Kind kind;
};

constexpr Element kElements[] = {
    {L"p", Kind::Paragraph},     {L"h1", Kind::Paragraph},    {L"h2", Kind::Paragraph},   {L"h3", Kind::Paragraph},
    {L"h4", Kind::Paragraph},    {L"h5", Kind::Paragraph},    {L"h6", Kind::Paragraph},   {L"blockquote", Kind::Paragraph},
    {L"table", Kind::Paragraph}, {L"dl", Kind::Paragraph},    {L"figure", Kind::Paragraph}, {L"address", Kind::Paragraph},
    {L"fieldset", Kind::Paragraph}, {L"div", Kind::Line},     {L"section", Kind::Line},   {L"article", Kind::Line},
    {L"header", Kind::Line},     {L"footer", Kind::Line},     {L"nav", Kind::Line},       {L"aside", Kind::Line},
    {L"main", Kind::Line},       {L"dt", Kind::Line},         {L"dd", Kind::Line},        {L"caption", Kind::Line},
    {L"figcaption", Kind::Line}, {L"center", Kind::Line},     {L"details", Kind::Line},   {L"summary", Kind::Line},
    {L"form", Kind::Line},       {L"li", Kind::Item},         {L"ul", Kind::List},        {L"ol", Kind::List},
    {L"menu", Kind::List},       {L"tr", Kind::Row},          {L"td", Kind::Cell},        {L"th", Kind::Cell},
    {L"a", Kind::Link},          {L"img", Kind::Image},       {L"hr", Kind::Rule},        {L"br", Kind::Break},
    {L"pre", Kind::Preformatted}, {L"head", Kind::Hidden},    {L"script", Kind::RawText}, {L"style", Kind::RawText},
    {L"title", Kind::RawText},    {L"template", Kind::Hidden}, {L"noscript", Kind::Hidden}, {L"svg", Kind::Hidden},
    {L"math", Kind::Hidden},     {L"iframe", Kind::Hidden},   {L"object", Kind::Hidden},  {L"textarea", Kind::RawText},
    {L"select", Kind::Hidden},   {L"body", Kind::Body},
};

// A name of up to ten letters and digits as a number, 0 for any other:
// the tables of elements and entities are looked up by it, with no text to
// hash or compare.
std::uint64_t nameKey(std::wstring_view name, bool anyCase = false) {
    if (name.empty() || name.size() > 10) return 0;
    std::uint64_t key = 0;
    for (const wchar_t c : name) {
        const int digit = c >= L'a' && c <= L'z'   ? c - L'a' + 1
                          : c >= L'A' && c <= L'Z' ? c - L'A' + (anyCase ? 1 : 27)
                          : c >= L'0' && c <= L'9' ? c - L'0' + 53
                                                   : -1;
        if (digit < 0) return 0;
        key = key * 63 + static_cast<std::uint64_t>(digit);
    }
    return key;
}

Kind kindOf(std::wstring_view name) {
    static const std::unordered_map<std::uint64_t, Kind> kinds = [] {
        std::unordered_map<std::uint64_t, Kind> map;
        for (const auto& element : kElements) map.emplace(nameKey(element.name), element.kind);
        return map;
    }();
    const auto found = kinds.find(nameKey(name, true));
    return found == kinds.end() ? Kind::Other : found->second;
}


}  // namespace

std::wstring decodedCharacterReferences(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // An entity is short: a "&" is looked past only that far.
        const std::size_t semicolon = text[i] == L'&' ? text.substr(i, kLongestEntity).find(L';') : std::wstring_view::npos;
        const std::size_t end = semicolon == std::wstring_view::npos ? semicolon : i + semicolon;
        if (end == std::wstring_view::npos) {
            out += text[i++];
            continue;
        }
        const std::wstring_view name = text.substr(i + 1, end - i - 1);
        char32_t c = 0;
        if (name.size() > 1 && name[0] == L'#') {
            const bool hex = name[1] == L'x' || name[1] == L'X';
            bool valid = name.size() > (hex ? 2u : 1u);
            for (std::size_t k = hex ? 2 : 1; valid && k < name.size(); ++k) {
                const wchar_t d = asciiLower(name[k]);
                const int value = d >= L'0' && d <= L'9' ? d - L'0' : hex && d >= L'a' && d <= L'f' ? d - L'a' + 10 : -1;
                valid = value >= 0;
                c = std::min<char32_t>(c * (hex ? 16 : 10) + static_cast<char32_t>(value), 0x110000);
            }
            if (!valid) c = 0xFFFFFFFF;
        } else {
            static const std::unordered_map<std::uint64_t, char32_t> characters = [] {
                std::unordered_map<std::uint64_t, char32_t> map;
                for (const auto& entity : kEntities) map.emplace(nameKey(entity.name), entity.character);
                return map;
            }();
            const auto found = characters.find(nameKey(name));
            c = found == characters.end() ? 0xFFFFFFFF : found->second;
        }
        if (c == 0xFFFFFFFF) {
            out += text[i++];
            continue;
        }
        appendCodePoint(out, c == 0 ? 0xFFFD : c);  // as a browser shows &#0;
        i = end + 1;
    }
    return out;
}

namespace {

// Writes the text the way it shows: blanks collapsed, line breaks owed until
// text follows, so that none pile up and none trail.
class PlainWriter {
public:
    // A page's text is as a rule no longer than its markup: room taken is
    // only backed by memory as it is written. Text handed on as it settles
    // needs none.
    void expect(std::size_t markupSize) {
        const std::size_t needed = out_.size() + markupSize;
        if (!settled_ && needed > out_.capacity()) out_.reserve(std::max(needed, 2 * out_.capacity()));
    }

    void handSettledTextTo(SettledText sink) { settled_ = std::move(sink); }

    // Hands on the text up to its last line break, which nothing written
    // later changes while no link is open, once there is enough of it.
    void settle() {
        if (!settled_ || out_.size() < kSettledPiece) return;
        const std::size_t lineBreak = out_.rfind(L"\r\n");
        if (lineBreak == std::wstring::npos) return;
        settled_(std::wstring_view(out_).substr(0, lineBreak + 2));
        out_.erase(0, lineBreak + 2);
        handedOn_ = true;
    }

    const std::wstring& text() const { return out_; }
    std::wstring takeText() { return std::move(out_); }

    // True when text written after this writer shows as after `other`.
    bool sameState(const PlainWriter& other) const {
        return written() == other.written() && prefix_ == other.prefix_ && breaksOwed_ == other.breaksOwed_ &&
               preformatted_ == other.preformatted_ && blankOwed_ == other.blankOwed_ &&
               separatorOwed_ == other.separatorOwed_ && atLineStart_ == other.atLineStart_;
    }

    void write(std::wstring_view text) {
        for (std::size_t i = 0; i < text.size();) {
            const wchar_t c = text[i];
            if (preformatted_ > 0 && (c == L'\n' || c == L'\r')) {
                if (c == L'\n') breakLine(1, true);
                ++i;
                continue;
            }
            if (preformatted_ == 0 && isBlank(c)) {
                blankOwed_ = true;
                ++i;
                continue;
            }
            // A run of what shows goes at once.
            std::size_t end = i + 1;
            while (end < text.size() && !isBlank(text[end]) && text[end] != L'\u00A0') ++end;
            flushOwed();
            if (c == L'\u00A0') {
                out_ += L' ';
                ++i;
                continue;
            }
            out_.append(text, i, end - i);
            i = end;
        }
    }

    // At least `lines` line ends before the next text (2: a blank line);
    // `counted` adds them up, as consecutive <br> do.
    void breakLine(int lines, bool counted = false) {
        if (!written()) return;
        breaksOwed_ = std::min(2, counted ? breaksOwed_ + lines : std::max(breaksOwed_, lines));
        blankOwed_ = false;
    }

    void startItem(std::size_t depth) {
        breakLine(1);
        prefix_ = std::wstring(2 * std::min(depth > 0 ? depth - 1 : 0, kDeepestListIndent), L' ') + L"- ";
    }

    void startCell(bool first) { separatorOwed_ = !first; }

    void preformatted(bool entering) {
        preformatted_ = entering ? preformatted_ + 1 : std::max(0, preformatted_ - 1);
    }

    // Where the next text goes: what was owed before it comes first.
    std::size_t mark() {
        flushOwed();
        return out_.size();
    }

    void append(const std::wstring& text) { out_ += text; }

private:
    bool written() const { return handedOn_ || !out_.empty(); }

    void flushOwed() {
        if (breaksOwed_ > 0) {
            for (int i = 0; i < breaksOwed_; ++i) out_ += L"\r\n";
            breaksOwed_ = 0;
            blankOwed_ = false;
            atLineStart_ = true;
        }
        if (separatorOwed_) {
            if (!atLineStart_) out_ += L" | ";
            separatorOwed_ = blankOwed_ = false;
        }
        if (blankOwed_ && !atLineStart_ && written()) out_ += L' ';
        blankOwed_ = false;
        if (!prefix_.empty()) {
            out_ += prefix_;
            prefix_.clear();
        }
        atLineStart_ = false;
    }

    std::wstring out_;
    SettledText settled_;
    bool handedOn_ = false;  // some of the text was handed on, and out_ holds only what followed
    std::wstring prefix_;
    int breaksOwed_ = 0;
    int preformatted_ = 0;
    bool blankOwed_ = false;
    bool separatorOwed_ = false;
    bool atLineStart_ = true;
};

struct Tag {
    std::wstring_view name;  // as the page writes it
    Kind kind = Kind::Other;
    bool end = false;
    std::wstring href, alt;  // of links and images alone
};

bool sameInAnyCase(std::wstring_view text, std::wstring_view lowerCase) {
    if (text.size() != lowerCase.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (asciiLower(text[i]) != lowerCase[i]) return false;
    return true;
}

}  // namespace

class PageTextReader::Reader {
public:
    void read(std::wstring_view html) {
        html_ = html;
        at_ = 0;
        open_ = false;
        writer_.expect(html.size());
        while (at_ < html_.size()) {
            const std::size_t markupStart = html_.find(L'<', at_);
            const std::wstring_view raw = html_.substr(
                at_, markupStart == std::wstring_view::npos ? std::wstring_view::npos : markupStart - at_);
            writeText(raw);
            if (markupStart == std::wstring_view::npos) {
                open_ = open_ || raw.find(L'&') != std::wstring_view::npos;  // an entity may go on in the next part
                break;
            }
            at_ = markupStart;
            markup();
            if (href_.empty()) writer_.settle();  // an open link's text is looked back at when it ends
        }
        // Nothing is kept of the part, which its owner may free.
        html_ = {};
        tag_.name = {};
    }

    bool atBreak() const { return !open_; }

    bool sameState(const Reader& other) const {
        // An open link's text is measured from where it began, in what was written before.
        return hidden_ == other.hidden_ && listDepth_ == other.listDepth_ && firstCell_ == other.firstCell_ &&
               href_.empty() && other.href_.empty() && writer_.sameState(other.writer_);
    }

    void handSettledTextTo(SettledText sink) { writer_.handSettledTextTo(std::move(sink)); }
    const std::wstring& text() const { return writer_.text(); }
    std::wstring takeText() { return writer_.takeText(); }

private:
    void writeText(std::wstring_view raw) {
        if (raw.empty() || hidden_ > 0) return;
        if (raw.find(L'&') == std::wstring_view::npos)
            writer_.write(raw);
        else
            writer_.write(decodedCharacterReferences(raw));
    }

    // What starts at a "<": a tag, a comment, a declaration, or a "<" of the text.
    void markup() {
        const std::size_t next = at_ + 1;
        const wchar_t c = next < html_.size() ? html_[next] : L'\0';
        if (c == L'!' && next + 2 < html_.size() && html_[next + 1] == L'-' && html_[next + 2] == L'-') {
            at_ = past(html_.find(L"-->", next + 3), 3);
        } else if (c == L'!' || c == L'?') {
            at_ = past(html_.find(L'>', next), 1);
        } else if (isNameCharacter(c) || (c == L'/' && next + 1 < html_.size() && isNameCharacter(html_[next + 1]))) {
            element(tag());
        } else {
            // At the end of a part, the next part may make it a tag.
            const bool cutShort = next >= html_.size() || (c == L'/' && next + 1 >= html_.size());
            open_ = open_ || cutShort;
            writeText(L"<");
            at_ = next;
        }
    }

    // Reads a tag from its "<" to its ">", attributes and their quotes included.
    const Tag& tag() {
        Tag& tag = tag_;
        std::size_t i = at_ + 1;
        tag.end = html_[i] == L'/';
        if (tag.end) ++i;
        const std::size_t nameStart = i;
        while (i < html_.size() && isNameCharacter(html_[i])) ++i;
        tag.name = html_.substr(nameStart, i - nameStart);
        tag.kind = kindOf(tag.name);
        const bool attributesMatter = !tag.end && (tag.kind == Kind::Link || tag.kind == Kind::Image);
        tag.href.clear();
        tag.alt.clear();
        while (i < html_.size() && html_[i] != L'>') {
            if (isBlank(html_[i]) || html_[i] == L'/') {
                ++i;
                continue;
            }
            const std::size_t attributeStart = i;
            while (i < html_.size() && !isBlank(html_[i]) && html_[i] != L'=' && html_[i] != L'>' && html_[i] != L'/')
                ++i;
            const std::wstring_view attribute = html_.substr(attributeStart, i - attributeStart);
            while (i < html_.size() && isBlank(html_[i])) ++i;
            if (i >= html_.size() || html_[i] != L'=') continue;
            ++i;
            while (i < html_.size() && isBlank(html_[i])) ++i;
            std::size_t start = i, end = i;
            if (i < html_.size() && (html_[i] == L'"' || html_[i] == L'\'')) {
                const std::size_t close = html_.find(html_[i], i + 1);
                start = i + 1;
                end = close == std::wstring_view::npos ? html_.size() : close;
                i = end == html_.size() ? end : end + 1;
            } else {
                while (i < html_.size() && !isBlank(html_[i]) && html_[i] != L'>') ++i;
                end = i;
            }
            if (!attributesMatter) continue;
            if (sameInAnyCase(attribute, L"href")) tag.href = decodedCharacterReferences(html_.substr(start, end - start));
            if (sameInAnyCase(attribute, L"alt")) tag.alt = decodedCharacterReferences(html_.substr(start, end - start));
        }
        at_ = i < html_.size() ? i + 1 : restOfPart();
        return tag;
    }

    void element(const Tag& tag) {
        const Kind kind = tag.kind;
        if (kind == Kind::RawText) {
            if (!tag.end) skipRawText(tag.name);
            return;
        }
        if (kind == Kind::Body) hidden_ = 0;  // a head left open ends where the body starts
        if (kind == Kind::Hidden) {
            hidden_ = tag.end ? std::max(0, hidden_ - 1) : hidden_ + 1;
            return;
        }
        if (hidden_ > 0) return;
        switch (kind) {
            case Kind::Paragraph:
                writer_.breakLine(2);
                break;
            case Kind::Line:
                writer_.breakLine(1);
                break;
            case Kind::List:
                // A list stands apart as a paragraph; a list within it does not.
                if (!tag.end) ++listDepth_;
                writer_.breakLine(listDepth_ <= 1 ? 2 : 1);
                if (tag.end && listDepth_ > 0) --listDepth_;
                break;
            case Kind::Item:
                if (tag.end)
                    writer_.breakLine(1);
                else
                    writer_.startItem(listDepth_);
                break;
            case Kind::Row:
                writer_.breakLine(1);
                firstCell_ = true;
                break;
            case Kind::Cell:
                if (!tag.end) writer_.startCell(std::exchange(firstCell_, false));
                break;
            case Kind::Link:
                link(tag);
                break;
            case Kind::Image:
                if (!tag.alt.empty()) writer_.write(L" " + tag.alt + L" ");
                break;
            case Kind::Rule:
                writer_.breakLine(2);
                writer_.write(L"----------");
                writer_.breakLine(2);
                break;
            case Kind::Break:
                writer_.breakLine(1, true);
                break;
            case Kind::Preformatted:
                writer_.breakLine(2);
                writer_.preformatted(!tag.end);
                break;
            default:
                break;
        }
    }

    // A link's address follows its text, unless the text says it already.
    void link(const Tag& tag) {
        if (!tag.end) {
            href_ = tag.href;
            linkStart_ = writer_.mark();
            return;
        }
        const std::wstring href = std::exchange(href_, std::wstring());
        if (href.empty() || href[0] == L'#' || href.compare(0, 11, L"javascript:") == 0) return;
        const std::wstring& written = writer_.text();
        const std::wstring shown = linkStart_ <= written.size() ? written.substr(linkStart_) : std::wstring();
        if (shown == href || L"mailto:" + shown == href) return;
        writer_.mark();
        writer_.append(shown.empty() ? L"<" + href + L">" : L" <" + href + L">");
    }

    // Skips what a raw-text element holds, up to its end tag.
    void skipRawText(std::wstring_view name) {
        for (std::size_t i = at_; i + 2 + name.size() <= html_.size(); ++i) {
            if (html_[i] != L'<' || html_[i + 1] != L'/') continue;
            bool found = true;
            for (std::size_t k = 0; found && k < name.size(); ++k) found = asciiLower(html_[i + 2 + k]) == asciiLower(name[k]);
            if (!found) continue;
            at_ = past(html_.find(L'>', i), 1);
            return;
        }
        at_ = restOfPart();
    }

    // Where reading goes on after what ends at `found` and is `length` long.
    std::size_t past(std::size_t found, std::size_t length) {
        return found == std::wstring_view::npos ? restOfPart() : found + length;
    }

    // Something the part does not end belongs the rest of it; the next part may go on with it.
    std::size_t restOfPart() {
        open_ = true;
        return html_.size();
    }

    std::wstring_view html_;
    std::size_t at_ = 0;
    Tag tag_;  // the last tag read, its room kept for the next
    PlainWriter writer_;
    int hidden_ = 0;
    std::size_t listDepth_ = 0;
    bool firstCell_ = true;
    std::wstring href_;
    std::size_t linkStart_ = 0;
    bool open_ = false;  // the part ended inside something the next part may go on with
};

PageTextReader::PageTextReader() : reader_(std::make_unique<Reader>()) {}
PageTextReader::PageTextReader(const PageTextReader& other) : reader_(std::make_unique<Reader>(*other.reader_)) {}
PageTextReader::~PageTextReader() = default;

void PageTextReader::read(std::wstring_view part) { reader_->read(part); }
bool PageTextReader::atBreak() const { return reader_->atBreak(); }
bool PageTextReader::sameState(const PageTextReader& other) const { return reader_->sameState(*other.reader_); }
void PageTextReader::handSettledTextTo(SettledText sink) { reader_->handSettledTextTo(std::move(sink)); }
const std::wstring& PageTextReader::text() const { return reader_->text(); }
std::wstring PageTextReader::takeText() { return reader_->takeText(); }

std::wstring pageText(std::wstring_view html) {
    PageTextReader reader;
    reader.read(html);
    return reader.takeText();
}

}  // namespace kt
