#include "delivery/oauth/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include "foundation/api_error.h"
#include "foundation/unique_handle.h"

namespace kt {
namespace {

void closeAlgorithm(BCRYPT_ALG_HANDLE algorithm) noexcept { BCryptCloseAlgorithmProvider(algorithm, 0); }
using UniqueAlgorithm = UniqueHandle<HandleTraits<BCRYPT_ALG_HANDLE, &closeAlgorithm>>;
using UniqueHash = UniqueHandle<HandleTraits<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>>;

void check(NTSTATUS status) {
    if (status != 0) throw apiError(static_cast<unsigned long>(status), L"The system's SHA-256 failed");
}

}  // namespace

std::array<unsigned char, 32> sha256(std::string_view bytes) {
    UniqueAlgorithm algorithm;
    check(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    UniqueHash hash;
    check(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0));
    check(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                         static_cast<ULONG>(bytes.size()), 0));
    std::array<unsigned char, 32> digest{};
    check(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    return digest;
}

}  // namespace kt
