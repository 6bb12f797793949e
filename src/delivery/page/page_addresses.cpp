#include "delivery/page/page_addresses.h"

#include <algorithm>

#include "delivery/message/page_text.h"
#include "foundation/characters.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

// The widest candidate of a srcset taken, as the width mail readers give a message.
constexpr double kWidestPicture = 1200;

bool isSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }
bool isLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool startsWithInAnyCase(std::wstring_view text, std::size_t at, std::wstring_view start) {
    if (text.size() - std::min(at, text.size()) < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i)
        if (asciiLower(text[at + i]) != start[i]) return false;
    return true;
}


struct Attribute {
    std::wstring name;  // lower case
    std::size_t start = 0, end = 0;            // the whole attribute, name to value
    std::size_t valueStart = 0, valueEnd = 0;  // the value, without its quotes
    bool hasValue = false;
};

struct Tag {
    std::wstring name;  // lower case
    std::size_t start = 0, end = 0;  // "<" to after ">"
    std::vector<Attribute> attributes;

    const Attribute* attribute(std::wstring_view wanted) const {
        for (const auto& a : attributes)
            if (a.name == wanted) return &a;
        return nullptr;
    }
};

// Reads the start tag at html[at] == '<' (a letter follows).
Tag readTag(std::wstring_view html, std::size_t at) {
    Tag tag;
    tag.start = at;
    std::size_t i = at + 1;
    while (i < html.size() && !isSpace(html[i]) && html[i] != L'/' && html[i] != L'>') tag.name += asciiLower(html[i++]);
    for (;;) {
        while (i < html.size() && (isSpace(html[i]) || html[i] == L'/')) ++i;
        if (i >= html.size() || html[i] == L'>') break;
        Attribute attribute;
        attribute.start = i;
        do attribute.name += asciiLower(html[i++]);
        while (i < html.size() && !isSpace(html[i]) && html[i] != L'/' && html[i] != L'>' && html[i] != L'=');
        std::size_t j = i;
        while (j < html.size() && isSpace(html[j])) ++j;
        if (j < html.size() && html[j] == L'=') {
            i = j + 1;
            while (i < html.size() && isSpace(html[i])) ++i;
            attribute.hasValue = true;
            if (i < html.size() && (html[i] == L'"' || html[i] == L'\'')) {
                const wchar_t quote = html[i++];
                attribute.valueStart = i;
                while (i < html.size() && html[i] != quote) ++i;
                attribute.valueEnd = i;
                if (i < html.size()) ++i;
            } else {
                attribute.valueStart = i;
                while (i < html.size() && !isSpace(html[i]) && html[i] != L'>') ++i;
                attribute.valueEnd = i;
            }
        }
        attribute.end = i;
        tag.attributes.push_back(std::move(attribute));
    }
    tag.end = std::min(i + 1, html.size());
    return tag;
}

std::wstring escapedForAttribute(std::wstring_view text) {
    std::wstring out;
    for (const wchar_t c : text) {
        if (c == L'&')
            out += L"&amp;";
        else if (c == L'"')
            out += L"&quot;";
        else
            out += c;
    }
    return out;
}

// A CSS string of an address our resolution wrote: nothing to escape but "\" and '"'.
std::wstring cssString(const std::string& address) {
    std::wstring out = L"\"";
    for (const char c : address) {
        if (c == '\\' || c == '"') out += L'\\';
        out += static_cast<wchar_t>(c);
    }
    return out + L"\"";
}

// What a reference stands for, made absolute; nothing where it stays as
// written: relative without a base, a fragment of this page, or no address
// of the web (mailto:, javascript:, data:).
std::optional<std::string> absolute(std::wstring_view reference, const std::optional<WebAddress>& base) {
    std::wstring_view trimmed = reference;
    while (!trimmed.empty() && trimmed.front() <= L' ') trimmed.remove_prefix(1);
    if (trimmed.empty() || trimmed.front() == L'#') return std::nullopt;
    const auto resolved = resolveWebAddress(reference, base ? &*base : nullptr);
    if (!resolved || !resolved->hasHost()) return std::nullopt;
    return resolved->text();
}

// A picture's address: absolute, or the data: address that holds it.
std::optional<std::string> pictureAddress(std::wstring_view reference, const std::optional<WebAddress>& base) {
    const std::wstring trimmed = withoutOuterBlanks(reference, L" \t\r\n\f");
    if (startsWithInAnyCase(trimmed, 0, L"data:")) return toUtf8(trimmed);
    return absolute(reference, base);
}

