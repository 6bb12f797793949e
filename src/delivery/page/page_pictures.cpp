#include "delivery/page/page_pictures.h"

#include <algorithm>

#include "delivery/page/web_address.h"
#include "foundation/characters.h"

namespace kt {
namespace {

bool startsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }
bool isDataAddress(std::string_view address) {
    return address.size() >= 5 && asciiLowerCase(std::string(address.substr(0, 5))) == "data:";
}

const char* mediaTypeOf(PictureKind kind) {
    switch (kind) {
        case PictureKind::Png:
            return "image/png";
        case PictureKind::Jpeg:
            return "image/jpeg";
        default:
            return "image/gif";
    }
}

const char* extensionOf(PictureKind kind) {
    switch (kind) {
        case PictureKind::Png:
            return ".png";
        case PictureKind::Jpeg:
            return ".jpg";
        default:
            return ".gif";
    }
}

std::optional<std::string> fromBase64(std::string_view text) {
    std::string bytes;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        int digit;
        if (c >= 'A' && c <= 'Z')
            digit = c - 'A';
        else if (c >= 'a' && c <= 'z')
            digit = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            digit = c - '0' + 52;
        else if (c == '+' || c == '-')
            digit = 62;
        else if (c == '/' || c == '_')
            digit = 63;
        else if (c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f')
            continue;
        else
            return std::nullopt;
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return bytes;
}

// A file name for the recipient who saves the picture: the address's last
// path segment in plain characters, with the extension its bytes call for.
std::string fileNameFor(const std::string& address, PictureKind kind, std::size_t index) {
    constexpr std::size_t kLongestStem = 60;
    std::string stem;
    if (!isDataAddress(address)) {
        const std::string path = address.substr(0, address.find_first_of("?#"));
        const std::string segment = percentDecoded(path.substr(path.rfind('/') + 1));
        const std::string withoutExtension = segment.substr(0, segment.rfind('.'));
        for (const char c : withoutExtension) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                               c == '_' || c == '.';
            if (stem.size() < kLongestStem) stem += plain ? c : '_';
        }
    }
    if (stem.empty() || stem.front() == '.') stem = "picture-" + std::to_string(index + 1);
    return stem + extensionOf(kind);
}

}  // namespace

PictureKind pictureKindOf(std::string_view bytes) {
    if (startsWith(bytes, "\x89PNG\r\n\x1A\n")) return PictureKind::Png;
    if (startsWith(bytes, "\xFF\xD8\xFF")) return PictureKind::Jpeg;
    if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return PictureKind::Gif;
    if (bytes.size() < 12) return PictureKind::Other;
    if (startsWith(bytes, "RIFF") && bytes.substr(8, 4) == "WEBP") return PictureKind::WebP;
    if (bytes.substr(4, 4) == "ftyp" && (bytes.substr(8, 4) == "avif" || bytes.substr(8, 4) == "avis"))
        return PictureKind::Avif;
    return PictureKind::Other;
}

bool showsInEveryReader(PictureKind kind) {
    return kind == PictureKind::Png || kind == PictureKind::Jpeg || kind == PictureKind::Gif;
}

std::optional<std::string> dataAddressBytes(std::string_view address) {
    if (!isDataAddress(address)) return std::nullopt;
    const std::size_t comma = address.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const std::string header = asciiLowerCase(std::string(address.substr(5, comma - 5)));
    const std::string content = percentDecoded(address.substr(comma + 1));
    const bool base64 = header.size() >= 7 && header.compare(header.size() - 7, 7, ";base64") == 0;
    return base64 ? fromBase64(content) : content;
}

std::vector<std::string> picturesToFetch(const std::vector<AddressInPage>& pictures) {
    std::vector<std::string> addresses;
    for (const auto& picture : pictures) {
        if (!startsWith(picture.address, "http://") && !startsWith(picture.address, "https://")) continue;
        if (std::find(addresses.begin(), addresses.end(), picture.address) == addresses.end())
            addresses.push_back(picture.address);
    }
    return addresses;
}

PagePictures pagePictures(std::shared_ptr<const std::wstring> page, const std::vector<AddressInPage>& pictures,
                          const std::map<std::string, std::shared_ptr<const std::string>>& fetched) {
    PagePictures result;
    result.page = std::move(page);
    std::map<std::string, std::size_t> indexOf;
    for (const auto& reference : pictures) {
        auto known = indexOf.find(reference.address);
        if (known == indexOf.end()) {
            std::shared_ptr<const std::string> bytes;
            if (const auto found = fetched.find(reference.address); found != fetched.end())
                bytes = found->second;
            else if (auto carried = dataAddressBytes(reference.address))
                bytes = std::make_shared<const std::string>(std::move(*carried));
            const PictureKind kind = bytes ? pictureKindOf(*bytes) : PictureKind::Other;
            if (!showsInEveryReader(kind)) continue;
            const std::size_t index = result.pictures.size();
            result.pictures.push_back({isDataAddress(reference.address) ? std::string() : reference.address, mediaTypeOf(kind),
                                       fileNameFor(reference.address, kind, index), std::move(bytes)});
            known = indexOf.emplace(reference.address, index).first;
        }
        result.references.push_back({reference.start, reference.length, known->second});
    }
    return result;
}

}  // namespace kt
