// The component as regsvr32 installs it and COM activates it.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "KT_EMailer.h"
#include "kt_version.h"
#include "support/late_bound.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

DWORD runProgram(std::wstring commandLine) {
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError();
    UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode;
}

// regsvr32 of this test's architecture (the 32-bit one for a 32-bit test) on the component.
DWORD regsvr32(const std::wstring& options) {
    return runProgram(L"regsvr32.exe /s " + options + L" \"" + componentDllPath() + L"\"");
}

// Registry contents as "key" -> "<key>" and "key@value name" -> data, so that
// an empty key left behind shows as much as a wrong value.
using RegistryTree = std::map<std::wstring, std::wstring>;

void readTree(HKEY parent, const std::wstring& path, const std::wstring& name, RegistryTree& tree) {
    UniqueRegKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) return;
    tree[name] = L"<key>";
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256], data[1024] = {};
        DWORD nameLength = 256, size = sizeof data - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key.get(), i, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
            break;
        tree[name + L"@" + valueName] = type == REG_SZ ? data : L"<type " + std::to_wstring(type) + L">";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t subkey[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        readTree(key.get(), subkey, name + L"\\" + subkey, tree);
    }
}

const std::wstring kClassId = L"{62421492-2386-4152-96D0-A9FCB3EB0397}";
const std::wstring kLibraryId = L"{C9D1D568-3049-47E8-9A53-874DE69E9D0D}";
const std::wstring kInterfaceId = L"{84DD5F37-3A68-418F-B259-591D3E69657F}";
const std::wstring kTypeLibVersion = KT_TYPELIB_VERSION_TEXT;
// Tests run on 64-bit Windows (or a 64-bit Wine prefix): 32-bit classes live in Wow6432Node.
const std::wstring kOwnView = sizeof(void*) == 8 ? L"" : L"Wow6432Node\\";
const std::wstring kOtherView = sizeof(void*) == 8 ? L"Wow6432Node\\" : L"";

// Everything of ours below a hive's Software\Classes, in both views.
RegistryTree ourKeys(HKEY hive) {
    RegistryTree tree;
    for (const std::wstring& key :
         {L"CLSID\\" + kClassId, L"Wow6432Node\\CLSID\\" + kClassId, L"Interface\\" + kInterfaceId,
          L"Wow6432Node\\Interface\\" + kInterfaceId, L"TypeLib\\" + kLibraryId, std::wstring(L"KT_EMailer.cEmail")})
        readTree(hive, L"Software\\Classes\\" + key, key, tree);
    return tree;
}

// What this DLL's registration alone owns, in its own registry view.
RegistryTree ownKeys(const std::wstring& dll) {
    const std::wstring cls = kOwnView + L"CLSID\\" + kClassId, iface = kOwnView + L"Interface\\" + kInterfaceId;
    const std::wstring file = L"TypeLib\\" + kLibraryId + L"\\" + kTypeLibVersion + L"\\409\\" +
                              (sizeof(void*) == 8 ? L"win64" : L"win32");
    const std::wstring marshaler = L"{00020424-0000-0000-C000-000000000046}";
    return {{cls, L"<key>"},
            {cls + L"@", L"cEmail"},
            {cls + L"\\InprocServer32", L"<key>"},
            {cls + L"\\InprocServer32@", dll},
            {cls + L"\\InprocServer32@ThreadingModel", L"Apartment"},
            {cls + L"\\ProgID", L"<key>"},
            {cls + L"\\ProgID@", L"KT_EMailer.cEmail"},
            {cls + L"\\VERSION", L"<key>"},
            {cls + L"\\VERSION@", kTypeLibVersion},
            {cls + L"\\TypeLib", L"<key>"},
            {cls + L"\\TypeLib@", kLibraryId},
            {iface, L"<key>"},
            {iface + L"@", L"_cEmail"},
            {iface + L"\\ProxyStubClsid", L"<key>"},
            {iface + L"\\ProxyStubClsid@", marshaler},
            {iface + L"\\ProxyStubClsid32", L"<key>"},
            {iface + L"\\ProxyStubClsid32@", marshaler},
            {iface + L"\\TypeLib", L"<key>"},
            {iface + L"\\TypeLib@", kLibraryId},
            {iface + L"\\TypeLib@Version", kTypeLibVersion},
            {file, L"<key>"},
            {file + L"@", dll}};
}

// What both architectures' registrations share: the ProgID and the type library's version key.
RegistryTree sharedKeys() {
    const std::wstring library = L"TypeLib\\" + kLibraryId, version = library + L"\\" + kTypeLibVersion;
    return {{L"KT_EMailer.cEmail", L"<key>"},
            {L"KT_EMailer.cEmail@", L"KT_EMailer.cEmail"},
            {L"KT_EMailer.cEmail\\CLSID", L"<key>"},
            {L"KT_EMailer.cEmail\\CLSID@", kClassId},
            {library, L"<key>"},
            {version, L"<key>"},
            {version + L"@", L"KT_EMailer"},
            {version + L"\\FLAGS", L"<key>"},
            {version + L"\\FLAGS@", L"0"},
            {version + L"\\409", L"<key>"}};
}

// Everything this DLL's registration writes when it is the only one.
RegistryTree allKeys(const std::wstring& dll) {
    RegistryTree keys = ownKeys(dll), shared = sharedKeys();
    keys.insert(shared.begin(), shared.end());
    return keys;
}