// A page's text as it is written out: the parts kept and the parts replaced,
// in order, with where the pictures' addresses land in the result. The
// result is made once, at the end, and not at all when nothing was replaced:
// a page may be the largest thing in the process.
class Rewriting {
public:
    explicit Rewriting(std::wstring_view source) : source_(source) {}

    // Replaces source[start, end) with `text`, after every span replaced before.
    void replace(std::size_t start, std::size_t end, std::wstring text) {
        lastStart_ = outputOf(start);
        shift_ += static_cast<std::ptrdiff_t>(text.size()) - static_cast<std::ptrdiff_t>(end - start);
        replacements_.push_back({start, end - start, std::move(text)});
    }
    // A picture's or an @import rule's address, at [offset, offset + length) of the text replaced last.
    void picture(std::size_t offsetInLast, std::size_t length, std::string address) {
        pictures_.push_back({lastStart_ + offsetInLast, length, std::move(address)});
    }
    void importRule(std::size_t offsetInLast, std::size_t length, std::string address) {
        imports_.push_back({lastStart_ + offsetInLast, length, std::move(address)});
    }
    // A picture whose address stays as written at source[start, end).
    void pictureInPlace(std::size_t start, std::size_t end, std::string address) {
        pictures_.push_back({outputOf(start), end - start, std::move(address)});
    }
    // Where a place of the source, after every span replaced so far, lands in the result.
    std::size_t outputOf(std::size_t sourcePosition) const {
        return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(sourcePosition) + shift_);
    }
    // The result; none when it is the source as it was.
    std::optional<std::wstring> finish() const {
        if (replacements_.empty()) return std::nullopt;
        return withReplacements(source_, replacements_);
    }
    std::vector<AddressInPage>& pictures() { return pictures_; }
    std::vector<AddressInPage>& imports() { return imports_; }

private:
    std::wstring_view source_;
    std::vector<Replacement> replacements_;
    std::ptrdiff_t shift_ = 0;  // how much longer the result is, up to the last span replaced
    std::size_t lastStart_ = 0;
    std::vector<AddressInPage> pictures_, imports_;
};

// A stylesheet's url() rewritten: each address absolute, written as a CSS string.
struct CssRewrite {
    std::wstring css;
    std::vector<AddressInPage> urls;     // in `css`
    std::vector<AddressInPage> imports;  // the whole rule, in `css`
};

CssRewrite rewriteCss(std::wstring_view css, const std::optional<WebAddress>& base) {
    CssRewrite result;
    std::size_t copied = 0;
    const auto emit = [&](std::size_t upTo) {
        result.css.append(css.substr(copied, upTo - copied));
        copied = upTo;
    };
    // A string or url() at css[i]: its value and where it ends.
    const auto readString = [&](std::size_t i, std::wstring& value) {
        const wchar_t quote = css[i++];
        while (i < css.size() && css[i] != quote && css[i] != L'\n') {
            if (css[i] == L'\\' && i + 1 < css.size()) ++i;
            value += css[i++];
        }
        return std::min(i + 1, css.size());
    };
    const auto readUrl = [&](std::size_t i, std::wstring& value) {  // i just after "url("
        while (i < css.size() && isSpace(css[i])) ++i;
        if (i < css.size() && (css[i] == L'"' || css[i] == L'\'')) {
            i = readString(i, value);
            while (i < css.size() && isSpace(css[i])) ++i;
        } else {
            while (i < css.size() && css[i] != L')' && !isSpace(css[i])) {
                if (css[i] == L'\\' && i + 1 < css.size()) ++i;
                value += css[i++];
            }
            while (i < css.size() && isSpace(css[i])) ++i;
        }
        return i < css.size() && css[i] == L')' ? i + 1 : std::wstring_view::npos;
    };
    for (std::size_t i = 0; i < css.size();) {
        if (css.compare(i, 2, L"/*") == 0) {
            const auto end = css.find(L"*/", i + 2);
            i = end == std::wstring_view::npos ? css.size() : end + 2;
        } else if (css[i] == L'"' || css[i] == L'\'') {
            std::wstring ignored;
            i = readString(i, ignored);
        } else if (startsWithInAnyCase(css, i, L"@import")) {
            std::size_t j = i + 7;
            while (j < css.size() && isSpace(css[j])) ++j;
            std::wstring value;
            std::size_t after = std::wstring_view::npos;
            if (j < css.size() && (css[j] == L'"' || css[j] == L'\''))
                after = readString(j, value);
            else if (startsWithInAnyCase(css, j, L"url("))
                after = readUrl(j + 4, value);
            const auto semicolon = after == std::wstring_view::npos ? after : css.find(L';', after);
            const auto address = after == std::wstring_view::npos ? std::nullopt : absolute(value, base);
            if (!address || semicolon == std::wstring_view::npos) {
                i = j;
                continue;
            }
            emit(i);
            const std::wstring rule = L"@import url(" + cssString(*address) + L")" +
                                      std::wstring(css.substr(after, semicolon + 1 - after));
            result.imports.push_back({result.css.size(), rule.size(), *address});
            result.css += rule;
            copied = i = semicolon + 1;
        } else if (startsWithInAnyCase(css, i, L"url(") && (i == 0 || !isLetter(css[i - 1]))) {
            std::wstring value;
            const auto end = readUrl(i + 4, value);
            const auto address = end == std::wstring_view::npos ? std::nullopt : pictureAddress(value, base);
            if (!address) {
                i += 4;
                continue;
            }
            emit(i);
            result.css += L"url(";
            result.urls.push_back({result.css.size() + 1, address->size(), *address});
            result.css += cssString(*address) + L")";
            copied = i = end;
        } else {
            ++i;
        }
    }
    emit(css.size());
    return result;
}

