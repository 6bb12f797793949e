#pragma once
// The rules every written message keeps, whatever text went into it; shared
// by the unit tests' samples and the fuzzer's inputs.

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "delivery/message/mime_writer.h"
#include "foundation/utf8.h"

namespace kt::test {

// A text part's bytes, as they go.
inline std::string written(const TextPart& part) {
    std::string bytes;
    part.write([&](const std::string& piece) { bytes += piece; });
    return bytes;
}

// Quoted-printable decoded, or the first broken escape.
inline bool decodeQuotedPrintable(const std::string& encoded, std::string& decoded) {
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            decoded += encoded[i];
        } else if (encoded.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else if (i + 2 < encoded.size() && std::isxdigit(encoded[i + 1]) && std::isxdigit(encoded[i + 2])) {
            decoded += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded = "a broken escape: " + encoded.substr(i, 3);
            return false;
        }
    }
    return true;
}

// The parts of a page's message between the boundary lines: its text, then its HTML; empty when not so framed.
inline std::vector<std::string> alternatives(const std::string& body) {
    const std::string open = "--=_kt-part\r\n", next = "\r\n--=_kt-part\r\n", close = "\r\n--=_kt-part--\r\n";
    const std::size_t text = body.find("\r\n\r\n"), between = body.find(next);
    if (body.compare(0, open.size(), open) != 0 || text == std::string::npos || between == std::string::npos) return {};
    const std::size_t html = body.find("\r\n\r\n", between + 2);
    if (html == std::string::npos || body.size() < close.size() ||
        body.compare(body.size() - close.size(), close.size(), close) != 0)
        return {};
    return {body.substr(text + 4, between - text - 4), body.substr(html + 4, body.size() - close.size() - html - 4)};
}

// The message as written, and what it breaks: nothing, or the first broken rule. A message to or
// from an address beyond ASCII before its @ is written as for SMTPUTF8, its headers in UTF-8.
inline std::string brokenRule(const MailMessage& message) {
    bool smtpUtf8 = message.from && message.from->address.needsSmtpUtf8();
    for (const auto* boxes : {&message.to, &message.cc})
        for (const auto& box : *boxes) smtpUtf8 = smtpUtf8 || box.address.needsSmtpUtf8();
    const std::string text = writeMessage(message, {"Sun, 06 Dec 2026 11:04:16 +0000", "<id@example.com>"},
                                          {BodyEncoding::QuotedPrintable, smtpUtf8});
    std::size_t fields = 0, longestAddress = 0;
    for (const auto* boxes : {&message.to, &message.cc})
        for (const auto& box : *boxes)
            longestAddress = std::max({longestAddress, box.address.ascii().size(), box.address.unicode().size()});
    const std::size_t headerEnd = text.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return "no end of the header";
    for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) return "the last line has no CR LF";
        const std::string line = text.substr(start, end - start);
        if (line.find_first_of("\r\n") != std::string::npos) return "a lone CR or LF: " + line;
        for (char c : line)
            if (static_cast<unsigned char>(c) >= 0x80 && !(smtpUtf8 && start < headerEnd)) return "not 7-bit: " + line;
        if (start < headerEnd) {
            fields += line[0] != ' ' && line[0] != '\t';
            if (line.size() > 998 || (line.size() > 78 && longestAddress < 70)) return "a long header line: " + line;
        } else if (start > headerEnd + 2) {
            if (line.size() > 76) return "a long body line: " + line;
            if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) return "a blank ends: " + line;
            if (!line.empty() && line[0] == '.') return "a line starts with a dot: " + line;
        }
    }
    // Date, From, To, Subject, Message-ID, MIME-Version, two Content- fields (one for a page's
    // parts), X-Mailer; and Cc.
    if (fields != (message.cc.empty() ? 9u : 10u) - message.html)
        return "header fields added or lost: " + text.substr(0, headerEnd);

    const std::string body = text.substr(headerEnd + 4);
    const std::wstring whole = message.body + (message.page ? *message.page : std::wstring());
    // A page goes as its text, then itself; a text as itself.
    const std::vector<std::string> parts = message.html ? alternatives(body) : std::vector<std::string>{body};
    const std::vector<std::string> expected = message.html
                                                  ? std::vector<std::string>{toUtf8(pageText(whole)), toUtf8(whole)}
                                                  : std::vector<std::string>{toUtf8(whole)};
    if (parts.size() != expected.size()) return "the parts are not framed: " + body.substr(0, 200);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string decoded;
        if (!decodeQuotedPrintable(parts[i], decoded)) return decoded;
        if (decoded != expected[i]) return "a part decodes to something else";
    }
    return "";
}

}  // namespace kt::test
