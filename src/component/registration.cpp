#include "component/registration.h"

#include <string>

#include "KT_EMailer.h"
#include "foundation/handles.h"
#include "foundation/module.h"

namespace kt {
namespace {

constexpr const wchar_t* kProgId = L"KT_EMailer.cEmail";

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring classKey() { return L"CLSID\\" + guidText(CLSID_cEmail); }

HRESULT setString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    const LSTATUS status =
        RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

HRESULT deleteTree(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        return S_OK;
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT registerTypeLibrary(const std::wstring& path) {
    // Loaded without registering, then registered with the plain path (a
    // registering load may record a "\\?\" path).
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(library.get(), const_cast<LPOLESTR>(path.c_str()), nullptr);
    return hr;
}

HRESULT unregisterTypeLibrary() {
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    const HRESULT hr = UnRegisterTypeLib(LIBID_KT_EMailer, 1, 0, 0x0409, kind);
    // Whatever the system left of the library's and the interface's keys goes too.
    const HRESULT library = deleteTree(L"TypeLib\\" + guidText(LIBID_KT_EMailer));
    const HRESULT iface = deleteTree(L"Interface\\" + guidText(IID__cEmail));
    if (FAILED(library)) return library;
    if (FAILED(iface)) return iface;
    return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY || SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace

HRESULT registerServer() noexcept {
    try {
        const std::wstring path = thisModulePath();
        const std::wstring key = classKey();
        const std::wstring entries[][3] = {
            {key, L"", L"cEmail"},
            {key + L"\\InprocServer32", L"", path},
            {key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
            {key + L"\\ProgID", L"", kProgId},
            {key + L"\\VERSION", L"", L"1.0"},
            {key + L"\\TypeLib", L"", guidText(LIBID_KT_EMailer)},
            {kProgId, L"", kProgId},
            {std::wstring(kProgId) + L"\\CLSID", L"", guidText(CLSID_cEmail)},
        };
        HRESULT hr = S_OK;
        for (const auto& entry : entries) {
            hr = setString(entry[0], entry[1].empty() ? nullptr : entry[1].c_str(), entry[2]);
            if (FAILED(hr)) break;
        }
        if (SUCCEEDED(hr)) hr = registerTypeLibrary(path);
        if (FAILED(hr)) unregisterServer();
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT unregisterServer() noexcept {
    try {
        const HRESULT library = unregisterTypeLibrary();
        const HRESULT classEntry = deleteTree(classKey());
        const HRESULT progId = deleteTree(kProgId);
        if (FAILED(library)) return library;
        return FAILED(classEntry) ? classEntry : progId;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace kt
