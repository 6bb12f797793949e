// Whatever a server sends, reading replies ends in a reply or in the error
// for a broken reply or a closed connection, never in a crash or a hang; and
// a whole dialogue with a sign-in to give, against the same bytes, never lets
// a password out in the clear.

#include <cstdint>
#include <string>

#include "arriving_input.h"
#include "delivery/mail_error.h"
#include "delivery/smtp/smtp_session.h"
#include "foundation/component_error.h"

namespace {

const std::initializer_list<const char*> kSignInMarks = {"AUTH", "c2VjcmV0"};

// A short message, the same in any encoding.
class Hello final : public kt::OutgoingMessage {
public:
    bool fitsEightBit() const override { return true; }
    std::size_t size(const kt::MessageForm&) const override { return 5; }
    void write(const kt::MessageForm&, const kt::BytesSink& sink) const override { sink("Hello"); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Arriving server(data, size, kSignInMarks);
    kt::SmtpReplyReader reader(server);
    try {
        for (;;) {
            const kt::SmtpReply reply = reader.read(std::chrono::milliseconds(0));
            if (reply.code < 0 || reply.code > 999 || reply.lines.empty()) __builtin_trap();
            kt::serverOffers(reply);
        }
    } catch (const kt::ComponentError& error) {
        if (error.number() != kt::kMailErrorBase + 5 && error.number() != kt::kMailErrorBase + 6) __builtin_trap();
    }

    Arriving dialogue(data, size, kSignInMarks);
    const kt::SignIn account{"user", "secret"};
    try {
        kt::deliverOverSmtp(dialogue, kt::Envelope{kt::checkedAddress(L"me@example.com"), {kt::checkedAddress(L"you@example.com")}}, Hello(),
                            kt::ReplyTimeouts::all(std::chrono::milliseconds(0)),
                            {"mail.example.com", false, false, &account});
    } catch (const kt::ComponentError&) {
    }
    return 0;
}
