// Adds a certificate authority to the current user's trusted roots: the tests
// and the demo trust a CA of their own, in their private Wine prefix only.
// (On Windows the system asks the user before it adds one.)
//
//   trust_ca <certificate file, PEM or DER>

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/unique_handle.h"

namespace {

void closeStore(HCERTSTORE store) noexcept { CertCloseStore(store, 0); }
using UniqueStore = kt::UniqueHandle<kt::HandleTraits<HCERTSTORE, &closeStore>>;

// The certificate's DER bytes, from PEM text or DER as it is.
std::vector<BYTE> certificateBytes(const std::string& file) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
        return {file.begin(), file.end()};
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    return der;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: trust_ca <certificate file>\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::vector<BYTE> der = certificateBytes(file);
    const UniqueStore roots(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
    if (!roots || !CertAddEncodedCertificateToStore(roots.get(), X509_ASN_ENCODING, der.data(),
                                                    static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                    nullptr)) {
        std::cerr << "trust_ca: " << argv[1] << " was not added (error " << GetLastError() << ")\n";
        return 1;
    }
    return 0;
}
