#pragma once
// Web addresses as browsers read them (the URL Standard): an address made
// absolute against the page's base, in the ASCII form browsers send (the
// host as its A-labels, every other character beyond ASCII percent-encoded
// as UTF-8, dot segments removed, default ports dropped, a backslash read as
// a slash in http and https).

#include <optional>
#include <string>
#include <string_view>

namespace kt {

struct WebAddress {
    std::string scheme;  // lower case, without ":"
    // Schemes with a host (http, https, ftp, ws, wss) have their parts; for
    // the others (file:, mailto:, data:, javascript:) `path` holds what
    // follows the colon, as it was written.
    std::string host;  // lower case; an IPv4 address in dotted decimal; IPv6 in brackets
    std::string port;  // none for the scheme's default
    std::string userInfo;
    std::string path;      // "/..." for schemes with a host, else the opaque rest
    std::string query;     // with its "?", or empty
    std::string fragment;  // with its "#", or empty

    bool hasHost() const { return !host.empty(); }
    bool isWeb() const { return scheme == "http" || scheme == "https"; }
    // The address as browsers write it.
    std::string text() const;
};

// The address that `reference` (as written in a page, entities already
// decoded) stands for: absolute as it is, or relative to `base`. Nothing for
// a relative reference without a base, or one that no browser would read.
std::optional<WebAddress> resolveWebAddress(std::wstring_view reference, const WebAddress* base = nullptr);

// The bytes that %XX escapes stand for; everything else as it is.
std::string percentDecoded(std::string_view text);

}  // namespace kt
