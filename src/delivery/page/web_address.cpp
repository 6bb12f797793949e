#include "delivery/page/web_address.h"

#include <cstdint>
#include <vector>

#include "foundation/characters.h"
#include "foundation/idna.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The default port of a scheme with a host; empty for the others.
std::string defaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") return "80";
    if (scheme == "https" || scheme == "wss") return "443";
    if (scheme == "ftp") return "21";
    return {};
}

// Schemes with a host, which browsers read alike; file: and the rest are taken as written.
bool isSpecial(const std::string& scheme) { return !defaultPort(scheme).empty(); }

enum class EncodeSet { Path, Query, SpecialQuery, Fragment, UserInfo };

bool needsEncoding(unsigned char c, EncodeSet set) {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (set) {
        case EncodeSet::Fragment:
            return c == '"' || c == '<' || c == '>' || c == '`';
        case EncodeSet::Query:
            return c == '"' || c == '#' || c == '<' || c == '>';
        case EncodeSet::SpecialQuery:
            return c == '"' || c == '#' || c == '<' || c == '>' || c == '\'';
        case EncodeSet::Path:
            return c == '"' || c == '#' || c == '<' || c == '>' || c == '?' || c == '`' || c == '{' || c == '}';
        case EncodeSet::UserInfo:
            return std::string_view("\"#<>?`{}/:;=@[\\]^|").find(static_cast<char>(c)) != std::string_view::npos;
    }
    return false;
}

