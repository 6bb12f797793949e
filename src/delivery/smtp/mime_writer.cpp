#include "delivery/smtp/mime_writer.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "delivery/smtp/base64.h"
#include "delivery/smtp/characters.h"
#include "delivery/smtp/utf8.h"

namespace kt {
namespace {

constexpr std::size_t kFoldAt = 78;          // preferred header line length
constexpr std::size_t kQuotedLine = 75;      // encoded body text per line, before a soft break
constexpr std::size_t kWordPayload = 45;     // UTF-8 bytes per encoded word: 60 base64 characters
constexpr const char* kHex = "0123456789ABCDEF";

bool isPrintableAscii(const std::wstring& text) {
    for (wchar_t c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// RFC 2047 encoded words of at most 75 characters, split between characters
// and folded onto lines of their own.
std::string encodedWords(const std::wstring& text) {
    const std::string utf8 = toUtf8(text);
    std::string out;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = start + kWordPayload < utf8.size() ? start + kWordPayload : utf8.size();
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + base64(utf8.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

std::string mailboxText(const Mailbox& mailbox) {
    const std::string name = mailbox.name ? encodeDisplayName(*mailbox.name) : std::string();
    return name.empty() ? mailbox.address : name + " <" + mailbox.address + ">";
}

// "Name: a, b, c" folded between addresses.
std::string addressHeader(const char* name, const std::vector<Mailbox>& mailboxes) {
    std::string header = std::string(name) + ": ";
    std::size_t lineLength = header.size();
    for (std::size_t i = 0; i < mailboxes.size(); ++i) {
        const std::string text = mailboxText(mailboxes[i]) + (i + 1 < mailboxes.size() ? "," : "");
        if (i > 0) {
            const std::size_t firstLine = text.find("\r\n");
            const std::size_t width = firstLine == std::string::npos ? text.size() : firstLine;
            if (lineLength + 1 + width > kFoldAt) {
                header += "\r\n";
                lineLength = 0;
            }
            header += ' ';
            ++lineLength;
        }
        header += text;
        const std::size_t lastBreak = header.rfind("\r\n");
        lineLength = lastBreak == std::string::npos ? header.size() : header.size() - lastBreak - 2;
    }
    return header + "\r\n";
}

void civilFromDays(long long days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(yearOfEra + era * 400) + (month <= 2);
}

long long daysFromCivil(int year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

long long secondsOf(const std::tm& t) {
    return daysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday)) *
               86400 +
           t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

int localUtcOffsetMinutes(std::time_t moment) {
    const std::tm local = *std::localtime(&moment);
    const std::tm utc = *std::gmtime(&moment);
    return static_cast<int>((secondsOf(local) - secondsOf(utc)) / 60);
}

std::string messageIdDomain(const std::string& senderAddress) {
    const auto at = senderAddress.rfind('@');
    const std::string domain = at == std::string::npos ? std::string() : senderAddress.substr(at + 1);
    return domain.empty() || domain.front() == '[' ? "kt-emailer.invalid" : domain;
}

}  // namespace

std::string encodeQuotedPrintable(const std::string& utf8) {
    std::string out;
    appendQuotedPrintable(out, utf8);
    return out;
}

void appendQuotedPrintable(std::string& out, const std::string& utf8) {
    out.reserve(out.size() + utf8.size() + utf8.size() / 16 + 8);
    std::size_t lineLength = 0;
    auto emit = [&](const char* token, std::size_t length) {
        if (lineLength + length > kQuotedLine) {
            out += "=\r\n";
            lineLength = 0;
        }
        out.append(token, length);
        lineLength += length;
    };
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
            out += "\r\n";
            lineLength = 0;
            ++i;
            continue;
        }
        const bool endsLine = i + 1 == utf8.size() || (utf8[i + 1] == '\r' && i + 2 < utf8.size() && utf8[i + 2] == '\n');
        const bool blank = c == ' ' || c == '\t';
        const bool literal = (c > 32 && c < 127 && c != '=') || (blank && !endsLine);
        // A line that starts with "." is encoded, so no server ever sees a dot line.
        const bool lineStart = lineLength == 0 || lineLength + 1 > kQuotedLine;
        if (literal && !(c == '.' && lineStart)) {
            const char token = static_cast<char>(c);
            emit(&token, 1);
        } else {
            const char token[3] = {'=', kHex[c >> 4], kHex[c & 15]};
            emit(token, 3);
        }
    }
    // Text that does not end with a line break ends with a soft one, so that
    // the message's closing CR LF adds nothing to it.
    const bool endsWithBreak = utf8.size() >= 2 && utf8.compare(utf8.size() - 2, 2, "\r\n") == 0;
    if (!utf8.empty() && !endsWithBreak) out += "=\r\n";
}

std::string encodeDisplayName(const std::wstring& name) {
    // Blanks around a phrase are not part of it (and "Name <address>" leaves one).
    std::wstring clean = withControlsReplaced(name, L' ');
    clean.erase(0, clean.find_first_not_of(L' '));
    clean.erase(clean.find_last_not_of(L' ') + 1);
    if (isAtomsSeparatedBy(clean, L' ')) return std::string(clean.begin(), clean.end());
    if (isPrintableAscii(clean) && clean.size() < kFoldAt) {
        std::string quoted = "\"";
        for (wchar_t c : clean) {
            if (c == L'"' || c == L'\\') quoted += '\\';
            quoted += static_cast<char>(c);
        }
        return quoted + "\"";
    }
    return encodedWords(clean);
}

std::string encodeUnstructured(const std::wstring& text, std::size_t used) {
    const std::wstring clean = withControlsReplaced(text, L' ');
    const bool needsWords = !isPrintableAscii(clean) || clean.find(L"=?") != std::wstring::npos ||
                            (!clean.empty() && (clean.front() == L' ' || clean.back() == L' '));
    bool foldable = !needsWords;
    std::size_t run = 0;
    for (wchar_t c : clean) {
        run = c == L' ' ? 0 : run + 1;
        if (run > kFoldAt - 2) foldable = false;  // a word too long for any line
    }
    if (!foldable) return encodedWords(clean);

    // Fold before a blank where the line would grow past the preferred length.
    std::string out;
    std::size_t lineLength = used;
    std::size_t i = 0;
    while (i < clean.size()) {
        std::size_t wordEnd = clean.find(L' ', i + 1);
        if (wordEnd == std::wstring::npos) wordEnd = clean.size();
        if (clean[i] == L' ' && lineLength + (wordEnd - i) > kFoldAt && lineLength > 1) {
            out += "\r\n";
            lineLength = 0;
        }
        out.append(clean.begin() + static_cast<std::ptrdiff_t>(i), clean.begin() + static_cast<std::ptrdiff_t>(wordEnd));
        lineLength += wordEnd - i;
        i = wordEnd;
    }
    return out;
}

std::string formatDate(std::time_t moment, int utcOffsetMinutes) {
    static const char* days[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long long local = static_cast<long long>(moment) + utcOffsetMinutes * 60LL;
    long long dayNumber = local / 86400;
    long long second = local % 86400;
    if (second < 0) {
        second += 86400;
        --dayNumber;
    }
    int year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(dayNumber, year, month, day);
    const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d %c%02d%02d",
                  days[((dayNumber % 7) + 7) % 7], day, months[month - 1], year, static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60), utcOffsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    return text;
}

MessageStamp stampMessage(const std::string& senderAddress) {
    const std::time_t now = std::time(nullptr);
    std::random_device entropy;
    std::mt19937_64 random((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy() ^
                           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char id[96];
    std::snprintf(id, sizeof id, "<%llx.%016llx@", static_cast<unsigned long long>(now),
                  static_cast<unsigned long long>(random()));
    return {formatDate(now, localUtcOffsetMinutes(now)), id + messageIdDomain(senderAddress) + ">"};
}

std::string writeMessage(const MailMessage& message, const MessageStamp& stamp) {
    std::string text = "Date: " + stamp.date + "\r\n";
    if (message.from) text += addressHeader("From", {*message.from});
    if (!message.to.empty()) text += addressHeader("To", message.to);
    if (!message.cc.empty()) text += addressHeader("Cc", message.cc);
    if (message.to.empty() && message.cc.empty()) text += "To: undisclosed-recipients:;\r\n";
    text += "Subject: " + encodeUnstructured(message.subject, 9) + "\r\n";
    text += "Message-ID: " + stamp.messageId + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += std::string("Content-Type: ") + (message.html ? "text/html" : "text/plain") + "; charset=UTF-8\r\n";
    text += "Content-Transfer-Encoding: quoted-printable\r\n";
    text += "X-Mailer: Ardwyn E-Mailer (KT_EMailer 1.0)\r\n";
    text += "\r\n";
    appendQuotedPrintable(text, toUtf8(message.body));
    return text;
}

}  // namespace kt