struct Candidate {
    std::wstring address;
    double width = 0;    // "w", 0 when none
    double density = 1;  // "x"
};

// The candidates of a srcset, as browsers split them.
std::vector<Candidate> srcsetCandidates(std::wstring_view set) {
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < set.size();) {
        while (i < set.size() && (isSpace(set[i]) || set[i] == L',')) ++i;
        if (i >= set.size()) break;
        Candidate candidate;
        const std::size_t start = i;
        while (i < set.size() && !isSpace(set[i])) ++i;
        std::wstring_view address = set.substr(start, i - start);
        bool descriptors = true;
        if (!address.empty() && address.back() == L',') {
            while (!address.empty() && address.back() == L',') address.remove_suffix(1);
            descriptors = false;
        }
        candidate.address = address;
        if (descriptors) {
            const std::size_t end = std::min(set.find(L',', i), set.size());
            std::wstring_view descriptor = set.substr(i, end - i);
            while (!descriptor.empty() && isSpace(descriptor.front())) descriptor.remove_prefix(1);
            while (!descriptor.empty() && isSpace(descriptor.back())) descriptor.remove_suffix(1);
            if (descriptor.size() > 1) {
                const double value = std::wcstod(std::wstring(descriptor.substr(0, descriptor.size() - 1)).c_str(), nullptr);
                if (descriptor.back() == L'w') candidate.width = value;
                if (descriptor.back() == L'x') candidate.density = value;
            }
            i = end;
        }
        if (!candidate.address.empty()) candidates.push_back(std::move(candidate));
    }
    return candidates;
}

// The one candidate a message keeps: the widest up to 1,200 pixels (else the
// narrowest), or for densities the highest up to 2 (else the lowest).
std::optional<std::wstring> chosenCandidate(std::wstring_view set) {
    const auto candidates = srcsetCandidates(set);
    if (candidates.empty()) return std::nullopt;
    const bool byWidth = std::any_of(candidates.begin(), candidates.end(), [](const Candidate& c) { return c.width > 0; });
    const auto measure = [&](const Candidate& c) { return byWidth ? c.width : c.density; };
    const double most = byWidth ? kWidestPicture : 2;
    const Candidate* best = nullptr;
    const Candidate* least = &candidates.front();
    for (const auto& c : candidates) {
        if (measure(c) < measure(*least)) least = &c;
        if (measure(c) <= most && (!best || measure(c) > measure(*best))) best = &c;
    }
    return (best ? best : least)->address;
}

