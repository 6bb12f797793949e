// cEmail through IDispatch, as late-bound clients call it: argument lists
// that do not hold what they claim are refused before anything is read.

#include <gtest/gtest.h>

#include "support/windows_test.h"

namespace kt::test {
namespace {

using DispatchTest = WindowsTest;

TEST_F(DispatchTest, MalformedArgumentListsAreRefusedUnread) {
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

}  // namespace
}  // namespace kt::test