std::string percentEncoded(std::string_view text, EncodeSet set) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!needsEncoding(c, set)) {
            out += ch;
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

int hexValue(char c) {
    if (isAsciiDigit(c)) return c - '0';
    c = asciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// One part of an IPv4 address as browsers take it: decimal, 0x hex or 0 octal.
std::optional<std::uint64_t> ipv4Number(std::string_view part) {
    if (part.empty()) return std::nullopt;
    int radix = 10;
    if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        radix = 16;
        part.remove_prefix(2);
    } else if (part.size() >= 2 && part[0] == '0') {
        radix = 8;
        part.remove_prefix(1);
    }
    std::uint64_t value = 0;
    for (const char c : part) {
        const int digit = radix == 16 ? hexValue(c) : isAsciiDigit(c) ? c - '0' : -1;
        if (digit < 0 || digit >= radix) return std::nullopt;
        value = value * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    return value;
}

// A host whose last label is a number is an IPv4 address, in any of the forms
// browsers take ("127.1", "0x7f.0.0.1", "2130706433"): in dotted decimal, or
// nothing when it is no valid one.
std::optional<std::string> ipv4Host(const std::string& host) {
    std::vector<std::string_view> parts;
    std::string_view rest(host);
    for (;;) {
        const auto dot = rest.find('.');
        parts.push_back(rest.substr(0, dot));
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
    if (parts.size() > 4) return std::nullopt;
    std::uint64_t address = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto number = ipv4Number(parts[i]);
        if (!number) return std::nullopt;
        const bool last = i + 1 == parts.size();
        if (!last && *number > 255) return std::nullopt;
        if (last) {
            if (*number >= (1ull << (8 * (5 - parts.size())))) return std::nullopt;
            address += *number;
        } else {
            address += *number << (8 * (3 - i));
        }
    }
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

bool endsInNumber(const std::string& host) {
    std::string_view view(host);
    if (!view.empty() && view.back() == '.') view.remove_suffix(1);
    const auto last = view.substr(view.rfind('.') == std::string_view::npos ? 0 : view.rfind('.') + 1);
    if (last.empty()) return false;
    bool digits = true;
    for (const char c : last) digits &= isAsciiDigit(c);
    return digits || (last.size() >= 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X'));
}

// The host as browsers send it, or nothing when it is none.
std::optional<std::string> parsedHost(std::string_view text, bool special) {
    if (!text.empty() && text.front() == '[') {
        if (text.back() != ']') return std::nullopt;
        for (const char c : text.substr(1, text.size() - 2))
            if (!(hexValue(c) >= 0 || c == ':' || c == '.')) return std::nullopt;
        return asciiLowerCase(std::string(text));
    }
    if (!special) return std::string(text);
    const std::string decoded = percentDecoded(text);
    if (decoded.empty()) return std::nullopt;
    for (const char c : decoded)
        if (static_cast<unsigned char>(c) <= 0x20 || std::string_view("#%/:<>?@[\\]^|").find(c) != std::string_view::npos)
            return std::nullopt;
    bool ascii = true;
    for (const char c : decoded) ascii &= static_cast<unsigned char>(c) < 0x80;
    std::string host = asciiLowerCase(decoded);
    if (!ascii) {
        const auto converted = domainToAscii(fromUtf8(decoded));
        if (!converted) return std::nullopt;
        host = asciiLowerCase(*converted);
    }
    return endsInNumber(host) ? ipv4Host(host) : std::optional<std::string>(host);
}

// Reads "userinfo@host:port" into `address`; false when it is no authority.
bool parseAuthority(std::string_view authority, WebAddress& address) {
    const bool special = isSpecial(address.scheme);
    const auto at = authority.rfind('@');
    address.userInfo.clear();
    if (at != std::string_view::npos) {
        const std::string_view info = authority.substr(0, at);
        const auto colon = info.find(':');
        address.userInfo = percentEncoded(info.substr(0, colon), EncodeSet::UserInfo);
        if (colon != std::string_view::npos)
            address.userInfo += ":" + percentEncoded(info.substr(colon + 1), EncodeSet::UserInfo);
        authority.remove_prefix(at + 1);
    }
    const auto closing = authority.rfind(']');
    auto colon = authority.rfind(':');
    if (closing != std::string_view::npos && colon != std::string_view::npos && colon < closing)
        colon = std::string_view::npos;
    std::string_view port = colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
    const auto host = parsedHost(authority.substr(0, colon), special);
    if (!host || host->empty()) return false;
    address.host = *host;
    for (const char c : port)
        if (!isAsciiDigit(c)) return false;
    while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
    if (port.size() > 5 || (!port.empty() && std::stoul(std::string(port)) > 65535)) return false;
    address.port = port == defaultPort(address.scheme) ? std::string() : std::string(port);
    return true;
}

bool isSingleDot(std::string_view segment) { return segment == "." || asciiLowerCase(std::string(segment)) == "%2e"; }
bool isDoubleDot(std::string_view segment) {
    const std::string lower = asciiLowerCase(std::string(segment));
    return lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e";
}

// The path with its dot segments gone, each segment encoded; "/" where empty.
std::string normalizedPath(std::string_view path) {
    std::vector<std::string> segments;
    std::size_t start = path.empty() || path.front() != '/' ? 0 : 1;
    for (;;) {
        const auto end = path.find('/', start);
        const std::string_view segment = path.substr(start, end == std::string_view::npos ? end : end - start);
        const bool last = end == std::string_view::npos;
        if (isDoubleDot(segment)) {
            if (!segments.empty()) segments.pop_back();
            if (last) segments.emplace_back();
        } else if (isSingleDot(segment)) {
            if (last) segments.emplace_back();
        } else {
            segments.push_back(percentEncoded(segment, EncodeSet::Path));
        }
        if (last) break;
        start = end + 1;
    }
    std::string out;
    for (const auto& segment : segments) out += "/" + segment;
    return out.empty() ? "/" : out;
}

// Splits what follows the authority into path, query and fragment.
void parsePathQueryFragment(std::string_view rest, WebAddress& address, bool keepPath) {
    const auto hash = rest.find('#');
    if (hash != std::string_view::npos) {
        address.fragment = "#" + percentEncoded(rest.substr(hash + 1), EncodeSet::Fragment);
        rest = rest.substr(0, hash);
    } else {
        address.fragment.clear();
    }
    const auto question = rest.find('?');
    if (question != std::string_view::npos) {
        address.query = "?" + percentEncoded(rest.substr(question + 1),
                                             isSpecial(address.scheme) ? EncodeSet::SpecialQuery : EncodeSet::Query);
        rest = rest.substr(0, question);
    } else if (!keepPath) {
        address.query.clear();
    }
    if (!keepPath) address.path = normalizedPath(rest);
}

}  // namespace

std::string WebAddress::text() const {
    if (!hasHost()) return scheme + ":" + path + query + fragment;
    return scheme + "://" + (userInfo.empty() ? "" : userInfo + "@") + host + (port.empty() ? "" : ":" + port) + path +
           query + fragment;
}

std::optional<WebAddress> resolveWebAddress(std::wstring_view reference, const WebAddress* base) {
    // Blanks and controls around it go, tabs and line breaks inside it.
    while (!reference.empty() && reference.front() <= L' ') reference.remove_prefix(1);
    while (!reference.empty() && reference.back() <= L' ') reference.remove_suffix(1);
    std::string input;
    for (const char c : toUtf8(reference))
        if (c != '\t' && c != '\n' && c != '\r') input += c;

    WebAddress address;
    std::string_view rest(input);
    std::size_t schemeEnd = 0;
    if (!rest.empty() && isAsciiAlpha(rest[0])) {
        schemeEnd = 1;
        while (schemeEnd < rest.size() && (isAsciiAlpha(rest[schemeEnd]) || isAsciiDigit(rest[schemeEnd]) ||
                                           rest[schemeEnd] == '+' || rest[schemeEnd] == '-' || rest[schemeEnd] == '.'))
            ++schemeEnd;
    }
    const bool hasScheme = schemeEnd > 0 && schemeEnd < rest.size() && rest[schemeEnd] == ':';
    if (hasScheme) {
        address.scheme = asciiLowerCase(std::string(rest.substr(0, schemeEnd)));
        rest.remove_prefix(schemeEnd + 1);
        if (!isSpecial(address.scheme)) {
            // mailto:, data:, javascript:, tel: and the like: taken as written.
            address.path = std::string(rest);
            return address;
        }
    }
    const bool special = isSpecial(hasScheme ? address.scheme : base ? base->scheme : std::string());
    const auto isSlash = [&](char c) { return c == '/' || (special && c == '\\'); };
    std::string normalized(rest);
    if (special)
        for (auto& c : normalized)
            if (c == '\\') c = '/';
    rest = normalized;

    const bool sameSchemeRelative = hasScheme && base && base->scheme == address.scheme &&
                                    (rest.empty() || !isSlash(rest[0]));
    if (hasScheme && !sameSchemeRelative) {
        while (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);  // "http:x.org" is "http://x.org"
    } else {
        if (!base || !base->hasHost()) return std::nullopt;
        address = *base;
        if (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') {
            rest.remove_prefix(2);
        } else {
            if (rest.empty()) {
                address.fragment.clear();
                return address;
            }
            if (rest[0] == '#' || rest[0] == '?') {
                parsePathQueryFragment(rest, address, true);
                return address;
            }
            const std::string merged =
                rest[0] == '/' ? std::string(rest) : base->path.substr(0, base->path.rfind('/') + 1) + std::string(rest);
            parsePathQueryFragment(merged, address, false);
            return address;
        }
    }
    const auto authorityEnd = rest.find_first_of("/?#");
    if (!parseAuthority(rest.substr(0, authorityEnd), address)) return std::nullopt;
    parsePathQueryFragment(authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd),
                           address, false);
    return address;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace kt
