#pragma once
// The rules every written message keeps, whatever text went into it; shared
// by the unit tests' samples and the fuzzer's inputs.

#include <algorithm>
#include <cctype>
#include <string>

#include "delivery/smtp/mime_writer.h"
#include "delivery/smtp/utf8.h"

namespace kt::test {

// The message as written, and what it breaks: nothing, or the first broken rule.
inline std::string brokenRule(const MailMessage& message) {
    const std::string text = writeMessage(message, {"Sun, 06 Dec 2026 11:04:16 +0000", "<id@example.com>"});
    std::size_t fields = 0, longestAddress = 0;
    for (const auto* boxes : {&message.to, &message.cc})
        for (const auto& box : *boxes) longestAddress = std::max(longestAddress, box.address.size());
    const std::size_t headerEnd = text.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return "no end of the header";
    for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) return "the last line has no CR LF";
        const std::string line = text.substr(start, end - start);
        if (line.find_first_of("\r\n") != std::string::npos) return "a lone CR or LF: " + line;
        for (char c : line)
            if (static_cast<unsigned char>(c) >= 0x80) return "not 7-bit: " + line;
        if (start < headerEnd) {
            fields += line[0] != ' ' && line[0] != '\t';
            if (line.size() > 998 || (line.size() > 78 && longestAddress < 70)) return "a long header line: " + line;
        } else if (start > headerEnd + 2) {
            if (line.size() > 76) return "a long body line: " + line;
            if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) return "a blank ends: " + line;
            if (!line.empty() && line[0] == '.') return "a line starts with a dot: " + line;
        }
    }
    // Date, From, To, Subject, Message-ID, MIME-Version, two Content- fields, X-Mailer; and Cc.
    if (fields != (message.cc.empty() ? 9u : 10u)) return "header fields added or lost: " + text.substr(0, headerEnd);

    const std::string encoded = text.substr(headerEnd + 4);
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            decoded += encoded[i];
        } else if (encoded.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else if (i + 2 < encoded.size() && std::isxdigit(encoded[i + 1]) && std::isxdigit(encoded[i + 2])) {
            decoded += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            return "a broken escape: " + encoded.substr(i, 3);
        }
    }
    return decoded == toUtf8(message.body) ? "" : "the body decodes to something else";
}

}  // namespace kt::test
