// The To, cc and Bcc buttons: a modal picker, its list appended to the field
// that asked, the picker closed from the window's timer.

#include <gtest/gtest.h>

#include "addressbook/frmAddressPicker.h"
#include "compose/frmEmail.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

class RecipientPickingTest : public AddressBookTest {
protected:
    void SetUp() override { seed({L"ann@x.com,Ann", L"bob@x.com,Bob"}); }

    static frmAddressPicker* picker() { return formOf<frmAddressPicker>(findThreadWindow(kPickerCaption)); }

    // Presses a recipient button; the steps run while the picker is shown.
    // Returns when the modal picker is gone, as the button's handler does.
    static void pick(KT_CB& button, std::deque<std::function<void()>> inPicker) {
        StepsOnTimer steps(std::move(inPicker));
        press(button);
        EXPECT_TRUE(steps.done());
        EXPECT_EQ(picker(), nullptr);
    }
    static std::function<void()> choose(const std::wstring& name) {
        return [name] {
            ASSERT_NE(picker(), nullptr);
            for (int row = 0; row < picker()->List1().ListCount(); ++row)
                if (picker()->List1().List(row) == name) SendMessageW(picker()->List1().hwnd(), LB_SETSEL, TRUE, row);
        };
    }
    static void ok() { press(picker()->KT_CB_OK()); }

    ComPtr<IDispatch> email = newEmail();
    frmEmail& form = sendEMail(email.get(), L"b", L"");
};

TEST_F(RecipientPickingTest, EachButtonAppendsThePickedRecordsToItsOwnField) {
    bool composeTookInput = true;
    pick(form.KT_CB_To(), {choose(L"Ann"), [&] {
                               composeTookInput = IsWindowEnabled(form.hwnd()) != FALSE;
                               ok();
                           }});
    EXPECT_FALSE(composeTookInput);
    EXPECT_TRUE(IsWindowEnabled(form.hwnd()));
    pick(form.KT_CB_CC(), {choose(L"Bob"), ok});
    pick(form.KT_CB_Bcc(), {choose(L"Ann"), [] { press(picker()->KT_CB_Cancel()); }});
    pick(form.KT_CB_To(), {choose(L"Bob"), choose(L"Ann"), ok});
    EXPECT_EQ(form.tbTo().Text(), L"ann@x.com,Ann;ann@x.com,Ann;bob@x.com,Bob");
    EXPECT_EQ(form.tbcc().Text(), L"bob@x.com,Bob");
    EXPECT_EQ(form.tbBcc().Text(), L"");
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(RecipientPickingTest, ClosingTheWindowClosesItsPicker) {
    pick(form.KT_CB_To(), {[&] { SendMessageW(form.hwnd(), WM_CLOSE, 0, 0); }});
    EXPECT_EQ(findThreadWindow(kComposeCaption), nullptr);
}

}  // namespace
}  // namespace kt::test
