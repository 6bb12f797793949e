#include "delivery/imap/sent_copy.h"

#include <algorithm>
#include <optional>

#include "delivery/mail_error.h"

namespace kt {

PlacedCopy placeCopyOfSent(const SentMessage& message, const SentCopyPlan& plan, SignInProvider* signIns,
                           const TransportFactory& connect, DeliveryProgress& progress,
                           std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    // The time the user takes at the sign-in dialog is the user's, not the copy's.
    const auto timeForTheCopy = deadline - Clock::now();
    std::optional<ComponentError> unreachable;
    for (const ImapServer& server : plan.servers) {
        // One given for IMAP itself first, then the SMTP account's.
        const SignInScope imapScope{server.host, message.scope.sender, MailService::Imap};
        std::optional<SignIn> signIn = signIns ? signIns->stored(imapScope) : std::nullopt;
        bool ownSignIn = signIn.has_value(), asked = false;
        if (!signIn && message.signIn)
            signIn.emplace(message.signIn->user, message.signIn->password, message.signIn->bearer);
        if (!signIn && signIns) signIn = signIns->stored(message.scope);
        for (;;) {
            const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                                       std::chrono::milliseconds(1));
            std::unique_ptr<Transport> transport;
            try {
                transport = connect(server.host, server.port, ConnectionTimeouts{left, left, deadline}, progress);
            } catch (const DeliveryStopped&) {
                throw;
            } catch (const ComponentError& failure) {
                unreachable = failure;  // the next way to the server, if there is one
                break;
            }
            try {
                PlacedCopy placed = placeSentCopy(
                    *transport, {server.host, server.implicitTls, signIn ? &*signIn : nullptr, plan.folder, message.bytes},
                    deadline);
                if (asked) signIns->answered(imapScope, true);  // kept for IMAP where the user asked for that
                return placed;
            } catch (const ImapSignInRefused&) {
                if (!signIns || asked || (signIn && signIn->bearer)) throw;
                if (ownSignIn) signIns->answered(imapScope, false);  // refused: kept no longer
                // The SMTP account's password is not the IMAP one: the user may give it, once.
                asked = true;
                ownSignIn = false;
                signIn.reset();
                signIn = signIns->ask(imapScope, true);
                if (!signIn) throw;
                deadline = std::max(deadline, Clock::now() + timeForTheCopy);
            }
        }
    }
    if (!unreachable) throw mailError(MailFailure::InvalidServer, L"No IMAP server is known for the Sent copy.");
    throw *unreachable;
}

std::wstring sentCopyNotice(const ComponentError& failure) {
    return L"no copy could be placed in your Sent folder: " + failure.description();
}

}  // namespace kt
