#include "foundation/utf8.h"

namespace kt {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

void appendCodePoint(std::wstring& out, char32_t c) {
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

char32_t nextCodePoint(std::wstring_view text, std::size_t& i) {
    char32_t c = static_cast<char32_t>(text[i++]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i < text.size()) {
        const auto low = static_cast<char32_t>(text[i]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return isSurrogate(c) || c > 0x10FFFF ? kReplacement : c;
}

int encodeUtf8(char32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

std::size_t utf8Length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

std::size_t utf8Length(std::wstring_view text) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < text.size();) {
        // Runs of ASCII, sixteen units at a time: a page is mostly that.
        if (i + 16 <= text.size()) {
            unsigned high = 0;
            for (std::size_t k = 0; k < 16; ++k) high |= static_cast<unsigned>(text[i + k]) >= 0x80;
            if (!high) {
                size += 16;
                i += 16;
                continue;
            }
        }
        size += utf8Length(nextCodePoint(text, i));
    }
    return size;
}

std::wstring fromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // Runs of ASCII, sixteen bytes at a time.
        std::size_t ascii = i;
        for (; ascii + 16 <= text.size(); ascii += 16) {
            unsigned high = 0;
            for (std::size_t k = 0; k < 16; ++k) high |= static_cast<unsigned char>(text[ascii + k]);
            if (high & 0x80) break;
        }
        const std::size_t used = out.size();
        out.resize(used + ascii - i);
        for (std::size_t k = 0; k < ascii - i; ++k) out[used + k] = static_cast<wchar_t>(text[i + k]);
        i = ascii;
        if (i == text.size()) break;
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || c < shortest[length] || isSurrogate(c) || c > 0x10FFFF) {
            appendCodePoint(out, kReplacement);
            ++i;
            continue;
        }
        appendCodePoint(out, c);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

}  // namespace kt
