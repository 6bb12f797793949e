#pragma once
// Base64 (RFC 4648) for encoded words and sign-ins.

#include <string>
#include <string_view>

namespace kt {

// Appends the encoding to `out` (a std::string, or a SecretText for a sign-in).
template <class Text>
void appendBase64(Text& out, std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (n > 1) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (n > 2) value |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(value >> 18) & 63];
        out += kAlphabet[(value >> 12) & 63];
        out += n > 1 ? kAlphabet[(value >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[value & 63] : '=';
    }
}

inline std::string base64(std::string_view bytes) {
    std::string out;
    appendBase64(out, bytes);
    return out;
}

}  // namespace kt
