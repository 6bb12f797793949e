#pragma once
// Base64 (RFC 4648) for encoded words and SMTP sign-in.

#include <string>

namespace kt {

std::string base64(const std::string& bytes);

}  // namespace kt
