#pragma once
// What the mail component accepts as an address: local@domain with the
// characters of RFC 5322's dot-atoms, letters beyond ASCII included (RFC
// 6532), or a bracketed domain literal. A domain written with such letters
// goes on the wire in its ASCII form (IDNA); a local part is never altered,
// and one beyond ASCII needs a server that takes SMTPUTF8 (RFC 6531).
// Blanks around it are folding white space and go; anything that could end
// or extend an SMTP command or a header (controls, "<", ">", blanks inside)
// is refused.

#include <string>

namespace kt {

struct MailAddress {
    std::string local;          // UTF-8, as written
    std::string domain;         // ASCII: an international domain's A-labels
    std::string unicodeDomain;  // UTF-8, as written

    // The local part has letters beyond ASCII: only SMTPUTF8 carries it.
    bool needsSmtpUtf8() const;
    // Written with letters beyond ASCII anywhere.
    bool isInternational() const { return needsSmtpUtf8() || domain != unicodeDomain; }
    // For the envelope and the headers: the ASCII form of the domain, and
    // the form as written where SMTPUTF8 carries it.
    std::string ascii() const { return local + "@" + domain; }
    std::string unicode() const { return local + "@" + unicodeDomain; }
};

// Throws the mail component's invalid-address error.
MailAddress checkedAddress(const std::wstring& address);

}  // namespace kt
