#pragma once
// Pictures that not every mail reader shows (WebP, AVIF), made PNG by the
// system's imaging component where it can decode them.

#include <optional>
#include <string>

namespace kt {

// The picture as PNG; none where the system cannot decode it.
std::optional<std::string> asPng(const std::string& bytes);

}  // namespace kt
