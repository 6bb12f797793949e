// The component as the system sees it: regsvr32 installing and removing it
// machine-wide (the packages' tests compare a per-user registration with the
// package's), the DLL's own account of whether it may be unloaded, argument
// lists through IDispatch that do not hold what they claim, and the real
// message box when no recorder answers it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "KT_EMailer.h"
#include "controls/message_box.h"
#include "kt_version.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

// regsvr32 of this test's architecture on the component; its exit code.
int regsvr32(const std::wstring& options) {
    return _wsystem((L"regsvr32.exe /s " + options + L" \"" + componentDllPath() + L"\"").c_str());
}

const std::wstring kClass = L"CLSID\\{62421492-2386-4152-96D0-A9FCB3EB0397}";
const std::wstring kInterface = L"Interface\\{84DD5F37-3A68-418F-B259-591D3E69657F}";
const std::wstring kLibrary = L"TypeLib\\{C9D1D568-3049-47E8-9A53-874DE69E9D0D}";
const std::wstring kLibraryFile = kLibrary + L"\\" + KT_TYPELIB_VERSION_TEXT + L"\\409\\";
// Tests run on 64-bit Windows (or a 64-bit Wine prefix): 32-bit classes live in Wow6432Node.
const bool k64 = sizeof(void*) == 8;
const std::wstring kView = k64 ? L"" : L"Wow6432Node\\";

// Everything of ours below a hive's Software\Classes, in both views.
RegistryTree ourKeys(HKEY hive) {
    RegistryTree tree;
    for (const std::wstring& key : {kClass, L"Wow6432Node\\" + kClass, kInterface, L"Wow6432Node\\" + kInterface,
                                    kLibrary, std::wstring(L"KT_EMailer.cEmail")})
        readTree(hive, L"Software\\Classes\\" + key, key, tree);
    return tree;
}

// Whether a key belongs to this architecture's registration alone; the
// ProgID and the type library's version key are shared.
bool ownKey(const std::wstring& key) {
    for (const std::wstring& own : {kView + kClass, kView + kInterface, kLibraryFile + (k64 ? L"win64" : L"win32")})
        if (key.rfind(own, 0) == 0) return true;
    return false;
}

using ComponentTest = WindowsTest;

// The test run registered this DLL machine-wide (and maybe the other architecture's too).
TEST_F(ComponentTest, RegsvrUnregistersOnlyItsOwnKeysAndRegistersAgain) {
    const RegistryTree registered = ourKeys(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(registered.at(kView + kClass + L"\\InprocServer32@"), componentDllPath());
    EXPECT_EQ(registered.at(kView + kClass + L"\\InprocServer32@ThreadingModel"), L"Apartment");
    EXPECT_EQ(registered.at(kLibraryFile + (k64 ? L"win64@" : L"win32@")), componentDllPath());
    EXPECT_EQ(registered.at(L"KT_EMailer.cEmail\\CLSID@"), kClass.substr(6));

    ASSERT_EQ(regsvr32(L"/u"), 0);
    for (const auto& entry : ourKeys(HKEY_LOCAL_MACHINE)) EXPECT_FALSE(ownKey(entry.first)) << entry.first;

    ASSERT_EQ(regsvr32(L""), 0);  // the other architecture's keys stayed, and ours are back
    EXPECT_EQ(ourKeys(HKEY_LOCAL_MACHINE), registered);
}

TEST_F(ComponentTest, DllCanUnloadNowCountsObjectsLocksAndOpenWindows) {
    HMODULE dll = LoadLibraryW(componentDllPath().c_str());
    const auto entry = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dll, name)); };
    const auto getClassObject =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(entry("DllGetClassObject"));
    const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(entry("DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    EXPECT_EQ(canUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
    factory->LockServer(TRUE);
    ComPtr<IDispatch> email;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the instance
    // The window of the DLL's own code, not the one this program carries.
    ASSERT_EQ(invoke(email.get(), L"SendEMail", DISPATCH_METHOD, {L"b", L"s", L"", L"h", L"f"}), S_OK);
    const HWND window = findThreadWindow(kComposeCaption);
    email.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the window still open runs our code
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(canUnloadNow(), S_OK);
    FreeLibrary(dll);
}

TEST_F(ComponentTest, MalformedArgumentListsAreRefusedUnread) {
    const ComPtr<IDispatch> email = newEmail();
    const DISPID sendEMail = dispidOf(email.get(), L"SendEMail");
    DISPID named = DISPID_PROPERTYPUT;
    VARIANT one;
    VariantInit(&one);
    const DISPPARAMS malformed[] = {
        {nullptr, nullptr, 5, 0},  // five arguments, none there
        {&one, nullptr, 1, 1},     // a named argument without its identifier
        {&one, &named, 1, 2},      // more named arguments than arguments
    };
    for (DISPPARAMS parameters : malformed) {
        const HRESULT hr =
            email->Invoke(sendEMail, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
        EXPECT_TRUE(hr == E_INVALIDARG || hr == DISP_E_BADPARAMCOUNT) << std::hex << hr;
    }
    EXPECT_EQ(findThreadWindow(kComposeCaption), nullptr);
}

TEST(MessageBoxSeam, WithoutARecorderTheRealBoxIsShown) {
    std::wstring text;
    bool hasIcon = false;
    // Runs inside the box's own modal loop: reads the box and answers it.
    StepsOnTimer reader({[&] {
        const HWND box = findThreadWindow(L"Error");
        wchar_t buffer[512] = {};
        GetDlgItemTextW(box, 0xFFFF, buffer, 512);
        text = buffer;
        for (int iconId : {20, 1088})  // the icon's control on Windows, under Wine
            hasIcon = hasIcon || SendDlgItemMessageW(box, iconId, STM_GETICON, 0, 0) != 0;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }});
    EXPECT_EQ(showMessageBox(L"Something to say", L"Error", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(text, L"Something to say");
    EXPECT_TRUE(hasIcon);
}

}  // namespace
}  // namespace kt::test
