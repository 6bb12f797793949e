#include "delivery/message/body_encoder.h"

#include <algorithm>

#include "foundation/utf8.h"

namespace kt {
namespace {

constexpr std::size_t kLongestLine = 998;  // octets, before CR LF (RFC 5321)
constexpr std::size_t kQuotedLine = 75;    // encoded characters per line, before a soft break
constexpr std::size_t kCharactersAtOnce = 64 * 1024;
// UTF-8 bytes for one unit of the text at most: a UTF-16 unit takes up to
// three (a pair four, two per unit); a UTF-32 unit up to four.
constexpr std::size_t kMostBytesPerUnit = sizeof(wchar_t) == 2 ? 3 : 4;
constexpr const char* kHex = "0123456789ABCDEF";

bool isLineBreakAt(std::wstring_view text, std::size_t i) {
    return text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n';
}

// 1 for a character other than the blank to the tilde, or for `excluded`;
// without branches, so that the loops below become vector instructions.
unsigned notPlain(wchar_t c, unsigned excluded) {
    const auto u = static_cast<unsigned>(c);
    return static_cast<unsigned>(u - 0x20u > 0x5Eu) | static_cast<unsigned>(u == excluded);
}

// How many plain characters start at text[i] (up to `limit` of them), checked
// sixteen at a time: most text of a page is plain, and this is where the time goes.
std::size_t plainRun(std::wstring_view text, std::size_t i, std::size_t limit, unsigned excluded = 0) {
    const wchar_t* p = text.data() + i;
    limit = std::min(limit, text.size() - i);
    std::size_t n = 0;
    for (; n + 16 <= limit; n += 16) {
        unsigned found = 0;
        for (std::size_t k = 0; k < 16; ++k) found |= notPlain(p[n + k], excluded);
        if (found) break;
    }
    while (n < limit && !notPlain(p[n], excluded)) ++n;
    return n;
}

char* narrowed(std::wstring_view text, std::size_t i, std::size_t count, char* out) {
    const wchar_t* p = text.data() + i;
    for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<char>(p[k]);
    return out + count;
}

// Collects bytes and hands them on in pieces. Encoders write through a
// pointer into room made ahead, a few thousand characters at a time.
class Pieces {
public:
    Pieces(const BytesSink& sink, std::size_t size) : sink_(sink), size_(size) { bytes_.reserve(size + 16); }

    // Room for `count` more bytes; `done` tells where the writing stopped.
    char* room(std::size_t count) {
        used_ = bytes_.size();
        bytes_.resize(used_ + count);
        return bytes_.data() + used_;
    }
    void done(const char* end) {
        bytes_.resize(static_cast<std::size_t>(end - bytes_.data()));
        if (bytes_.size() >= size_) handOn();
    }
    void handOn() {
        if (bytes_.empty()) return;
        sink_(bytes_);
        bytes_.clear();
    }

private:
    const BytesSink& sink_;
    std::size_t size_;
    std::size_t used_ = 0;
    std::string bytes_;
};

void encodeEightBit(std::wstring_view text, Pieces& pieces) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t end = std::min(text.size(), i + kCharactersAtOnce);
        // A surrogate pair may cross `end`: room for its second half too.
        char* out = pieces.room((end - i) * kMostBytesPerUnit + 4);
        while (i < end) {
            const std::size_t run = plainRun(text, i, end - i);
            out = narrowed(text, i, run, out);
            i += run;
            if (i == end) break;
            const auto c = static_cast<unsigned>(text[i]);
            if (c < 0x80) {
                *out++ = static_cast<char>(c);
                ++i;
            } else {
                out += encodeUtf8(nextCodePoint(text, i), out);
            }
        }
        pieces.done(out);
    }
}

// Quoted-printable, one character of the text at a time.
class QuotedPrintable {
public:
    void encode(std::wstring_view text, Pieces& pieces) {
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t end = std::min(text.size(), i + kCharactersAtOnce);
            // Each byte of a unit encoded (three characters), and a soft break with it.
            out_ = pieces.room((end - i) * (kMostBytesPerUnit * 3 + 3) + 16);
            while (i < end) i = encodeAt(text, i);
            pieces.done(out_);
        }
        // Text that does not end with a line break ends with a soft one, so
        // that the data's closing CR LF adds nothing to it.
        if (line_ > 0) {
            out_ = pieces.room(3);
            put("=\r\n", 3);
            pieces.done(out_);
        }
    }

