// Whatever an IMAP server sends, reading responses ends in a response or in
// the error for a broken one or a closed connection, never in a crash or a
// hang; and the whole copy's dialogue against the same bytes never lets a
// password out in the clear.

#include <cstdint>
#include <string>

#include "delivery/imap/imap_response.h"
#include "delivery/imap/imap_session.h"
#include "delivery/mail_error.h"
#include "foundation/component_error.h"

namespace {

// Hands out the input in pieces of the sizes its first bytes choose; TLS
// starts whenever the client asks.
class Arriving final : public kt::Transport {
public:
    Arriving(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data), size) {}
    void send(std::string_view bytes) override {
        if (!encrypted_ && (bytes.find("secret") != std::string::npos || bytes.find("c2VjcmV0") != std::string::npos ||
                            bytes.find("AHVzZXIAc2VjcmV0") != std::string::npos))
            __builtin_trap();  // a sign-in in the clear
    }
    std::string receive(std::chrono::milliseconds) override {
        if (data_.empty()) return {};
        const size_t piece = 1 + static_cast<unsigned char>(data_[0]) % 64;
        std::string out = data_.substr(0, piece);
        data_.erase(0, piece);
        return out;
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string&, std::chrono::milliseconds) override { encrypted_ = true; }
    bool encrypted() const override { return encrypted_; }

private:
    std::string data_;
    bool encrypted_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    Arriving server(data, size);
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

    Arriving dialogue(data, size);
    const kt::SignIn account{"user", "secret"};
    try {
        kt::placeSentCopy(dialogue, {"imap.example.com", false, &account, "", "Subject: s\r\n\r\nx\r\n"}, deadline);
    } catch (const kt::ComponentError&) {
    }
    return 0;
}