bool isStylesheetLink(const Tag& tag, std::wstring_view html) {
    const Attribute* rel = tag.attribute(L"rel");
    if (!rel || !rel->hasValue) return false;
    const std::wstring relation = asciiLowerCase(std::wstring(html.substr(rel->valueStart, rel->valueEnd - rel->valueStart)));
    bool stylesheet = false, alternate = false;
    std::size_t i = 0;
    while (i < relation.size()) {
        while (i < relation.size() && isSpace(relation[i])) ++i;
        const std::size_t start = i;
        while (i < relation.size() && !isSpace(relation[i])) ++i;
        const std::wstring_view word = std::wstring_view(relation).substr(start, i - start);
        stylesheet |= word == L"stylesheet";
        alternate |= word == L"alternate";
    }
    if (!stylesheet || alternate) return false;
    const Attribute* media = tag.attribute(L"media");
    if (!media || !media->hasValue) return true;
    const std::wstring medium =
        asciiLowerCase(std::wstring(html.substr(media->valueStart, media->valueEnd - media->valueStart)));
    return medium.find_first_not_of(L" \t") == std::wstring::npos || medium.find(L"all") != std::wstring::npos ||
           medium.find(L"screen") != std::wstring::npos;
}

// Elements whose content is no markup.
bool isRawText(const std::wstring& name) {
    return name == L"script" || name == L"style" || name == L"textarea" || name == L"title" || name == L"xmp" ||
           name == L"noembed" || name == L"noframes";
}

// The first <base href>, resolved against the page's own address.
std::optional<WebAddress> baseOf(std::wstring_view html, const std::optional<WebAddress>& pageAddress);

template <class Visit>
void forEachTag(std::wstring_view html, Visit visit) {
    for (std::size_t i = 0; i < html.size();) {
        if (html[i] != L'<' || i + 1 >= html.size()) {
            ++i;
            continue;
        }
        if (html.compare(i, 4, L"<!--") == 0) {
            const auto end = html.find(L"-->", i + 4);
            i = end == std::wstring_view::npos ? html.size() : end + 3;
        } else if (html[i + 1] == L'!' || html[i + 1] == L'?' || html[i + 1] == L'/') {
            const auto end = html.find(L'>', i + 1);
            i = end == std::wstring_view::npos ? html.size() : end + 1;
        } else if (isLetter(html[i + 1])) {
            const Tag tag = readTag(html, i);
            i = tag.end;
            std::size_t contentEnd = i;
            if (isRawText(tag.name)) {
                const std::wstring closing = L"</" + tag.name;
                while (contentEnd < html.size() && !startsWithInAnyCase(html, contentEnd, closing)) {
                    const auto next = html.find(L'<', contentEnd + 1);
                    contentEnd = next == std::wstring_view::npos ? html.size() : next;
                }
            }
            if (!visit(tag, contentEnd)) return;
            i = contentEnd;
        } else {
            ++i;
        }
    }
}

std::optional<WebAddress> baseOf(std::wstring_view html, const std::optional<WebAddress>& pageAddress) {
    std::optional<WebAddress> base = pageAddress;
    forEachTag(html, [&](const Tag& tag, std::size_t) {
        const Attribute* href = tag.name == L"base" ? tag.attribute(L"href") : nullptr;
        if (!href || !href->hasValue) return true;
        const std::wstring value = decodedCharacterReferences(html.substr(href->valueStart, href->valueEnd - href->valueStart));
        if (const auto resolved = resolveWebAddress(value, pageAddress ? &*pageAddress : nullptr);
            resolved && resolved->hasHost())
            base = resolved;
        return false;
    });
    return base;
}

}  // namespace