private:
    // Encodes the character at i, or the run of literal ones that starts
    // there; returns where the next one starts.
    std::size_t encodeAt(std::wstring_view text, std::size_t i) {
        const auto c = static_cast<unsigned>(text[i]);
        if (line_ < kQuotedLine && !(c == '.' && line_ == 0)) {
            std::size_t run = plainRun(text, i, kQuotedLine - line_, '=');
            // A blank that ends a line is left to be encoded.
            if (run > 0 && (text[i + run - 1] == L' ') && endsLineAfter(text, i + run - 1)) --run;
            if (run > 0) {
                out_ = narrowed(text, i, run, out_);
                line_ += run;
                return i + run;
            }
        }
        if (isLineBreakAt(text, i)) {
            put("\r\n", 2);
            line_ = 0;
            return i + 2;
        }
        if (c >= 0x80) {
            char bytes[4];
            const int count = encodeUtf8(nextCodePoint(text, i), bytes);
            for (int k = 0; k < count; ++k) encoded(static_cast<unsigned char>(bytes[k]));
            return i;
        }
        if (line_ + 1 > kQuotedLine) softBreak();
        const bool blank = c == ' ' || c == '\t';
        // A blank at the end of a line would be lost in transport; a line that
        // starts with a dot is encoded, so no server ever sees a dot line.
        const bool literal = ((c > 32 && c < 127 && c != '=') || (blank && !endsLineAfter(text, i))) &&
                             !(c == '.' && line_ == 0);
        if (literal) {
            *out_++ = static_cast<char>(c);
            ++line_;
        } else {
            encoded(static_cast<unsigned char>(c));
        }
        return i + 1;
    }
    static bool endsLineAfter(std::wstring_view text, std::size_t i) {
        return i + 1 == text.size() || isLineBreakAt(text, i + 1);
    }
    void encoded(unsigned char byte) {
        if (line_ + 3 > kQuotedLine) softBreak();
        const char token[3] = {'=', kHex[byte >> 4], kHex[byte & 15]};
        put(token, 3);
        line_ += 3;
    }
    void softBreak() {
        put("=\r\n", 3);
        line_ = 0;
    }
    void put(const char* bytes, std::size_t count) { out_ = std::copy(bytes, bytes + count, out_); }

    char* out_ = nullptr;
    std::size_t line_ = 0;
};

}  // namespace

bool fitsEightBit(std::wstring_view text) {
    std::size_t line = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned>(text[i]);
        if (c >= 0x20 && c < 0x80) {
            if (line == 0 && c == '.') ++line;  // the session doubles a leading dot
            const std::size_t run = plainRun(text, i, kLongestLine + 1);
            line += std::max<std::size_t>(run, 1);
            i += std::max<std::size_t>(run, 1);
        } else if (c == '\r' || c == '\n') {
            if (!isLineBreakAt(text, i)) return false;
            line = 0;
            i += 2;
            continue;
        } else if (c == 0) {
            return false;
        } else if (c < 0x80) {
            ++line;
            ++i;
        } else {
            line += utf8Length(nextCodePoint(text, i));
        }
        if (line > kLongestLine) return false;
    }
    return line == 0;
}

std::size_t encodedBodySize(std::wstring_view text, BodyEncoding encoding) {
    if (encoding == BodyEncoding::EightBit) return utf8Length(text);  // the text as it is
    std::size_t size = 0;
    encodeBody(text, encoding, [&](const std::string& piece) { size += piece.size(); });
    return size;
}

void encodeBody(std::wstring_view text, BodyEncoding encoding, const BytesSink& sink, std::size_t pieceSize) {
    if (text.empty()) return;  // no room made for nothing
    Pieces pieces(sink, pieceSize);
    if (encoding == BodyEncoding::EightBit)
        encodeEightBit(text, pieces);
    else
        QuotedPrintable().encode(text, pieces);
    pieces.handOn();
}

}  // namespace kt
