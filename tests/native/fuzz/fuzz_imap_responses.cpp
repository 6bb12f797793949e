// Whatever an IMAP server sends, reading responses ends in a response or in
// the error for a broken one or a closed connection, never in a crash or a
// hang; and the whole copy's dialogue against the same bytes never lets a
// password out in the clear.

#include <cstdint>
#include <string>

#include "arriving_input.h"
#include "delivery/imap/imap_response.h"
#include "delivery/imap/imap_session.h"
#include "delivery/mail_error.h"
#include "foundation/component_error.h"

namespace {

const std::initializer_list<const char*> kSignInMarks = {"secret", "c2VjcmV0", "AHVzZXIAc2VjcmV0"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    Arriving server(data, size, kSignInMarks);
    kt::ImapReader reader(server);
    try {
        for (;;) {
            const kt::ImapResponse response = reader.read(deadline);
            kt::listedMailbox(response);
            kt::capabilitiesIn(response.code());
            response.humanText();
        }
    } catch (const kt::ComponentError& error) {
        if (error.number() != kt::kMailErrorBase + 5 && error.number() != kt::kMailErrorBase + 6) __builtin_trap();
    }

    Arriving dialogue(data, size, kSignInMarks);
    const kt::SignIn account{"user", "secret"};
    try {
        kt::placeSentCopy(dialogue, {"imap.example.com", false, &account, "", "Subject: s\r\n\r\nx\r\n"}, deadline);
    } catch (const kt::ComponentError&) {
    }
    return 0;
}
