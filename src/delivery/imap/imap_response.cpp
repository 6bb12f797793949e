#include "delivery/imap/imap_response.h"

#include <algorithm>
#include <string_view>

#include "delivery/mail_error.h"

namespace kt {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void violation(const std::wstring& what) {
    throw mailError(MailFailure::ProtocolViolation, L"The IMAP server sent " + what);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The size of the literal that a line's end announces ("{12}", or "{12+}" as
// a client would write it), if it announces one.
std::optional<std::size_t> literalAnnounced(const std::string& line) {
    if (line.empty() || line.back() != '}') return std::nullopt;
    const auto open = line.rfind('{');
    if (open == std::string::npos) return std::nullopt;
    std::size_t end = line.size() - 1;
    if (end > open + 1 && line[end - 1] == '+') --end;
    if (end == open + 1 || end - open > 10) return std::nullopt;
    std::size_t size = 0;
    for (std::size_t i = open + 1; i < end; ++i) {
        if (!isDigit(line[i])) return std::nullopt;
        size = size * 10 + static_cast<std::size_t>(line[i] - '0');
    }
    return size;
}

// A letter of a tag (RFC 9051: ASTRING-CHAR but "+").
bool isTagChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7f && std::string_view("(){\"%*\\+").find(c) == std::string_view::npos;
}

std::string upperCase(std::string text) {
    for (auto& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

std::string ImapReader::line(Clock::time_point deadline) {
    for (;;) {
        const auto end = buffer_.find('\n');
        if (std::min(end, buffer_.size()) > kLongestImapLine) violation(L"a line that never ends.");
        if (end != std::string::npos) {
            std::string text = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!text.empty() && text.back() == '\r') text.pop_back();
            if (text.find('\0') != std::string::npos) violation(L"a NUL in a response.");
            return text;
        }
        fill(deadline);
    }
}

void ImapReader::fill(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const std::string arrived = transport_.receive(std::max(left, std::chrono::milliseconds(0)));
    if (arrived.empty()) throw mailError(MailFailure::ConnectionClosed, L"The IMAP server closed the connection.");
    buffer_ += arrived;
}

ImapResponse ImapReader::read(Clock::time_point deadline) {
    ImapResponse response;
    std::string text = line(deadline);
    std::size_t size = text.size();
    // A line that ends in a literal's size goes on after the literal's bytes.
    while (const auto literal = literalAnnounced(text)) {
        if (*literal > kLongestImapLiteral) violation(L"a literal too long for what was asked.");
        while (buffer_.size() < *literal) fill(deadline);
        response.literals.push_back(buffer_.substr(0, *literal));
        buffer_.erase(0, *literal);
        response.text += text;
        text = line(deadline);
        size += *literal + text.size();
        if (size > kLongestImapResponse) violation(L"a response that never ends.");
    }
    response.text += text;

    const std::string& all = response.text;
    const auto space = all.find(' ');
    const std::string first = all.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : all.substr(space + 1);
    if (first == "*") {
        response.kind = ImapResponse::Kind::Untagged;
    } else if (first == "+") {
        response.kind = ImapResponse::Kind::Continuation;
    } else if (!first.empty() && std::all_of(first.begin(), first.end(), isTagChar) &&
               space != std::string::npos) {
        response.kind = ImapResponse::Kind::Tagged;
        response.tag = first;
    } else {
        violation(L"a malformed response: " + serverText(all.substr(0, 200)));
    }
    response.text = rest;
    if (response.kind != ImapResponse::Kind::Continuation && response.text.empty())
        violation(L"a malformed response: " + serverText(all.substr(0, 200)));
    return response;
}

std::string ImapResponse::word() const {
    return upperCase(text.substr(0, text.find(' ')));
}

std::string ImapResponse::code() const {
    const auto space = text.find(' ');
    if (space == std::string::npos || text.compare(space + 1, 1, "[") != 0) return {};
    const auto close = text.find(']', space);
    if (close == std::string::npos) return {};
    return text.substr(space + 2, close - space - 2);
}

std::string ImapResponse::humanText() const {
    auto from = text.find(' ');
    if (from == std::string::npos) return {};
    ++from;
    if (text.compare(from, 1, "[") == 0) {
        const auto close = text.find(']', from);
        from = close == std::string::npos ? text.size() : std::min(text.size(), close + 2);
    }
    return text.substr(from);
}

ImapWords::ImapWords(const ImapResponse& response) : response_(response) {}

ImapWord ImapWords::next() {
    const std::string& text = response_.text;
    while (at_ < text.size() && text[at_] == ' ') ++at_;
    if (at_ >= text.size()) return {};
    const char c = text[at_];
    if (c == '(' || c == ')') {
        ++at_;
        return {c == '(' ? ImapWord::Kind::Open : ImapWord::Kind::Close, std::string(1, c)};
    }
    if (c == '"') {
        std::string value;
        for (++at_; at_ < text.size() && text[at_] != '"'; ++at_) {
            if (text[at_] == '\\' && at_ + 1 < text.size()) ++at_;
            value += text[at_];
        }
        ++at_;
        return {ImapWord::Kind::String, value};
    }
    if (c == '{') {
        const auto close = text.find('}', at_);
        at_ = close == std::string::npos ? text.size() : close + 1;
        if (literal_ >= response_.literals.size()) return {};
        return {ImapWord::Kind::String, response_.literals[literal_++]};
    }
    const auto start = at_;
    // Brackets end an atom only where they close a response code.
    while (at_ < text.size() && text[at_] != ' ' && text[at_] != '(' && text[at_] != ')' && text[at_] != '"' &&
           text[at_] != '{')
        ++at_;
    return {ImapWord::Kind::Atom, text.substr(start, at_ - start)};
}

std::optional<std::string> ImapWords::nextString() {
    ImapWord word = next();
    if (word.kind == ImapWord::Kind::String) return word.text;
    if (word.kind == ImapWord::Kind::Atom && upperCase(word.text) != "NIL") return word.text;
    return std::nullopt;
}

std::set<std::string> capabilitiesIn(const std::string& list) {
    std::set<std::string> capabilities;
    std::size_t from = 0;
    while (from < list.size()) {
        auto end = list.find(' ', from);
        if (end == std::string::npos) end = list.size();
        if (end > from) capabilities.insert(upperCase(list.substr(from, end - from)));
        from = end + 1;
    }
    return capabilities;
}

}  // namespace kt
