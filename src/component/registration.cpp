#include "component/registration.h"

#include <optional>
#include <string>
#include <vector>

#include "KT_EMailer.h"
#include "foundation/handles.h"
#include "foundation/module.h"
#include "kt_version.h"

namespace kt {
namespace {

constexpr const wchar_t* kProgId = L"KT_EMailer.cEmail";
constexpr const wchar_t* kTypeLibVersion = KT_TYPELIB_VERSION_TEXT;
constexpr const wchar_t* kTypeLibLocale = L"409";  // the library's lcid, 0x0409
// The system's type library marshaler, which serves dual interfaces.
constexpr const wchar_t* kTypeLibMarshaler = L"{00020424-0000-0000-C000-000000000046}";

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

bool isWow64Process() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Where an architecture's classes and interfaces live below Software\Classes.
// A 32-bit DLL on 64-bit Windows names Wow6432Node itself, in the 64-bit view:
// Wine redirects no per-user key, and the explicit path is the same place
// that Windows' redirection would choose.
struct RegistryViews {
    std::wstring own;
    std::optional<std::wstring> other;  // none on 32-bit Windows
};

RegistryViews registryViews() {
    if (sizeof(void*) == 8) return {L"", L"Wow6432Node\\"};
    if (isWow64Process()) return {L"Wow6432Node\\", L""};
    return {L"", std::nullopt};
}

const wchar_t* typeLibPlatform() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }

std::wstring classKey(const std::wstring& view) { return view + L"CLSID\\" + guidText(CLSID_cEmail); }
std::wstring interfaceKey(const std::wstring& view) { return view + L"Interface\\" + guidText(IID__cEmail); }
std::wstring typeLibKey() { return L"TypeLib\\" + guidText(LIBID_KT_EMailer); }
std::wstring typeLibFileKey() {
    return typeLibKey() + L"\\" + kTypeLibVersion + L"\\" + kTypeLibLocale + L"\\" + typeLibPlatform();
}

struct RegistryEntry {
    std::wstring key;  // below Software\Classes
    const wchar_t* name;  // nullptr: the key's default value
    std::wstring value;
};

// Every value a registration writes, for this DLL's file and architecture.
std::vector<RegistryEntry> registryEntries() {
    const std::wstring path = thisModulePath();
    const std::wstring view = registryViews().own;
    const std::wstring classId = guidText(CLSID_cEmail);
    const std::wstring libraryId = guidText(LIBID_KT_EMailer);
    const std::wstring cls = classKey(view);
    const std::wstring iface = interfaceKey(view);
    const std::wstring library = typeLibKey() + L"\\" + kTypeLibVersion;
    const std::wstring progId = kProgId;
    return {
        {cls, nullptr, L"cEmail"},
        {cls + L"\\InprocServer32", nullptr, path},
        {cls + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {cls + L"\\ProgID", nullptr, progId},
        {cls + L"\\VERSION", nullptr, kTypeLibVersion},
        {cls + L"\\TypeLib", nullptr, libraryId},
        {progId, nullptr, progId},
        {progId + L"\\CLSID", nullptr, classId},
        {library, nullptr, L"KT_EMailer"},
        {library + L"\\FLAGS", nullptr, L"0"},
        {typeLibFileKey(), nullptr, path},
        {iface, nullptr, L"_cEmail"},
        {iface + L"\\ProxyStubClsid", nullptr, kTypeLibMarshaler},
        {iface + L"\\ProxyStubClsid32", nullptr, kTypeLibMarshaler},
        {iface + L"\\TypeLib", nullptr, libraryId},
        {iface + L"\\TypeLib", L"Version", kTypeLibVersion},
    };
}

// Software\Classes of the scope's hive, always in the 64-bit view (see RegistryViews).
class ClassesRoot {
public:
    explicit ClassesRoot(RegistrationScope scope)
        : hive_(scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) {}

    HRESULT setString(const RegistryEntry& entry) const {
        UniqueRegKey key;
        LSTATUS status = RegCreateKeyExW(hive_, path(entry.key).c_str(), 0, nullptr, 0,
                                         KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key.get(), entry.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.value.c_str()),
                                    static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t)));
        return HRESULT_FROM_WIN32(status);
    }

    bool exists(const std::wstring& key) const {
        UniqueRegKey opened;
        return RegOpenKeyExW(hive_, path(key).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, opened.put()) == ERROR_SUCCESS;
    }

    // Removes the key with everything below it; a missing key is no failure.
    HRESULT deleteTree(const std::wstring& key) const {
        UniqueRegKey opened;
        LSTATUS status = RegOpenKeyExW(hive_, path(key).c_str(), 0,
                                       DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                                       opened.put());
        if (status == ERROR_FILE_NOT_FOUND) return S_OK;
        if (status == ERROR_SUCCESS) status = RegDeleteTreeW(opened.get(), nullptr);
        opened.reset();
        if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(hive_, path(key).c_str(), KEY_WOW64_64KEY, 0);
        return HRESULT_FROM_WIN32(status);
    }

private:
    static std::wstring path(const std::wstring& key) { return L"Software\\Classes\\" + key; }

    HKEY hive_;
};

HRESULT firstFailure(std::initializer_list<HRESULT> results) {
    for (const HRESULT hr : results)
        if (FAILED(hr)) return hr;
    return S_OK;
}

}  // namespace

HRESULT registerServer(RegistrationScope scope) noexcept {
    try {
        const ClassesRoot root(scope);
        for (const auto& entry : registryEntries()) {
            const HRESULT hr = root.setString(entry);
            if (FAILED(hr)) {
                unregisterServer(scope);
                return hr;
            }
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT unregisterServer(RegistrationScope scope) noexcept {
    try {
        const ClassesRoot root(scope);
        const RegistryViews views = registryViews();
        const HRESULT own = firstFailure({root.deleteTree(classKey(views.own)), root.deleteTree(interfaceKey(views.own)),
                                          root.deleteTree(typeLibFileKey())});
        if (views.other && root.exists(classKey(*views.other))) return own;
        return firstFailure({own, root.deleteTree(kProgId), root.deleteTree(typeLibKey())});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

bool scopeFromInstallCommand(LPCWSTR command, RegistrationScope& scope) noexcept {
    if (!command || !*command || lstrcmpiW(command, L"machine") == 0) {
        scope = RegistrationScope::Machine;
        return true;
    }
    if (lstrcmpiW(command, L"user") == 0) {
        scope = RegistrationScope::User;
        return true;
    }
    return false;
}

}  // namespace kt
