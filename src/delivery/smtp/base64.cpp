#include "delivery/smtp/base64.h"

namespace kt {

void appendBase64(std::string& out, const std::string& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (n > 1) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (n > 2) value |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(value >> 18) & 63];
        out += alphabet[(value >> 12) & 63];
        out += n > 1 ? alphabet[(value >> 6) & 63] : '=';
        out += n > 2 ? alphabet[value & 63] : '=';
    }
}

std::string base64(const std::string& bytes) {
    std::string out;
    appendBase64(out, bytes);
    return out;
}

}  // namespace kt
