#include "delivery/oauth/sha256.h"

#include <openssl/sha.h>

namespace kt {

std::array<unsigned char, 32> sha256(std::string_view bytes) {
    std::array<unsigned char, 32> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
    return digest;
}

}  // namespace kt
