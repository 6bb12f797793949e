// The component as the system sees it: the DLL's own account of whether it
// may be unloaded, argument lists through IDispatch that do not hold what
// they claim, and the real message box when no recorder answers it. (Its
// registration is the installer tests'; this run's activation needs it.)

#include <gtest/gtest.h>

#include <string>

#include "KT_EMailer.h"
#include "foundation/message_box.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

using ComponentTest = WindowsTest;

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
        text = windowText(GetDlgItem(box, 0xFFFF));
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
