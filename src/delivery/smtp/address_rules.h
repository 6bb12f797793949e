#pragma once
// What the mail component accepts as an address: local@domain with the
// characters of RFC 5322's dot-atoms (or a bracketed domain literal).
// Blanks around it are folding white space and go; anything that could end
// or extend an SMTP command or a header (CR, LF, NUL, "<", ">", blanks
// inside) is refused.

#include <string>

namespace kt {

// The address ready for the envelope and the headers; throws the mail
// component's invalid-address error.
std::string checkedAddress(const std::wstring& address);

}  // namespace kt
