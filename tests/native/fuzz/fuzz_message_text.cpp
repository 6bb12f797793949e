// Whatever text a user types into the subject, a name, an address or the
// body (or a host passes as the page): an address is refused or one that
// cannot become protocol, and the message, a page's with its rendered text,
// keeps every rule of brokenRule. A page's text made ahead of what goes
// before it in the body is, joined, the text the whole body makes.

#include <cstdint>
#include <string>

#include "compose/message_body.h"
#include "delivery/message/message_rules.h"
#include "delivery/message/address_rules.h"
#include "delivery/mail_error.h"

namespace {

// The bytes as whole UTF-8 sequences: the bytes after a lead byte become its
// continuation bytes, so that the text holds characters of every length, not
// only ASCII and replacement characters.
std::wstring wholeUtf8(std::string bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        for (size_t k = 1; k < length && i + 1 < bytes.size(); ++k) {
            ++i;
            bytes[i] = static_cast<char>(0x80 | (bytes[i] & 0x3F));
        }
    }
    return kt::fromUtf8(bytes);
}

// The body split where its first character says: the start stands for the
// note, the rest for the page, kept apart as the window keeps it or not, and
// made ahead after the start itself or as the window makes it, after a
// sample note.
void checkTextMadeAhead(const kt::MailMessage& message) {
    const std::wstring_view body = message.body;
    const std::size_t split = static_cast<std::size_t>(body[0]) % (body.size() + 1);
    const auto page = std::make_shared<const std::wstring>(body.substr(split));
    kt::MailMessage apart = message;
    apart.body = body.substr(0, split);
    apart.page = page;
    const std::string whole = kt::test::written(kt::textPart(message));
    if (kt::test::written(kt::textPart(apart)) != whole) __builtin_trap();
    const kt::MailMessage* const kept[] = {&message, &apart};
    for (const auto& ahead : {std::make_shared<const kt::PageTextAhead>(body.substr(0, split), page),
                              kt::makePageTextAhead(page)})
        for (const kt::MailMessage* each : kept)
            if (const auto part = ahead->partFor(*each))
                if (kt::test::written(*part) != whole) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Four texts separated by NUL bytes: subject, name, address, body.
    std::string parts[4];
    for (size_t i = 0, part = 0; i < size && part < 4; ++i) {
        if (data[i] == 0)
            ++part;
        else
            parts[part] += static_cast<char>(data[i]);
    }
    const std::wstring name = wholeUtf8(parts[1]);
    kt::MailMessage message;
    message.from = kt::Mailbox{kt::checkedAddress(L"me@example.com"), name};
    message.to = {{kt::checkedAddress(L"ann@example.com"), name}};
    try {
        message.to[0].address = kt::checkedAddress(wholeUtf8(parts[2]));
        // Nothing of it could end or extend a command or a header, in either form.
        for (const std::string& form : {message.to[0].address.ascii(), message.to[0].address.unicode()})
            for (char c : form)
                if ((c >= 0 && c <= 0x20) || c == 0x7F || c == '<' || c == '>') __builtin_trap();
        for (char c : message.to[0].address.domain)
            if (c <= 0x20 || c >= 0x7F) __builtin_trap();  // the domain's ASCII form is ASCII
    } catch (const kt::ComponentError& error) {
        if (error.number() != kt::kMailErrorBase + 1) __builtin_trap();  // anything but a refused address
    }
    message.subject = wholeUtf8(parts[0]);
    message.body = wholeUtf8(parts[3]);
    // Half the bodies are pages, which go with their text rendered from whatever markup they hold.
    message.html = !parts[3].empty() && (parts[3][0] & 1);
    if (!kt::test::brokenRule(message).empty()) __builtin_trap();
    if (message.html) checkTextMadeAhead(message);
    return 0;
}
