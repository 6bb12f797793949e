#pragma once
// SHA-256, for the PKCE code challenge of an OAuth sign-in: the system's
// (BCrypt on Windows, OpenSSL's libcrypto elsewhere).

#include <array>
#include <string_view>

namespace kt {

std::array<unsigned char, 32> sha256(std::string_view bytes);

}  // namespace kt
