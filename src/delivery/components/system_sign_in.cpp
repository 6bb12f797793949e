#include "delivery/components/system_sign_in.h"

#include <wincred.h>

#include <cwchar>
#include <iterator>

#include "foundation/utf8.h"
#include "foundation/api_error.h"
#include "foundation/scope_exit.h"
#include "foundation/credentials.h"

namespace kt {
namespace {

// The SMTP server's under its host name alone, as it has always been kept.
std::wstring credentialTarget(const SignInScope& scope) {
    return (scope.service == MailService::Imap ? L"KT_EMailer:imap:" : L"KT_EMailer:") + fromUtf8(scope.host);
}

// The user name as typed: some systems put the target and a backslash before
// a name without "@".
std::wstring userName(const std::wstring& stored, const std::wstring& target) {
    const std::wstring prefix = target + L"\\";
    return stored.compare(0, prefix.size(), prefix) == 0 ? stored.substr(prefix.size()) : stored;
}

}  // namespace

std::optional<SignIn> SystemSignIn::stored(const SignInScope& scope) {
    const std::wstring target = credentialTarget(scope);
    UniqueCredential credential;
    // A store that cannot be read holds nothing for this server: a server that
    // wants no sign-in must not fail for it, and one that does asks the user.
    if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, credential.put())) return std::nullopt;
    // The password is UTF-16 without a terminator, read where the store put it.
    const std::wstring_view password(reinterpret_cast<const wchar_t*>(credential.get()->CredentialBlob),
                                     credential.get()->CredentialBlobSize / sizeof(wchar_t));
    lastUser_ = userName(credential.get()->UserName ? credential.get()->UserName : L"", target);
    lastWasKept_ = wasKept_ = true;
    return SignIn{toUtf8(lastUser_), toUtf8<SecretText>(password)};
}

std::optional<SignIn> SystemSignIn::ask(const SignInScope& scope, bool lastRefused) {
    const std::wstring server = fromUtf8(scope.host), target = credentialTarget(scope);
    const std::wstring caption = L"Sign in to " + server;
    const bool folders = scope.service == MailService::Imap;
    const std::wstring message =
        lastRefused ? server + L" did not accept the name or password" + (folders ? L" for your Sent folder." : L".")
        : folders   ? L"Sign in to place a copy in your Sent folder on " + server + L"."
                    : L"Sign in to send the message through " + server + L".";
    CREDUI_INFOW info{sizeof info};
    info.hwndParent = owner_ ? owner_ : GetActiveWindow();
    info.pszCaptionText = caption.c_str();
    info.pszMessageText = message.c_str();

    wchar_t user[CREDUI_MAX_USERNAME_LENGTH + 1] = {};
    lastUser_.copy(user, CREDUI_MAX_USERNAME_LENGTH);
    wchar_t password[CREDUI_MAX_PASSWORD_LENGTH + 1] = {};
    const ScopeExit wipePassword([&] { SecureZeroMemory(password, sizeof password); });
    // A user who had the password kept wants the new one kept too.
    BOOL remember = wasKept_ ? TRUE : FALSE;
    lastWasKept_ = false;
    const DWORD flags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_ALWAYS_SHOW_UI |
                        CREDUI_FLAGS_SHOW_SAVE_CHECK_BOX | CREDUI_FLAGS_EXPECT_CONFIRMATION |
                        (lastRefused ? CREDUI_FLAGS_INCORRECT_PASSWORD : 0);
    const DWORD result =
        CredUIPromptForCredentialsW(&info, target.c_str(), nullptr, lastRefused ? ERROR_LOGON_FAILURE : 0, user,
                                    CREDUI_MAX_USERNAME_LENGTH + 1, password, CREDUI_MAX_PASSWORD_LENGTH + 1,
                                    &remember, flags);
    if (result == ERROR_CANCELLED) return std::nullopt;
    if (result != NO_ERROR) throw apiError(result, L"The sign-in dialog for " + server + L" failed");
    lastUser_ = userName(user, target);
    return SignIn{toUtf8(lastUser_), toUtf8<SecretText>(std::wstring_view(password, wcsnlen(password, std::size(password))))};
}

void SystemSignIn::answered(const SignInScope& scope, bool accepted) {
    const std::wstring target = credentialTarget(scope);
    // A kept password the server refused goes, so that the next send asks
    // instead of failing a sign-in again (servers lock accounts out after a few).
    if (lastWasKept_) {
        if (!accepted) CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
        return;
    }
    // One the user typed is stored when "remember" was ticked and the server
    // took it, forgotten otherwise. A store that fails only means the user
    // is asked again next time.
    CredUIConfirmCredentialsW(target.c_str(), accepted);
}

}  // namespace kt