RegistryTree withoutKeys(RegistryTree tree, const RegistryTree& removed) {
    for (const auto& entry : removed) tree.erase(entry.first);
    return tree;
}

using RegistrationTest = WindowsTest;

// The test run registered this DLL machine-wide (and maybe the other architecture's too).
TEST_F(RegistrationTest, RegsvrUnregistersOnlyItsOwnKeysAndRegistersAgain) {
    const RegistryTree registered = ourKeys(HKEY_LOCAL_MACHINE);
    for (const auto& entry : allKeys(componentDllPath())) EXPECT_EQ(registered.count(entry.first), 1u) << "missing: " << entry.first.c_str();

    ASSERT_EQ(regsvr32(L"/u"), 0u);
    const bool otherRegistered = registered.count(kOtherView + L"CLSID\\" + kClassId) > 0;
    EXPECT_EQ(ourKeys(HKEY_LOCAL_MACHINE), otherRegistered ? withoutKeys(registered, ownKeys(componentDllPath()))
                                                           : RegistryTree{});

    ASSERT_EQ(regsvr32(L""), 0u);
    EXPECT_EQ(ourKeys(HKEY_LOCAL_MACHINE), registered);
}

// Wine 8 cannot activate a per-user registration (its HKEY_CLASSES_ROOT is
// HKLM\Software\Classes alone), so here the keys are checked one by one; the
// per-machine package tests prove activation.
TEST_F(RegistrationTest, PerUserRegistrationWritesOnlyUnderHkcuAndRemovesItAll) {
    const RegistryTree machine = ourKeys(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(ourKeys(HKEY_CURRENT_USER).empty());

    ASSERT_EQ(regsvr32(L"/n /i:user"), 0u);
    EXPECT_EQ(ourKeys(HKEY_CURRENT_USER), allKeys(componentDllPath()));
    EXPECT_EQ(ourKeys(HKEY_LOCAL_MACHINE), machine);

    ASSERT_EQ(regsvr32(L"/u /n /i:user"), 0u);
    EXPECT_EQ(ourKeys(HKEY_CURRENT_USER), RegistryTree{});
    EXPECT_EQ(ourKeys(HKEY_LOCAL_MACHINE), machine);
    EXPECT_NE(regsvr32(L"/n /i:everyone"), 0u);
}

TEST_F(RegistrationTest, CreatesByProgIdAndByClsid) {
    CLSID fromProgId{};
    ASSERT_EQ(CLSIDFromProgID(L"KT_EMailer.cEmail", &fromProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_cEmail));

    for (const CLSID& classId : {fromProgId, CLSID_cEmail}) {
        ComPtr<IDispatch> email;
        ASSERT_EQ(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, email.putVoid()), S_OK);
        ASSERT_EQ(putProperty(email.get(), L"InfoLabel", Variant::text(L"registered")), S_OK);
        Variant value;
        ASSERT_EQ(getProperty(email.get(), L"InfoLabel", value), S_OK);
        EXPECT_EQ(value.asText(), L"registered");
    }
}

TEST_F(RegistrationTest, DllCarriesItsTypeLibraryAndVersion) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(componentDllPath().c_str(), REGKIND_NONE, library.put()), S_OK);
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
    EXPECT_EQ(libraryAttributes->lcid, 0x0409u);
    EXPECT_TRUE(IsEqualGUID(libraryAttributes->guid, LIBID_KT_EMailer));
    EXPECT_EQ(libraryAttributes->wMajorVerNum, KT_VERSION_MAJOR);  // the project version's major.minor
    EXPECT_EQ(libraryAttributes->wMinorVerNum, KT_VERSION_MINOR);
    library->ReleaseTLibAttr(libraryAttributes);

    // The dual interface: its dispatch side, and the interface proper with its own three members.
    ComPtr<ITypeInfo> dispatch, vtable;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID__cEmail, dispatch.put()), S_OK);
    HREFTYPE reference = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(reference, vtable.put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attributes), S_OK);
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;
    EXPECT_EQ(attributes->wTypeFlags & dual, dual);
    dispatch->ReleaseTypeAttr(attributes);
    ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(attributes->cFuncs, 3);  // SendEMail, InfoLabel get and put
    vtable->ReleaseTypeAttr(attributes);

    DWORD ignored = 0;
    std::vector<BYTE> version(GetFileVersionInfoSizeW(componentDllPath().c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoW(componentDllPath().c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    wchar_t* name = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_STREQ(name, L"KT_EMailer.dll");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(KT_VERSION_MINOR, KT_VERSION_MAJOR)));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), KT_VERSION_PATCH);
}

TEST_F(RegistrationTest, DllCanUnloadNowCountsObjectsLocksAndOpenWindows) {
    HMODULE dll = LoadLibraryW(componentDllPath().c_str());
    ASSERT_NE(dll, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    EXPECT_EQ(canUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(TRUE);
    ComPtr<IDispatch> email;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the instance

    ASSERT_EQ(callMethod(email.get(), L"SendEMail",
                         {Variant::text(L"b"), Variant::text(L"s"), Variant::text(L""), Variant::text(L"h"),
                          Variant::text(L"f")}),
              S_OK);
    email.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the window still open runs our code
    HWND window = findThreadWindow(L"Ardwyn E-Mail Message");
    ASSERT_NE(window, nullptr);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(canUnloadNow(), S_OK);
    FreeLibrary(dll);
}

}  // namespace
}  // namespace kt::test
