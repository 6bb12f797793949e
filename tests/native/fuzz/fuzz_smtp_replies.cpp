// Whatever a server sends, reading replies ends in a reply or in the error
// for a broken reply or a closed connection, never in a crash or a hang.

#include <cstdint>
#include <string>

#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/smtp_session.h"

namespace {

// Hands out the input in pieces of the sizes its first bytes choose.
class Arriving final : public kt::Transport {
public:
    Arriving(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data), size) {}
    void send(const std::string&) override {}
    std::string receive(std::chrono::milliseconds) override {
        if (data_.empty()) return {};
        const size_t piece = 1 + static_cast<unsigned char>(data_[0]) % 64;
        std::string out = data_.substr(0, piece);
        data_.erase(0, piece);
        return out;
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }

private:
    std::string data_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Arriving server(data, size);
    kt::SmtpReplyReader reader(server);
    try {
        for (;;) {
            const kt::SmtpReply reply = reader.read(std::chrono::milliseconds(0));
            if (reply.code < 0 || reply.code > 999 || reply.lines.empty()) __builtin_trap();
        }
    } catch (const kt::ComponentError& error) {
        if (error.number() != kt::kMailErrorBase + 5 && error.number() != kt::kMailErrorBase + 6) __builtin_trap();
    }
    return 0;
}
