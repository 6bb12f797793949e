// cEmail through IDispatch by name, as late-bound clients call it.

#include <gtest/gtest.h>

#include <thread>

#include "KT_EMailer.h"
#include "component/class_factory.h"
#include "compose/shared_message_settings.h"
#include "compose/frmEmail.h"
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

TEST_F(DispatchTest, SendEMailWithFiveArgumentsTakesTheRecordedDefaults) {
    settings.g_bShowError = false;
    settings.g_bHTML = true;
    ASSERT_EQ(callMethod(email.get(), L"SendEMail",
                         {Variant::text(L"The body"), Variant::text(L"Subject"), Variant::text(L"a@example.com, A"),
                          Variant::text(L"mail.example.com"), Variant::text(L"me@example.com")}),
              S_OK);
    EXPECT_TRUE(settings.g_bShowError);
    EXPECT_FALSE(settings.g_bHTML);
    EXPECT_EQ(settings.g_sSMTPServer, L"mail.example.com");
    EXPECT_EQ(settings.g_sFromAddress, L"me@example.com");
    EXPECT_EQ(openWindow().tbBody().Text(), L"The body");
}

TEST_F(DispatchTest, SendEMailWithAllSevenArguments) {
    Variant page = Variant::text(L"<html>page</html>");
    ASSERT_EQ(callMethod(email.get(), L"SendEMail",
                         {Variant::referenceTo(page), Variant::text(L"Subject"), Variant::text(L"a@example.com, A"),
                          Variant::text(L"mail.example.com"), Variant::text(L"me@example.com"),
                          Variant::boolean(false), Variant::boolean(true)}),
              S_OK);
    EXPECT_FALSE(settings.g_bShowError);
    EXPECT_TRUE(settings.g_bHTML);
    EXPECT_EQ(settings.g_sHTMLBody, L"<html>page</html>");
}

}  // namespace
}  // namespace kt::test
