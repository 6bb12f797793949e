#include "delivery/page/picture_conversion.h"

#include <windows.h>
#include <wincodec.h>

#include "foundation/handles.h"
#include "foundation/scope_exit.h"

namespace kt {

std::optional<std::string> asPng(const std::string& bytes) {
    const ComApartment apartment;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> input;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IStream> output;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> outputFrame;
    auto* data = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
    const bool made =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    factory.putVoid())) &&
        SUCCEEDED(factory->CreateStream(input.put())) &&
        SUCCEEDED(input->InitializeFromMemory(data, static_cast<DWORD>(bytes.size()))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(input.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                   decoder.put())) &&
        SUCCEEDED(decoder->GetFrame(0, frame.put())) && SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, output.put())) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) &&
        SUCCEEDED(encoder->Initialize(output.get(), WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(outputFrame.put(), nullptr)) && SUCCEEDED(outputFrame->Initialize(nullptr)) &&
        SUCCEEDED(outputFrame->WriteSource(frame.get(), nullptr)) && SUCCEEDED(outputFrame->Commit()) &&
        SUCCEEDED(encoder->Commit());
    if (!made) return std::nullopt;
    HGLOBAL memory = nullptr;
    STATSTG stat{};
    if (FAILED(GetHGlobalFromStream(output.get(), &memory)) || FAILED(output->Stat(&stat, STATFLAG_NONAME)))
        return std::nullopt;
    const void* png = GlobalLock(memory);
    if (!png) return std::nullopt;
    const ScopeExit unlock([&] { GlobalUnlock(memory); });
    return std::string(static_cast<const char*>(png), static_cast<std::size_t>(stat.cbSize.QuadPart));
}

}  // namespace kt
