// Whatever text a user types into the subject, the names, the addresses or
// the body: an address is refused or plain; the headers are exactly the
// message's own; the body decodes back to what was typed; no line breaks the
// limits or ends without CR LF.

#include <cstdint>
#include <string>

#include "delivery/smtp/address_rules.h"
#include "delivery/smtp/mime_writer.h"
#include "delivery/smtp/utf8.h"
#include "foundation/component_error.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string decodeQuotedPrintable(const std::string& encoded) {
    auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    std::string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            out += encoded[i];
        } else if (encoded.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else {
            check(i + 2 < encoded.size());
            out += static_cast<char>(hex(encoded[i + 1]) * 16 + hex(encoded[i + 2]));
            i += 2;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Four texts separated by NUL bytes: subject, name, address, body.
    std::wstring parts[4];
    size_t part = 0;
    for (size_t i = 0; i < size && part < 4; ++i) {
        if (data[i] == 0) ++part;
        else if (part < 4) parts[part] += kt::fromUtf8(std::string(1, static_cast<char>(data[i])));
    }

    kt::Mailbox to{"ann@example.com", parts[1]};
    try {
        to.address = kt::checkedAddress(parts[2]);
        for (char c : to.address) check(c > 0x20 && c < 0x7F && c != '<' && c != '>');
    } catch (const kt::ComponentError&) {
    }

    kt::MailMessage message;
    message.from = kt::Mailbox{"me@example.com", parts[1]};
    message.to = {to};
    message.subject = parts[0];
    message.body = parts[3];
    const std::string text = kt::writeMessage(message, {"Sun, 06 Dec 2026 11:04:16 +0000", "<id@example.com>"});

    const size_t headerEnd = text.find("\r\n\r\n");
    check(headerEnd != std::string::npos);
    size_t headerLines = 0;
    for (size_t start = 0; start < headerEnd + 2;) {
        const size_t end = text.find("\r\n", start);
        check(end - start <= 998);
        if (text[start] != ' ') ++headerLines;  // a field, not a folded continuation
        start = end + 2;
    }
    check(headerLines == 9);  // Date, From, To, Subject, Message-ID, MIME-Version, two Content-, X-Mailer
    for (size_t i = 0; i < text.size(); ++i) {
        check(static_cast<unsigned char>(text[i]) < 0x80);
        if (text[i] == '\n') check(i > 0 && text[i - 1] == '\r');
        if (text[i] == '\r') check(i + 1 < text.size() && text[i + 1] == '\n');
    }
    check(decodeQuotedPrintable(text.substr(headerEnd + 4)) == kt::toUtf8(parts[3]));
    return 0;
}
