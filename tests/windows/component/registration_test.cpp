// The component as regsvr32 installs it and COM activates it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KT_EMailer.h"
#include "support/late_bound.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

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

bool classesKeyExists(const std::wstring& path) {
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring classesValue(const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

const std::wstring kClassKey = L"CLSID\\" + guidText(CLSID_cEmail);
const std::wstring kWrittenKeys[] = {kClassKey, L"KT_EMailer.cEmail", L"TypeLib\\" + guidText(LIBID_KT_EMailer),
                                     L"Interface\\" + guidText(IID__cEmail)};

using RegistrationTest = WindowsTest;

TEST_F(RegistrationTest, RegsvrUnregistersEveryKeyAndRegistersAgain) {
    const std::wstring dll = componentDllPath();
    ASSERT_EQ(runProgram(L"regsvr32.exe /s /u \"" + dll + L"\""), 0u);
    for (const auto& key : kWrittenKeys) EXPECT_FALSE(classesKeyExists(key)) << "left behind: " << key.c_str();

    ASSERT_EQ(runProgram(L"regsvr32.exe /s \"" + dll + L"\""), 0u);
    for (const auto& key : kWrittenKeys) EXPECT_TRUE(classesKeyExists(key)) << "missing: " << key.c_str();
    EXPECT_EQ(lstrcmpiW(classesValue(kClassKey + L"\\InprocServer32").c_str(), dll.c_str()), 0);
    EXPECT_EQ(classesValue(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(classesValue(kClassKey + L"\\ProgID"), L"KT_EMailer.cEmail");
    EXPECT_EQ(classesValue(L"KT_EMailer.cEmail\\CLSID"), guidText(CLSID_cEmail));
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
