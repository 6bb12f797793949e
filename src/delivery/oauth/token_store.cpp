#include "delivery/oauth/token_store.h"

#include "foundation/api_error.h"
#include "foundation/credentials.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

// The Credential Manager takes at most this much of a secret in one credential.
constexpr std::size_t kPieceBytes = CRED_MAX_CREDENTIAL_BLOB_SIZE;
constexpr int kMostPieces = 16;

// The credential of a token's first piece, and of each further one (":2", ":3", ...).
std::wstring credentialTarget(const SignInScope& scope, int piece = 1) {
    const std::wstring first = L"KT_EMailer:OAuth:" + fromUtf8(scope.host) + L":" + fromUtf8(scope.sender);
    return piece == 1 ? first : first + L":" + std::to_wstring(piece);
}

// Tokens are printable ASCII (RFC 6749); anything else is no piece of ours.
bool isTokenText(const BYTE* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i] < 0x21 || bytes[i] > 0x7E) return false;
    return size > 0;
}

void forgetPiecesFrom(const SignInScope& scope, int first) {
    for (int piece = first; piece <= kMostPieces; ++piece)
        if (!CredDeleteW(credentialTarget(scope, piece).c_str(), CRED_TYPE_GENERIC, 0)) break;
}

}  // namespace

std::optional<SecretText> storedRefreshToken(const SignInScope& scope) {
    SecretText token;
    for (int piece = 1; piece <= kMostPieces; ++piece) {
        UniqueCredential credential;
        if (!CredReadW(credentialTarget(scope, piece).c_str(), CRED_TYPE_GENERIC, 0, credential.put())) break;
        const BYTE* bytes = credential.get()->CredentialBlob;
        const std::size_t size = credential.get()->CredentialBlobSize;
        if (!isTokenText(bytes, size)) return std::nullopt;
        token.append(reinterpret_cast<const char*>(bytes), size);
        if (size < kPieceBytes) break;  // a full piece may have a next one
    }
    if (token.empty()) return std::nullopt;
    return token;
}

void storeRefreshToken(const SignInScope& scope, const SecretText& token) {
    if (token.size() > kPieceBytes * kMostPieces)
        throw apiError(ERROR_BAD_LENGTH, L"The provider's refresh token is too long to keep");
    std::wstring user = fromUtf8(scope.sender);
    const int pieces = token.empty() ? 1 : static_cast<int>((token.size() + kPieceBytes - 1) / kPieceBytes);
    for (int piece = 1; piece <= pieces; ++piece) {
        const std::wstring target = credentialTarget(scope, piece);
        SecretText bytes = token.substr(static_cast<std::size_t>(piece - 1) * kPieceBytes, kPieceBytes);
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(target.c_str());
        credential.CredentialBlobSize = static_cast<DWORD>(bytes.size());
        credential.CredentialBlob = reinterpret_cast<BYTE*>(bytes.data());
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        credential.UserName = user.data();
        if (!CredWriteW(&credential, 0)) throw apiError(GetLastError(), L"Keeping the provider's sign-in failed");
    }
    forgetPiecesFrom(scope, pieces + 1);  // of a longer token kept before
}

void forgetRefreshToken(const SignInScope& scope) { forgetPiecesFrom(scope, 1); }

}  // namespace kt
