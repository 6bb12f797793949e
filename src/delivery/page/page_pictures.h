#pragma once
// Which of a page's pictures can go inside its message, and how they go:
// a picture is known by its bytes, never by what a server calls it; PNG,
// JPEG and GIF show in every mail reader, WebP and AVIF only once made PNG,
// and SVG never goes (it can run script and fetch more).

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/message/mail_message.h"
#include "delivery/page/page_addresses.h"

namespace kt {

enum class PictureKind { Png, Jpeg, Gif, WebP, Avif, Other };

PictureKind pictureKindOf(std::string_view bytes);
bool showsInEveryReader(PictureKind kind);

// The bytes a data: address holds (base64 or percent-encoded), or none.
std::optional<std::string> dataAddressBytes(std::string_view address);

// The page's distinct web addresses of pictures, in page order: what is fetched.
std::vector<std::string> picturesToFetch(const std::vector<AddressInPage>& pictures);

// The pictures that can go inside the message, each address once: those the
// page carries in data: addresses, and those fetched (PNG, JPEG or GIF bytes
// by address).
PagePictures pagePictures(std::shared_ptr<const std::wstring> page, const std::vector<AddressInPage>& pictures,
                          const std::map<std::string, std::shared_ptr<const std::string>>& fetched);

}  // namespace kt
