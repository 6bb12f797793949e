#pragma once
// The body of a message as it goes on the wire, in one pass from the text to
// the bytes: UTF-8 as 8-bit lines where the server takes them and the text
// allows, quoted-printable otherwise. The bytes come in pieces, so that a
// page of any size never exists twice in memory.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kt {

enum class BodyEncoding { QuotedPrintable, EightBit };

// True when the text can go as 8-bit lines as it is: every line ends with
// CR LF (the last one too, unless the text is empty) and has at most 998
// octets once a leading dot is doubled, and the text holds no NUL and no lone
// CR or LF.
bool fitsEightBit(std::wstring_view text);

using BytesSink = std::function<void(const std::string& piece)>;

// How many bytes encodeBody hands on for the text, without keeping them.
std::size_t encodedBodySize(std::wstring_view text, BodyEncoding encoding);

// Hands the body's bytes to `sink` in pieces of about `pieceSize` bytes.
// Quoted-printable makes hard line breaks only of CR LF pairs and encodes a
// lone CR or LF, so the text decodes back exactly; its lines keep within 76
// characters and never start with a dot.
void encodeBody(std::wstring_view text, BodyEncoding encoding, const BytesSink& sink,
                std::size_t pieceSize = std::size_t{1} << 20);

}  // namespace kt
