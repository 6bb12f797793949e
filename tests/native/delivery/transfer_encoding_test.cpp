// The body on its way to the wire: quoted-printable or 8-bit, in pieces of
// any size, and the data section's dot-stuffing across the pieces.

#include <gtest/gtest.h>

#include "delivery/smtp/body_encoder.h"
#include "delivery/smtp/smtp_session.h"
#include "delivery/smtp/utf8.h"

namespace kt {
namespace {

std::string encoded(const std::wstring& text, BodyEncoding encoding, std::size_t pieceSize) {
    std::string out;
    encodeBody(text, encoding, [&](const std::string& piece) { out += piece; }, pieceSize);
    return out;
}

std::string decodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

TEST(QuotedPrintable, RoundTripsExactlyWithinTheLineLimitWhateverThePieces) {
    const std::wstring samples[] = {
        L"", L"plain", L"ends with break\r\n", L"lone\nfeed\rreturn", L"trailing blank \r\nand tab\t",
        std::wstring(5000, L'x'), L"a=b", L"Gr\u00fc\u00dfe \u65e5\u672c \U0001F600", L".\r\n..\r\n.x",
        std::wstring(74, L'y') + L".", std::wstring(200, L' ')};
    for (const auto& text : samples) {
        const std::string whole = encoded(text, BodyEncoding::QuotedPrintable, 1 << 20);
        EXPECT_EQ(encoded(text, BodyEncoding::QuotedPrintable, 7), whole);
        EXPECT_EQ(decodeQuotedPrintable(whole), toUtf8(text));
        for (std::size_t start = 0; start < whole.size();) {
            const std::size_t end = whole.find("\r\n", start);
            ASSERT_NE(end, std::string::npos) << "a last line without CR LF";
            EXPECT_LE(end - start, 76u);
            EXPECT_NE(whole[start], '.') << "a line starts with a dot";
            EXPECT_NE(whole[end - 1], ' ') << "a blank ends a line";
            for (std::size_t i = start; i < end; ++i)
                EXPECT_TRUE(whole[i] >= 32 && whole[i] < 127) << "byte " << int(whole[i]);
            start = end + 2;
        }
    }
}

TEST(EightBit, OnlyForTextOfWholeLinesWithinTheLimit) {
    const std::wstring fits[] = {L"", L"line\r\n", L"Gr\u00fc\u00dfe\r\n\r\n", std::wstring(998, L'x') + L"\r\n",
                                 L"." + std::wstring(996, L'x') + L"\r\n", std::wstring(499, L'\u00e9') + L"\r\n"};
    const std::wstring doesNot[] = {L"no final break", L"lone\nfeed\r\n", L"lone\rreturn\r\n",
                                    std::wstring(L"nul\0\r\n", 6), std::wstring(999, L'x') + L"\r\n",
                                    L"." + std::wstring(997, L'x') + L"\r\n", std::wstring(500, L'\u00e9') + L"\r\n"};
    for (const auto& text : fits) {
        EXPECT_TRUE(fitsEightBit(text)) << text.size();
        EXPECT_EQ(encoded(text, BodyEncoding::EightBit, 3), toUtf8(text));
    }
    for (const auto& text : doesNot) EXPECT_FALSE(fitsEightBit(text)) << text.size();
}

TEST(DataSection, DoublesLeadingDotsAcrossPiecesAndEndsWithTheDotLine) {
    const auto section = [](std::vector<std::string> pieces) {
        std::string sent;
        DataSection data([&](const std::string& piece) { sent += piece; });
        for (const auto& piece : pieces) data.add(piece);
        data.finish();
        return sent;
    };
    EXPECT_EQ(section({".a\r", "\n.b\r\n", ".", "x"}), "..a\r\n..b\r\n..x\r\n.\r\n");
    EXPECT_EQ(section({"line\r", "\n"}), "line\r\n.\r\n");
    EXPECT_EQ(section({}), "\r\n.\r\n");
}

}  // namespace
}  // namespace kt
