#pragma once
// The server's side of a session test: replies taken from a script by the
// step they answer (in turn, the last one kept), handed to the client in
// pieces that grow from one byte; TLS started for the expected host only,
// and marked in the trace.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "delivery/mail_failures.h"
#include "delivery/sign_in.h"
#include "delivery/sockets/transport.h"

namespace kt {

inline const SignIn kAnn{"ann", "pa55word"};
inline const SignIn kAnnsToken{"ann@example.com", "ya29.t0ken", true};  // a provider's access token

class ScriptedServerBase : public Transport {
public:
    using Script = std::map<std::string, std::vector<std::string>>;

    std::string receive(std::chrono::milliseconds) override {
        const std::string piece = pending_.substr(at_, 1 + at_ % 4096);
        at_ += piece.size();
        return piece;
    }
    std::string localAddressLiteral() const override { return "[127.0.0.1]"; }
    void startTls(const std::string& host, std::chrono::milliseconds) override {
        EXPECT_EQ(host, host_);
        trace += "TLS ";
        encrypted_ = true;
    }
    bool encrypted() const override { return encrypted_; }

    std::string trace;

protected:
    // `defaults` as the script leaves them; `whenNone` once a step's replies are used up.
    ScriptedServerBase(std::string host, Script defaults, const Script& script, std::string whenNone,
                       std::string arriving = {})
        : script_(std::move(defaults)), pending_(std::move(arriving)), host_(std::move(host)),
          whenNone_(std::move(whenNone)) {
        for (const auto& [step, replies] : script) script_[step] = replies;
    }

    // The next reply to `step`, with its line end.
    std::string next(const std::string& step) {
        auto& replies = script_[step];
        const std::string reply = replies.empty() ? whenNone_ : replies.front();
        if (replies.size() > 1) replies.erase(replies.begin());
        return reply + "\r\n";
    }
    // Whether what the client reads next starts so.
    bool answersNext(const char* start) const { return pending_.find(start, at_) == at_; }

    Script script_;
    std::string pending_;  // all the server has said
    std::size_t at_ = 0;   // how much of it the client has read
    bool encrypted_ = false;

private:
    std::string host_, whenNone_;
};

}  // namespace kt
