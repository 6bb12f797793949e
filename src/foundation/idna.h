#pragma once
// Internationalised domain names (IDNA 2008): the ASCII form of a domain
// written with letters beyond ASCII, which every server and resolver takes.
// The system's conversion does the work: Windows' own on Windows, libidn2
// elsewhere.

#include <optional>
#include <string>

namespace kt {

// The domain with each label that is not ASCII as its A-label ("xn--..."),
// or nothing when the domain is no valid internationalised domain name.
std::optional<std::string> domainToAscii(const std::wstring& domain);

}  // namespace kt
