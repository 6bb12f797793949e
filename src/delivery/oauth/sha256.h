#pragma once
// SHA-256 (FIPS 180-4), for the PKCE code challenge of an OAuth sign-in.

#include <array>
#include <string_view>

namespace kt {

std::array<unsigned char, 32> sha256(std::string_view bytes);

}  // namespace kt
