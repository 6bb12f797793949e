#include "delivery/oauth/token_store.h"

#include "delivery/smtp/utf8.h"
#include "foundation/credentials.h"

namespace kt {
namespace {

using WideSecret = std::basic_string<wchar_t, std::char_traits<wchar_t>, WipingAllocator<wchar_t>>;

std::wstring credentialTarget(const SignInScope& scope) {
    return L"KT_EMailer:OAuth:" + fromUtf8(scope.host) + L":" + fromUtf8(scope.sender);
}

}  // namespace

std::optional<SecretText> storedRefreshToken(const SignInScope& scope) {
    UniqueCredential credential;
    if (!CredReadW(credentialTarget(scope).c_str(), CRED_TYPE_GENERIC, 0, credential.put())) return std::nullopt;
    const auto* blob = reinterpret_cast<const wchar_t*>(credential.get()->CredentialBlob);
    SecretText token;
    // Tokens are printable ASCII (RFC 6749); anything else is no token of ours.
    for (std::size_t i = 0; i < credential.get()->CredentialBlobSize / sizeof(wchar_t); ++i) {
        if (blob[i] < 0x21 || blob[i] > 0x7E) return std::nullopt;
        token += static_cast<char>(blob[i]);
    }
    if (token.empty()) return std::nullopt;
    return token;
}

void storeRefreshToken(const SignInScope& scope, const SecretText& token) {
    const std::wstring target = credentialTarget(scope);
    std::wstring user = fromUtf8(scope.sender);
    WideSecret secret(token.begin(), token.end());
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<wchar_t*>(target.c_str());
    credential.CredentialBlobSize = static_cast<DWORD>(secret.size() * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<BYTE*>(secret.data());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    credential.UserName = user.data();
    CredWriteW(&credential, 0);
}

void forgetRefreshToken(const SignInScope& scope) { CredDeleteW(credentialTarget(scope).c_str(), CRED_TYPE_GENERIC, 0); }

}  // namespace kt
