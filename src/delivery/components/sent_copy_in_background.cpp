#include "delivery/components/sent_copy_in_background.h"

#include <windows.h>

#include <memory>

#include "delivery/components/system_sign_in.h"
#include "delivery/imap/sent_copy.h"
#include "delivery/sockets/socket_transport.h"
#include "foundation/background_work.h"
#include "foundation/utf8.h"
#include "settings/error_with_time.h"

namespace kt {
namespace {

SentCopySettings settingsFor(const std::string& smtpHost) {
    const std::wstring key = std::wstring(kSentCopyKey) + L"\\" + fromUtf8(smtpHost);
    return {registryString(HKEY_CURRENT_USER, key.c_str(), L"Mode"),
            registryString(HKEY_CURRENT_USER, key.c_str(), L"Server"),
            registryString(HKEY_CURRENT_USER, key.c_str(), L"Folder")};
}

void report(const ComponentError& failure, bool showError) {
    if (showError) ShowErrorWithTime(L"The message was sent, but " + sentCopyNotice(failure));
}

}  // namespace

void placeSentCopyInBackground(const std::function<std::string()>& copy, const SignInScope& scope,
                               const SignIn* given, bool showError) {
    std::optional<SentCopyPlan> plan;
    try {
        plan = sentCopyPlan(scope.host, settingsFor(scope.host));
    } catch (const ComponentError& failure) {
        return report(failure, showError);
    }
    if (!plan) return;
    auto message = std::make_shared<SentMessage>(SentMessage{copy(), scope, std::nullopt});
    if (given) message->signIn.emplace(given->user, given->password, given->bearer);
    try {
        // The work owns all it needs; no one waits for it, and the module stays loaded until it ends.
        BackgroundWork<bool>(
            [message, plan = *plan, showError] {
                const auto deadline = std::chrono::steady_clock::now() + kSentCopyTime;
                try {
                    SystemSignIn signIns(nullptr);
                    DeliveryProgress progress;
                    placeCopyOfSent(*message, plan, &signIns, connectSocket, progress, deadline);
                } catch (...) {
                    report(currentError(), showError);
                }
                return true;
            },
            L"Starting the copy in the Sent folder failed");
    } catch (const ComponentError& failure) {
        report(failure, showError);
    }
}

}  // namespace kt
