#pragma once
// Base64 (RFC 4648) for encoded words and SMTP sign-in.

#include <string>

namespace kt {

// Appends the encoding to `out`, which has room made for it first: a sign-in
// line is built in one buffer that is wiped afterwards.
void appendBase64(std::string& out, const std::string& bytes);

std::string base64(const std::string& bytes);

}  // namespace kt
