#pragma once
// A fuzzer's input as a server's bytes: handed out in pieces of the sizes its
// first bytes choose; TLS starts whenever the client asks; anything of a
// sign-in sent before it is a fault.

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/sockets/transport.h"

class Arriving final : public kt::Transport {
public:
    // `signInMarks`: what only a sign-in would send.
    Arriving(const uint8_t* data, size_t size, std::initializer_list<const char*> signInMarks)
        : data_(reinterpret_cast<const char*>(data), size), signInMarks_(signInMarks) {}

    void send(std::string_view bytes) override {
        if (encrypted_) return;
        for (const char* mark : signInMarks_)
            if (bytes.find(mark) != std::string_view::npos) __builtin_trap();  // a sign-in in the clear
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
    std::vector<const char*> signInMarks_;
    bool encrypted_ = false;
};