PageAddresses pageAddresses(std::shared_ptr<const std::wstring> source, const std::optional<WebAddress>& pageAddress) {
    const std::wstring_view html = *source;
    PageAddresses page;
    page.base = baseOf(html, pageAddress);
    Rewriting out(html);
    const auto valueOf = [&](const Attribute& a) {
        return decodedCharacterReferences(html.substr(a.valueStart, a.valueEnd - a.valueStart));
    };
    // Rewrites an attribute to `address`, quoted; a picture's address is noted where it lands.
    const auto writeAttribute = [&](const Attribute& a, std::wstring_view name, const std::string& address,
                                    bool isPicture) {
        const std::wstring escaped = escapedForAttribute(fromUtf8(address));
        const std::wstring text = std::wstring(name) + L"=\"" + escaped + L"\"";
        out.replace(a.start, a.end, text);
        if (isPicture) out.picture(name.size() + 2, escaped.size(), address);
    };
    forEachTag(html, [&](const Tag& tag, std::size_t contentEnd) {
        const std::size_t tagStart = out.outputOf(tag.start);
        if (tag.name == L"base") {
            out.replace(tag.start, tag.end, L"");
            return true;
        }
        const Attribute* typeAttribute = tag.attribute(L"type");
        const bool imageInput =
            tag.name == L"input" && typeAttribute && asciiLowerCase(valueOf(*typeAttribute)) == L"image";
        const Attribute* srcset = tag.attribute(L"srcset");
        const auto chosen = tag.name == L"img" && srcset ? chosenCandidate(valueOf(*srcset)) : std::nullopt;
        bool srcWritten = false;
        for (const Attribute& a : tag.attributes) {
            if (!a.hasValue) continue;
            const bool picture = (a.name == L"src" && (tag.name == L"img" || imageInput)) || a.name == L"background" ||
                                 (a.name == L"poster" && tag.name == L"video");
            if (&a == srcset && (chosen || tag.name == L"source")) {
                // One candidate goes as src; a <picture>'s sources go, leaving its <img>.
                if (chosen && !tag.attribute(L"src")) {
                    const auto address = pictureAddress(*chosen, page.base);
                    writeAttribute(a, L"src", address ? *address : toUtf8(*chosen), address.has_value());
                    srcWritten = true;
                } else {
                    out.replace(a.start, a.end, L"");
                }
            } else if (a.name == L"src" || a.name == L"href" || a.name == L"background" || a.name == L"poster") {
                const std::wstring written = a.name == L"src" && chosen && !srcWritten ? *chosen : valueOf(a);
                const auto address = picture ? pictureAddress(written, page.base) : absolute(written, page.base);
                if (!address) continue;
                const std::wstring_view asWritten = html.substr(a.valueStart, a.valueEnd - a.valueStart);
                if (asWritten == fromUtf8(*address) && !(a.name == L"src" && chosen)) {
                    if (picture) out.pictureInPlace(a.valueStart, a.valueEnd, *address);
                } else {
                    writeAttribute(a, a.name, *address, picture);
                }
            } else if (a.name == L"style") {
                const CssRewrite css = rewriteCss(valueOf(a), page.base);
                if (css.urls.empty()) continue;
                // Written escaped for the attribute: each address keeps its place, moved by what went before.
                std::wstring text = L"style=\"";
                std::vector<std::pair<std::size_t, const AddressInPage*>> at;
                std::size_t from = 0;
                for (const auto& url : css.urls) {
                    text += escapedForAttribute(std::wstring_view(css.css).substr(from, url.start - from));
                    at.emplace_back(text.size(), &url);
                    text += escapedForAttribute(std::wstring_view(css.css).substr(url.start, url.length));
                    from = url.start + url.length;
                }
                text += escapedForAttribute(std::wstring_view(css.css).substr(from)) + L"\"";
                out.replace(a.start, a.end, text);
                for (const auto& [offset, url] : at)
                    out.picture(offset, escapedForAttribute(fromUtf8(url->address)).size(), url->address);
            }
        }
        if (tag.name == L"link" && isStylesheetLink(tag, html)) {
            if (const Attribute* href = tag.attribute(L"href"); href && href->hasValue)
                if (const auto address = absolute(valueOf(*href), page.base))
                    page.stylesheets.push_back({tagStart, out.outputOf(tag.end) - tagStart, *address});
        }
        if (tag.name == L"style" && contentEnd > tag.end) {
            const CssRewrite css = rewriteCss(html.substr(tag.end, contentEnd - tag.end), page.base);
            if (!css.urls.empty() || !css.imports.empty()) {
                out.replace(tag.end, contentEnd, css.css);
                for (const auto& url : css.urls) out.picture(url.start, url.length, url.address);
                for (const auto& rule : css.imports)
                    out.importRule(rule.start, rule.length, rule.address);
            }
        }
        return true;
    });
    page.pictures = std::move(out.pictures());
    page.imports = std::move(out.imports());
    auto rewritten = out.finish();
    page.html = rewritten ? std::make_shared<const std::wstring>(std::move(*rewritten)) : std::move(source);
    std::sort(page.pictures.begin(), page.pictures.end(),
              [](const AddressInPage& a, const AddressInPage& b) { return a.start < b.start; });
    return page;
}

StylesheetAddresses stylesheetAddresses(std::wstring_view css, const WebAddress& sheetAddress) {
    CssRewrite rewritten = rewriteCss(css, sheetAddress);
    return {std::move(rewritten.css), std::move(rewritten.imports)};
}

std::wstring withReplacements(std::wstring_view text, const std::vector<Replacement>& replacements) {
    std::wstring out;
    std::size_t copied = 0;
    for (const auto& r : replacements) {
        out.append(text.substr(copied, r.start - copied));
        out += r.text;
        copied = r.start + r.length;
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace kt
