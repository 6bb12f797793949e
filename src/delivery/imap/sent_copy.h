#pragma once
// The copy of a sent message in the user's Sent folder: as the plan for its
// SMTP server says, with the same account as the SMTP sign-in. A failure is
// thrown with the reason in words (server, sign-in, folder, size); it never
// touches the message, which has gone.

#include <chrono>
#include <optional>
#include <string>

#include "delivery/imap/imap_session.h"
#include "delivery/imap/sent_copy_plan.h"
#include "delivery/sign_in.h"
#include "delivery/sockets/transport.h"

namespace kt {

// What the SMTP mail component hands on once its server accepted a message.
struct SentMessage {
    std::string bytes;  // what was sent, with the Bcc field (withBccField)
    SignInScope scope;  // the SMTP sign-in's: its host and the sender
    std::optional<SignIn> signIn;  // the one the SMTP server accepted, if it wanted one
};

// How long a copy may take in all.
constexpr std::chrono::seconds kSentCopyTime{30};

// A sign-in kept for the IMAP server itself is used first, else the SMTP
// account's (the one its server accepted, or the kept one); the user is asked
// only when the IMAP server refuses it, once, and the time the user takes
// there moves `deadline` on. Servers of the plan are tried in turn while they
// cannot be reached.
PlacedCopy placeCopyOfSent(const SentMessage& message, const SentCopyPlan& plan, SignInProvider* signIns,
                           const TransportFactory& connect, DeliveryProgress& progress,
                           std::chrono::steady_clock::time_point deadline);

// The report of a failed copy, to follow "The message was sent, but ".
std::wstring sentCopyNotice(const ComponentError& failure);

}  // namespace kt
