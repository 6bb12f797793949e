// The To, cc and Bcc buttons: a modal picker, its list appended to the field
// that asked, the picker closed from the window's timer.

#include <gtest/gtest.h>

#include "KT_EMailer.h"
#include "addressbook/frmAddressPicker.h"
#include "component/class_factory.h"
#include "compose/shared_message_settings.h"
#include "compose/frmEmail.h"
#include "support/address_book_fixture.h"
#include "support/late_bound.h"
#include "support/message_pump.h"

namespace kt::test {
namespace {

using namespace std::chrono_literals;

class RecipientPickingTest : public AddressBookTest {
protected:
    void SetUp() override {
        seed({L"ann@x.com,Ann", L"bob@x.com,Bob"});
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_cEmail, IID_IClassFactory, factory.putVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, email.putVoid()), S_OK);
        ASSERT_EQ(callMethod(email.get(), L"SendEMail",
                             {Variant::text(L"b"), Variant::text(L"s"), Variant::text(L""), Variant::text(L"h"),
                              Variant::text(L"me@x.com")}),
                  S_OK);
        form = formOf<frmEmail>(findThreadWindow(L"Ardwyn E-Mail Message"));
        ASSERT_NE(form, nullptr);
    }

    static frmAddressPicker* picker() { return formOf<frmAddressPicker>(findThreadWindow(L"Ardwyn Address Picker")); }

    // Presses a recipient button; `inPicker` runs while the picker is shown.
    // Returns when the modal picker is gone, as the button's handler does.
    void pick(KT_CB& button, std::deque<std::function<void()>> inPicker) {
        StepsOnTimer steps(std::move(inPicker));
        SendMessageW(button.hwnd(), BM_CLICK, 0, 0);
        EXPECT_TRUE(steps.done());
        EXPECT_EQ(picker(), nullptr);
    }
    std::function<void()> choose(const std::wstring& name) {
        return [name] {
            frmAddressPicker* p = picker();
            ASSERT_NE(p, nullptr);
            for (int row = 0; row < p->List1().ListCount(); ++row)
                if (p->List1().List(row) == name) SendMessageW(p->List1().hwnd(), LB_SETSEL, TRUE, row);
        };
    }
    static void pressOk() { SendMessageW(picker()->KT_CB_OK().hwnd(), BM_CLICK, 0, 0); }

    ComPtr<IDispatch> email;
    frmEmail* form = nullptr;
    SharedMessageSettings& settings = SharedMessageSettings::forThisThread();
};

TEST_F(RecipientPickingTest, EmptyFieldGetsTheListAndASecondPickIsAppended) {
    bool composeTookInput = true;
    pick(form->KT_CB_To(), {choose(L"Ann"), [&] {
                                composeTookInput = IsWindowEnabled(form->hwnd()) != FALSE;
                                EXPECT_EQ(settings.g_iPickerState, 1);
                                pressOk();
                            }});
    EXPECT_FALSE(composeTookInput);
    EXPECT_TRUE(IsWindowEnabled(form->hwnd()));
    EXPECT_EQ(form->tbTo().Text(), L"ann@x.com,Ann");
    EXPECT_EQ(settings.g_iPickerState, 0);

    pick(form->KT_CB_To(), {choose(L"Bob"), choose(L"Ann"), pressOk});
    EXPECT_EQ(form->tbTo().Text(), L"ann@x.com,Ann;ann@x.com,Ann;bob@x.com,Bob");
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(RecipientPickingTest, CcAndBccChangeOnlyTheirOwnField) {
    form->tbTo().Text(L"prefilled@x.com,P");
    pick(form->KT_CB_CC(), {choose(L"Bob"), pressOk});
    pick(form->KT_CB_Bcc(), {choose(L"Ann"), pressOk});
    pick(form->KT_CB_To(), {choose(L"Ann"), pressOk});
    EXPECT_EQ(form->tbTo().Text(), L"prefilled@x.com,P;ann@x.com,Ann");
    EXPECT_EQ(form->tbcc().Text(), L"bob@x.com,Bob");
    EXPECT_EQ(form->tbBcc().Text(), L"ann@x.com,Ann");
}

TEST_F(RecipientPickingTest, AnEmptyListLeavesAnEmptyFieldEmptyAndEndsAFilledOneWithASemicolon) {
    const auto emptyList = [] { picker()->AddressList.raise(L""); };
    pick(form->KT_CB_CC(), {emptyList});
    EXPECT_EQ(form->tbcc().Text(), L"");
    form->tbBcc().Text(L" ");
    pick(form->KT_CB_Bcc(), {emptyList});
    EXPECT_EQ(form->tbBcc().Text(), L" ;");
}

TEST_F(RecipientPickingTest, CancelChangesNothingAndKeepsTheState) {
    pick(form->KT_CB_Bcc(), {choose(L"Ann"), [] { SendMessageW(picker()->KT_CB_Cancel().hwnd(), BM_CLICK, 0, 0); }});
    EXPECT_EQ(form->tbBcc().Text(), L"");
    EXPECT_EQ(settings.g_iPickerState, 3);
}

TEST_F(RecipientPickingTest, LayoutBetweenPressAndAnswerRefusesTheList) {
    pick(form->KT_CB_To(), {choose(L"Ann"),
                            [&] {
                                // Any size change runs the layout, which clears the state.
                                RECT r{};
                                GetWindowRect(form->hwnd(), &r);
                                SetWindowPos(form->hwnd(), nullptr, 0, 0, r.right - r.left + 20, r.bottom - r.top,
                                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
                                EXPECT_EQ(settings.g_iPickerState, 0);
                            },
                            pressOk});
    EXPECT_EQ(form->tbTo().Text(), L"");
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"Error in Email  - Unexpected Picker State Value of: 0");
    EXPECT_EQ(messageBoxes.shown[0].title, L"Error");
    EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

TEST_F(RecipientPickingTest, ClosingTheWindowClosesItsPicker) {
    pick(form->KT_CB_To(), {[&] { SendMessageW(form->hwnd(), WM_CLOSE, 0, 0); }});
    EXPECT_FALSE(IsWindow(form->hwnd()));
}

}  // namespace
}  // namespace kt::test
