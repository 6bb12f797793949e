// What Windows makes of a signed file: the verdict of WinVerifyTrust (the
// Authenticode policy, without revocation checks) and the fields of the
// version resource that it shows beside a signature.
//
//   signature_check <file>
//
// Prints "trust 0x<code>" (0 is trusted), then "<field>=<text>" for each
// field the file's version resource has; exit code 0 when trusted.

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/utf8.h"

namespace {

// Ends the verification's state, which WinVerifyTrust keeps until told.
class TrustVerdict {
public:
    explicit TrustVerdict(const std::wstring& path) {
        file_.cbStruct = sizeof file_;
        file_.pcwszFilePath = path.c_str();
        data_.cbStruct = sizeof data_;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustVerdict(const TrustVerdict&) = delete;
    TrustVerdict& operator=(const TrustVerdict&) = delete;
    ~TrustVerdict() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    LONG result() const { return result_; }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG result_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: signature_check <file>\n");
        return 2;
    }
    const std::wstring path = kt::fromUtf8(argv[1]);
    const TrustVerdict verdict(path);
    std::printf("trust 0x%08lX\n", static_cast<unsigned long>(verdict.result()));

    DWORD ignored = 0;
    std::vector<BYTE> version(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (!version.empty() && GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(version.size()), version.data())) {
        for (const wchar_t* field : {L"CompanyName", L"ProductName", L"FileDescription", L"FileVersion"}) {
            wchar_t* text = nullptr;
            UINT length = 0;
            const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
            if (VerQueryValueW(version.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) && length)
                std::printf("%s=%s\n", kt::toUtf8(field).c_str(), kt::toUtf8(std::wstring(text, length - 1)).c_str());
        }
    }
    return verdict.result() == 0 ? 0 : 1;
}
