// cEmail through IDispatch by name, as late-bound clients call it.

#include <gtest/gtest.h>

#include <thread>

#include "KT_EMailer.h"
#include "component/class_factory.h"
#include "compose/frmEmail.h"
#include "compose/shared_message_settings.h"
#include "support/late_bound.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

class DispatchTest : public WindowsTest {
protected:
    void SetUp() override {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid()), S_OK);
    }
    void TearDown() override {
        for (HWND window : threadWindows(L"Ardwyn E-Mail Message")) DestroyWindow(window);
    }

    frmEmail& openWindow() {
        HWND window = findThreadWindow(L"Ardwyn E-Mail Message");
        EXPECT_NE(window, nullptr);
        return *formOf<frmEmail>(window);
    }

    ComPtr<IDispatch> email;
    SharedMessageSettings& settings = SharedMessageSettings::forThisThread();
};

TEST_F(DispatchTest, InfoLabelGetAndPutShareOneDispidApartFromSendEMail) {
    const DISPID infoLabel = dispidOf(email.get(), L"InfoLabel");
    const DISPID sendEMail = dispidOf(email.get(), L"SendEMail");
    EXPECT_NE(infoLabel, DISPID_UNKNOWN);
    EXPECT_NE(sendEMail, DISPID_UNKNOWN);
    EXPECT_NE(infoLabel, sendEMail);
    EXPECT_EQ(dispidOf(email.get(), L"infolabel"), infoLabel);  // names are not case-sensitive

    ASSERT_EQ(putProperty(email.get(), L"InfoLabel", Variant::text(L"Mail this page")), S_OK);
    Variant value;
    ASSERT_EQ(getProperty(email.get(), L"InfoLabel", value), S_OK);
    EXPECT_EQ(value.asText(), L"Mail this page");
    EXPECT_EQ(settings.g_sInfoLabel, L"Mail this page");
}

TEST_F(DispatchTest, InfoLabelTakesAVariableByReferenceAsScriptsPassIt) {
    Variant variable = Variant::text(L"From a script variable");
    ASSERT_EQ(putProperty(email.get(), L"InfoLabel", Variant::referenceTo(variable)), S_OK);
    EXPECT_EQ(settings.g_sInfoLabel, L"From a script variable");
}

// The flags' defaults, seen as the user meets them: with nobody listening at
// the server a Send shows the report only when bShowError is set.
TEST_F(DispatchTest, SendEMailTakesTheRecordedDefaultsForItsOptionalFlags) {
    const auto send = [&](std::vector<Variant> flags) {
        std::vector<Variant> arguments{Variant::text(L"The body"), Variant::text(L"Subject"),
                                       Variant::text(L"a@example.com, A"), Variant::text(L"127.0.0.1:1"),
                                       Variant::text(L"me@example.com")};
        for (auto& flag : flags) arguments.push_back(flag);
        EXPECT_EQ(callMethod(email.get(), L"SendEMail", arguments), S_OK);
        frmEmail& form = openWindow();
        const std::wstring body = form.tbBody().Text();
        messageBoxes.shown.clear();
        SendMessageW(form.KT_CB_Send().hwnd(), BM_CLICK, 0, 0);
        DestroyWindow(form.hwnd());
        return std::make_pair(body, messageBoxes.shown.size());
    };
    EXPECT_EQ(send({}), std::make_pair(std::wstring(L"The body"), std::size_t{1}));
    EXPECT_EQ(send({Variant::boolean(false)}), std::make_pair(std::wstring(L"The body"), std::size_t{0}));
    EXPECT_EQ(send({Variant::boolean(false), Variant::boolean(true)}), std::make_pair(std::wstring(), std::size_t{0}));
}

TEST_F(DispatchTest, MalformedArgumentListsAreRefusedUnread) {
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
        const HRESULT hr = email->Invoke(sendEMail, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr,
                                         nullptr);
        EXPECT_TRUE(hr == E_INVALIDARG || hr == DISP_E_BADPARAMCOUNT) << std::hex << hr;
    }
    EXPECT_EQ(findThreadWindow(L"Ardwyn E-Mail Message"), nullptr);
}

}  // namespace
}  // namespace kt::test
