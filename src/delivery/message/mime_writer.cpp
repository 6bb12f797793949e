#include "delivery/message/mime_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string_view>
#include <utility>

#include "foundation/base64.h"
#include "foundation/characters.h"
#include "foundation/utf8.h"
#include "foundation/split.h"
#include "kt_version.h"

namespace kt {
namespace {

constexpr std::size_t kFoldAt = 78;          // preferred header line length
// A word longer than this would not fit a field's first line ("Subject: ").
constexpr std::size_t kLongestPlainWord = kFoldAt - 9;
constexpr std::size_t kWordPayload = 42;     // UTF-8 bytes per encoded word: 68 characters in all

bool isPrintableAscii(const std::wstring& text) {
    for (wchar_t c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// A word that may go into a header as it is: within a line, not empty (the
// fold goes before words, so a run of blanks would lengthen a line without
// limit) and nothing a reader would take for an encoded word.
bool isPlainWord(const std::wstring& word) {
    return !word.empty() && word.size() <= kLongestPlainWord && word.find(L"=?") == std::wstring::npos;
}

bool arePlainWords(const std::vector<std::wstring>& words) {
    return std::all_of(words.begin(), words.end(), isPlainWord);
}

HeaderWords ascii(const std::vector<std::wstring>& words) {
    HeaderWords out;
    for (const auto& word : words) out.emplace_back(word.begin(), word.end());
    return out;
}

// RFC 2047 encoded words, each short enough to stand on a header line of its
// own. They end after a blank where there is one: some readers show a blank
// where a word was split, so only a word too long for one is.
HeaderWords encodedWords(const std::wstring& text) {
    const std::string utf8 = toUtf8(text);
    HeaderWords words;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = start + kWordPayload < utf8.size() ? start + kWordPayload : utf8.size();
        const auto blank =
            end < utf8.size() ? std::string_view(utf8).substr(start, end - start).rfind(' ') : std::string_view::npos;
        if (blank != std::string_view::npos)
            end = start + blank + 1;
        else
            while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
        words.push_back("=?UTF-8?B?" + base64(utf8.substr(start, end - start)) + "?=");
        start = end;
    }
    return words;
}

// A header field whose words are put on lines of at most 78 characters,
// folding before a word where the line would grow longer. No word is split;
// the writers give only words that fit a line, but addresses.
std::string headerField(const char* name, const HeaderWords& words) {
    std::string field = std::string(name) + ":";
    std::size_t lineLength = field.size();
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0 && !words[i].empty() && lineLength + 1 + words[i].size() > kFoldAt) {
            field += "\r\n";
            lineLength = 0;
        }
        field += ' ';
        field += words[i];
        lineLength += 1 + words[i].size();
    }
    return field + "\r\n";
}

// "Name: a, b, c" with each mailbox's display name and address as words.
std::string addressHeader(const char* name, const std::vector<Mailbox>& mailboxes, bool smtpUtf8) {
    HeaderWords words;
    for (std::size_t i = 0; i < mailboxes.size(); ++i) {
        const MailAddress& address = mailboxes[i].address;
        HeaderWords phrase = mailboxes[i].name ? displayNameWords(*mailboxes[i].name) : HeaderWords();
        // A reader shows an address written beyond ASCII as written: as its name, where it has none.
        if (phrase.empty() && !smtpUtf8 && address.isInternational())
            phrase = displayNameWords(fromUtf8(address.unicode()));
        words.insert(words.end(), phrase.begin(), phrase.end());
        const std::string spec = smtpUtf8 ? address.unicode() : address.ascii();
        words.push_back((phrase.empty() ? spec : "<" + spec + ">") + (i + 1 < mailboxes.size() ? "," : ""));
    }
    return headerField(name, words);
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

// A part's Content-Type (UTF-8 text) and Content-Transfer-Encoding lines.
std::string partHeaders(const char* type, BodyEncoding encoding) {
    return std::string("Content-Type: ") + type + "; charset=UTF-8\r\nContent-Transfer-Encoding: " +
           (encoding == BodyEncoding::EightBit ? "8bit" : "quoted-printable") + "\r\n";
}

std::string messageIdDomain(const MailAddress& sender) {
    return sender.domain.empty() || sender.domain.front() == '[' ? "kt-emailer.invalid" : sender.domain;
}

}  // namespace

HeaderWords displayNameWords(const std::wstring& name) {
    // Blanks around a phrase are not part of it (and "Name <address>" leaves one).
    const std::wstring clean = withoutOuterBlanks(withControlsReplaced(name, L' '));
    if (clean.empty()) return {};
    const auto words = splitAtEvery(clean, L' ');
    if (isAtomsSeparatedBy(clean, L' ') && arePlainWords(words)) return ascii(words);
    if (isPrintableAscii(clean) && clean.size() + 2 <= kLongestPlainWord && clean.find(L"=?") == std::wstring::npos) {
        std::string quoted = "\"";
        for (wchar_t c : clean) {
            if (c == L'"' || c == L'\\') quoted += '\\';
            quoted += static_cast<char>(c);
        }
        if (quoted.size() + 1 <= kLongestPlainWord) return {quoted + "\""};
    }
    // Words that can stand as atoms stay; each run of the others, with the
    // blanks inside it, becomes encoded words. An atom between encoded words
    // keeps the blanks around it under every reading of RFC 2047.
    HeaderWords phrase;
    std::wstring run;
    bool inRun = false;
    const auto endRun = [&] {
        if (!inRun) return;
        const HeaderWords encoded = encodedWords(run);
        phrase.insert(phrase.end(), encoded.begin(), encoded.end());
        run.clear();
        inRun = false;
    };
    for (const auto& word : words) {
        if (isAtomsSeparatedBy(word, L' ') && isPlainWord(word)) {
            endRun();
            phrase.emplace_back(word.begin(), word.end());
        } else {
            run += (inRun ? L" " : L"") + word;
            inRun = true;
        }
    }
    endRun();
    return phrase;
}

HeaderWords unstructuredWords(const std::wstring& text) {
    const std::wstring clean = withControlsReplaced(text, L' ');
    const auto words = splitAtEvery(clean, L' ');
    // Blanks at either end or two together make empty words, which are encoded.
    const bool plain = isPrintableAscii(clean) && (clean.empty() || arePlainWords(words));
    return plain ? ascii(words) : encodedWords(clean);
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

MessageStamp stampMessage(const MailAddress& sender) {
    const std::time_t now = std::time(nullptr);
    std::random_device entropy;
    std::mt19937_64 random((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy() ^
                           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char id[96], boundary[64];
    std::snprintf(id, sizeof id, "<%llx.%016llx@", static_cast<unsigned long long>(now),
                  static_cast<unsigned long long>(random()));
    // "=_" cannot occur in quoted-printable, and chance keeps it out of 8-bit text.
    std::snprintf(boundary, sizeof boundary, "=_kt-%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return {formatDate(now, localUtcOffsetMinutes(now)), id + messageIdDomain(sender) + ">", boundary};
}

std::string writeHeaders(const MailMessage& message, const MessageStamp& stamp, const MessageForm& form) {
    const BodyEncoding encoding = form.encoding;
    std::string text = "Date: " + stamp.date + "\r\n";
    if (message.from) text += addressHeader("From", {*message.from}, form.smtpUtf8);
    if (!message.to.empty()) text += addressHeader("To", message.to, form.smtpUtf8);
    if (!message.cc.empty()) text += addressHeader("Cc", message.cc, form.smtpUtf8);
    if (message.to.empty() && message.cc.empty()) text += "To: undisclosed-recipients:;\r\n";
    text += headerField("Subject", unstructuredWords(message.subject));
    text += "Message-ID: " + stamp.messageId + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    if (message.html) {
        text += "Content-Type: multipart/alternative; boundary=\"" + stamp.boundary + "\"\r\n";
        if (encoding == BodyEncoding::EightBit) text += "Content-Transfer-Encoding: 8bit\r\n";
    } else {
        text += partHeaders("text/plain", encoding);
    }
    text += "X-Mailer: Ardwyn E-Mailer (KT_EMailer " KT_VERSION_NAME ")\r\n";
    return text + "\r\n";
}

namespace {

// The whole message with pictures may take this much where the server names no limit.
constexpr std::uint64_t kMessageBudget = 20u << 20;
// Longer addresses go without Content-Location rather than on a folded line.
constexpr std::size_t kLongestLocation = 900;
// A picture's base64 lines: 76 characters, 57 bytes each.
constexpr std::size_t kBase64LineBytes = 57;

std::string relatedBoundary(const MessageStamp& stamp) { return "=_kr-" + stamp.boundary.substr(5); }

bool isPlainAsciiLine(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::string pictureHeaders(const EmbeddedPicture& picture, std::size_t index, const MessageStamp& stamp) {
    std::string headers = "Content-Type: " + picture.mediaType + "\r\nContent-Transfer-Encoding: base64\r\n";
    headers += "Content-ID: <" + pictureContentId(index, stamp) + ">\r\n";
    if (!picture.address.empty() && picture.address.size() <= kLongestLocation && isPlainAsciiLine(picture.address))
        headers += "Content-Location: " + picture.address + "\r\n";
    return headers + "Content-Disposition: inline; filename=\"" + picture.fileName + "\"\r\n";
}

void writePictureBytes(const std::string& bytes, const BytesSink& sink) {
    constexpr std::size_t kLinesAPiece = 1024;
    std::string piece;
    for (std::size_t at = 0; at < bytes.size(); at += kBase64LineBytes) {
        appendBase64(piece, std::string_view(bytes).substr(at, kBase64LineBytes));
        piece += "\r\n";
        if (piece.size() >= kLinesAPiece * 78) sink(std::exchange(piece, std::string()));
    }
    if (!piece.empty()) sink(piece);
}

std::size_t pictureBytesSize(std::size_t bytes) {
    const std::size_t lines = (bytes + kBase64LineBytes - 1) / kBase64LineBytes;
    return (bytes + 2) / 3 * 4 + lines * 2;
}

// Text kept as two runs, the second going on from the first's last line:
// apart, the two encode to the bytes of the whole.
struct TextRuns {
    std::wstring_view first, second;
};
TextRuns textOf(const MailMessage& message) {
    return {message.body, message.page ? std::wstring_view(*message.page) : std::wstring_view()};
}
void encodeText(const TextRuns& text, BodyEncoding encoding, const BytesSink& sink) {
    encodeBody(text.first, encoding, sink);
    encodeBody(text.second, encoding, sink);
}
std::size_t encodedTextSize(const TextRuns& text, BodyEncoding encoding) {
    return encodedBodySize(text.first, encoding) + encodedBodySize(text.second, encoding);
}

// The HTML with the references to the pictures taken written as cid:
// addresses: what goes before the page as it is, and the rest rewritten.
struct RelatedHtml {
    std::wstring_view before;
    std::wstring rest;

    TextRuns runs() const { return {before, rest}; }
};
RelatedHtml withPictureReferences(const MailMessage& message, const Embedding& embedding, const MessageStamp& stamp) {
    const std::wstring& text = message.page ? *message.page : message.body;
    const std::size_t pageStart = message.page ? embedding.pageStart - message.body.size() : embedding.pageStart;
    std::vector<bool> taken(embedding.pictures->pictures.size());
    for (const auto index : embedding.taken) taken[index] = true;
    RelatedHtml html{message.page ? std::wstring_view(message.body) : std::wstring_view(), {}};
    std::wstring& out = html.rest;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (const auto& reference : embedding.pictures->references) {
        if (!taken[reference.picture]) continue;
        const std::size_t start = pageStart + reference.start;
        out.append(text, copied, start - copied);
        const std::string cid = "cid:" + pictureContentId(reference.picture, stamp);
        out.append(cid.begin(), cid.end());
        copied = start + reference.length;
    }
    out.append(text, copied);
    return html;
}

// The related part's lines before the HTML, before each picture, and after the last.
std::string relatedOpening(const MessageStamp& stamp, BodyEncoding encoding) {
    const std::string boundary = relatedBoundary(stamp);
    return "Content-Type: multipart/related; boundary=\"" + boundary + "\"; type=\"text/html\"\r\n\r\n--" +
           boundary + "\r\n" + partHeaders("text/html", encoding) + "\r\n";
}
std::string pictureOpening(const Embedding& embedding, std::size_t index, const MessageStamp& stamp) {
    return "\r\n--" + relatedBoundary(stamp) + "\r\n" +
           pictureHeaders(embedding.pictures->pictures[index], index, stamp) + "\r\n";
}
std::string relatedClosing(const MessageStamp& stamp) { return "\r\n--" + relatedBoundary(stamp) + "--"; }

void writeRelated(const RelatedHtml& html, const Embedding& embedding, const MessageStamp& stamp,
                  BodyEncoding encoding, const BytesSink& sink) {
    sink(relatedOpening(stamp, encoding));
    encodeText(html.runs(), encoding, sink);
    for (const auto index : embedding.taken) {
        sink(pictureOpening(embedding, index, stamp));
        writePictureBytes(*embedding.pictures->pictures[index].bytes, sink);
    }
    sink(relatedClosing(stamp));
}

std::size_t relatedSize(const RelatedHtml& html, const Embedding& embedding, const MessageStamp& stamp,
                        BodyEncoding encoding) {
    std::size_t size = relatedOpening(stamp, encoding).size() + encodedTextSize(html.runs(), encoding);
    for (const auto index : embedding.taken)
        size += pictureOpening(embedding, index, stamp).size() +
                pictureBytesSize(embedding.pictures->pictures[index].bytes->size());
    return size + relatedClosing(stamp).size();
}

}  // namespace

std::string pictureContentId(std::size_t picture, const MessageStamp& stamp) {
    return "p" + std::to_string(picture + 1) + "." + stamp.boundary.substr(5, 16) + "@kt-emailer";
}

std::string withBccField(std::string headers, const MailMessage& message, const MessageForm& form) {
    if (message.bcc.empty() || headers.size() < 2) return headers;
    headers.insert(headers.size() - 2, addressHeader("Bcc", message.bcc, form.smtpUtf8));
    return headers;
}

void writeBody(const MailMessage& message, const TextPart& textPart, const MessageStamp& stamp,
               BodyEncoding encoding, const BytesSink& sink, const Embedding& embedding) {
    if (!message.html) return encodeText(textOf(message), encoding, sink);
    // The line break before a boundary line belongs to it, not to the part.
    const std::string next = "\r\n--" + stamp.boundary + "\r\n";
    sink(next.substr(2) + partHeaders("text/plain", BodyEncoding::QuotedPrintable) + "\r\n");
    textPart.write(sink);
    if (embedding.empty()) {
        sink(next + partHeaders("text/html", encoding) + "\r\n");
        encodeText(textOf(message), encoding, sink);
    } else {
        sink(next);
        writeRelated(withPictureReferences(message, embedding, stamp), embedding, stamp, encoding, sink);
    }
    sink("\r\n--" + stamp.boundary + "--\r\n");
}

std::size_t bodySize(const MailMessage& message, const TextPart& textPart, const MessageStamp& stamp,
                     BodyEncoding encoding, const Embedding& embedding) {
    if (!message.html) return encodedTextSize(textOf(message), encoding);
    // The frame alone (boundary lines and the parts' headers), then the parts.
    MailMessage frame;
    frame.html = true;
    std::size_t size = 0;
    writeBody(frame, {}, stamp, encoding, [&](const std::string& piece) { size += piece.size(); });
    size += textPart.size();
    if (embedding.empty()) return size + encodedTextSize(textOf(message), encoding);
    // The related part stands where the HTML part's headers were.
    size -= partHeaders("text/html", encoding).size() + 2;
    return size + relatedSize(withPictureReferences(message, embedding, stamp), embedding, stamp, encoding);
}

Embedding embeddingWithin(const MailMessage& message, const TextPart& textPart, const MessageStamp& stamp,
                          const MessageForm& form, const PagePictures& pictures) {
    Embedding embedding;
    const std::optional<std::size_t> pageStart = startOfPage(message, *pictures.page);
    if (!message.html || pictures.pictures.empty() || !pageStart) return embedding;
    embedding.pictures = &pictures;
    embedding.pageStart = *pageStart;
    const std::uint64_t budget = form.sizeLimit > 0 ? form.sizeLimit : kMessageBudget;
    const std::size_t headers = writeHeaders(message, stamp, form).size();
    const auto exactSize = [&] { return headers + bodySize(message, textPart, stamp, form.encoding, embedding); };

    // A picture costs its part; each reference to it grows the HTML at most
    // three times what the cid: address adds (an encoded character each).
    std::vector<std::size_t> growth(pictures.pictures.size());
    for (const auto& reference : pictures.references) {
        const std::size_t cid = 4 + pictureContentId(reference.picture, stamp).size();
        if (cid > reference.length) growth[reference.picture] += 3 * (cid - reference.length);
    }
    std::uint64_t estimate = exactSize() + relatedOpening(stamp, form.encoding).size() + relatedClosing(stamp).size();
    for (std::size_t index = 0; index < pictures.pictures.size(); ++index) {
        const std::uint64_t cost = pictureOpening(embedding, index, stamp).size() +
                                   pictureBytesSize(pictures.pictures[index].bytes->size()) + growth[index];
        if (estimate + cost > budget) continue;
        estimate += cost;
        embedding.taken.push_back(index);
    }
    while (!embedding.taken.empty() && exactSize() > budget) embedding.taken.pop_back();
    return embedding;
}

std::string writeMessage(const MailMessage& message, const MessageStamp& stamp, const MessageForm& form) {
    std::string text = writeHeaders(message, stamp, form);
    writeBody(message, textPart(message), stamp, form.encoding, [&](const std::string& piece) { text += piece; });
    return text;
}

}  // namespace kt
