#pragma once
// What an IMAP server sends (RFC 9051, RFC 3501): responses read whole, each
// with the literals it carries, and the words of a response's text. Reading
// is bounded: a response past its limits, a NUL or a line that never ends is
// a protocol violation, never a hang past the deadline.

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "delivery/sockets/transport.h"

namespace kt {

struct ImapResponse {
    enum class Kind { Untagged, Continuation, Tagged };
    Kind kind = Kind::Untagged;
    std::string tag;                    // a tagged response's tag
    std::string text;                   // after "* ", "+ " or the tag; each literal stands there as {n}
    std::vector<std::string> literals;  // the literals' bytes, in order

    // The first word in upper case: OK, NO, BAD, BYE, PREAUTH, CAPABILITY, LIST...
    std::string word() const;
    // The response code in brackets after a status: "APPENDUID 38505 3955"; empty without one.
    std::string code() const;
    // What follows the status and its code, for a report.
    std::string humanText() const;
};

// Literal sizes and lines a server may send the copy's client: it asks only
// for capabilities, folder names and short verdicts.
constexpr std::size_t kLongestImapLine = 64 * 1024;
constexpr std::size_t kLongestImapLiteral = 64 * 1024;
constexpr std::size_t kLongestImapResponse = 1024 * 1024;

class ImapReader {
public:
    explicit ImapReader(Transport& transport) : transport_(transport) {}
    // The next whole response; throws on the deadline, a closed connection
    // or a response that breaks the syntax or the limits.
    ImapResponse read(std::chrono::steady_clock::time_point deadline);
    // Bytes that arrived after the last response read.
    bool hasUnreadBytes() const { return !buffer_.empty(); }

private:
    std::string line(std::chrono::steady_clock::time_point deadline);
    void fill(std::chrono::steady_clock::time_point deadline);

    Transport& transport_;
    std::string buffer_;
};

// One word of a response's text.
struct ImapWord {
    enum class Kind { Atom, String, Open, Close, End };
    Kind kind = Kind::End;
    std::string text;  // an atom's letters, a quoted string or literal's bytes
};

// The words of a response's text, one at a time.
class ImapWords {
public:
    explicit ImapWords(const ImapResponse& response);
    ImapWord next();
    // The next word as a string (atom, quoted, literal), or nothing (NIL, a list, the end).
    std::optional<std::string> nextString();

private:
    const ImapResponse& response_;
    std::size_t at_ = 0;
    std::size_t literal_ = 0;
};

// The capabilities a CAPABILITY response or code names, upper case.
std::set<std::string> capabilitiesIn(const std::string& list);

}  // namespace kt
