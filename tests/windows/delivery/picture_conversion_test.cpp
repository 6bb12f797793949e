// Pictures made PNG by the system's imaging component: the pixels survive the
// trip, and bytes it cannot decode give nothing (the picture stays remote).
// WebP and AVIF go this way; the page test serves both and accepts either
// outcome, since not every system decodes them, so the trip is shown here
// with a bitmap every system decodes.

#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <vector>

#include "delivery/page/picture_conversion.h"
#include "foundation/handles.h"

namespace kt::test {
namespace {

// A 2 x 2 bitmap file, 24 bits a pixel (blue, green, red), rows bottom up, each padded to 8 bytes.
std::string bitmapFile(const std::vector<DWORD>& topDownRgb) {
    const BITMAPINFOHEADER info{sizeof info, 2, 2, 1, 24, BI_RGB};
    const BITMAPFILEHEADER file{0x4D42, sizeof file + sizeof info + 2 * 8, 0, 0, sizeof file + sizeof info};
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    for (int row = 1; row >= 0; --row) {
        for (int column = 0; column < 2; ++column)  // 0xRRGGBB's first three bytes as they lie in memory
            bytes.append(reinterpret_cast<const char*>(&topDownRgb[row * 2 + column]), 3);
        bytes.append(2, '\0');
    }
    return bytes;
}

// The pixels of a picture file as 0xRRGGBB, top down, decoded by the system.
std::vector<DWORD> pixelsOf(const std::string& picture) {
    const ComApartment apartment;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    std::vector<DWORD> pixels(4);
    auto* data = reinterpret_cast<BYTE*>(const_cast<char*>(picture.data()));
    const bool read =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   factory.putVoid())) &&
        SUCCEEDED(factory->CreateStream(stream.put())) &&
        SUCCEEDED(stream->InitializeFromMemory(data, static_cast<DWORD>(picture.size()))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put())) &&
        SUCCEEDED(decoder->GetFrame(0, frame.put())) && SUCCEEDED(factory->CreateFormatConverter(converter.put())) &&
        SUCCEEDED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->CopyPixels(nullptr, 8, 16, reinterpret_cast<BYTE*>(pixels.data())));
    if (!read) return {};
    for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
}

TEST(PictureConversion, ThePixelsGoAsPngAndWhatTheSystemCannotDecodeGivesNothing) {
    const std::vector<DWORD> pixels{0xD01010, 0x10A020, 0x1030C0, 0xFFFFFF};
    const auto png = asPng(bitmapFile(pixels));
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->compare(0, 8, "\x89PNG\r\n\x1A\n"), 0);
    EXPECT_EQ(pixelsOf(*png), pixels);

    EXPECT_FALSE(asPng(std::string("RIFF\x10\0\0\0WEBPVP8 broken", 20)).has_value());
    EXPECT_FALSE(asPng("").has_value());
}

}  // namespace
}  // namespace kt::test
