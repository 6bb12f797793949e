// The address book as the picker loads, shows, adds and deletes it, on the
// real registry (the user's key set aside for each test), with books written
// by another program through the wide registry functions; and the To, cc and
// Bcc buttons that open the picker. Typing, picking and deleting with real
// input is tests/support/real_input_test.py's.

#include <memory>
#include <set>

#include "addressbook/frmAddressPicker.h"
#include "compose/frmEmail.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

using Values = std::map<std::wstring, std::wstring>;
using Rows = std::vector<std::wstring>;

class PickerTest : public AddressBookTest {
protected:
    std::shared_ptr<frmAddressPicker> open() {
        auto picker = std::make_shared<frmAddressPicker>(std::make_shared<AddressBook>());
        picker->Load();
        picker->Show();
        lists = picker->AddressList.subscribe([this](const std::wstring& list) { raised.push_back(list); });
        return picker;
    }
    static Rows rows(const frmAddressPicker& picker) {
        Rows texts;
        for (int row = 0; row < picker.List1().ListCount(); ++row) texts.push_back(picker.List1().List(row));
        return texts;
    }
    // A click on a row, the way the mouse gives it to the list (Ctrl adds to the selection).
    static void click(const frmAddressPicker& picker, int row, WPARAM keys = 0, UINT message = WM_LBUTTONDOWN) {
        RECT item{};
        SendMessageW(picker.List1().hwnd(), LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM(item.left + 4, (item.top + item.bottom) / 2);
        SendMessageW(picker.List1().hwnd(), message, keys | MK_LBUTTON, at);
        SendMessageW(picker.List1().hwnd(), WM_LBUTTONUP, keys, at);
    }
    static void click(const frmAddressPicker& picker, const std::wstring& name, WPARAM keys = 0) {
        const Rows texts = rows(picker);
        click(picker, static_cast<int>(std::find(texts.begin(), texts.end(), name) - texts.begin()), keys);
    }
    static void add(frmAddressPicker& picker, const std::wstring& name, const std::wstring& address) {
        picker.tbName().Text(name);
        picker.tbAddress().Text(address);
        press(picker.KT_CB_AddName());
    }
    // The pop-up menu's "Delete this EMail Address" on the current row, answered.
    void deleteCurrentRow(frmAddressPicker& picker, int answer = IDYES) {
        boxAnswers.push_back(answer);
        SendMessageW(picker.hwnd(), WM_COMMAND, MAKEWPARAM(frmAddressPicker::mnuDeleteEmail, 0), 0);
    }

    std::vector<std::wstring> raised;
    Subscription lists;
};

TEST_F(PickerTest, AdditionTakesTheNextFreeNumberAndRefusesDuplicatesEmptyFieldsSeparatorsAndRecordsTooLongToReadBack) {
    seed({L"ann@x.com,Ann"});
    setString(L"2", L"c@x.com,Cy");  // "1" is missing: two values, and "2" is taken
    auto picker = open();
    const std::wstring duplicate = L"An entry is already on the list with that Name or E-Mail Address";
    const std::wstring separators = L"The name and the address cannot hold a semicolon (;) or a comma (,): in a list "
                                    L"of recipients they end an entry and its address.";
    const std::wstring longest(246, L'N');  // with the address and the comma 254 characters, the most a load reads
    const struct {
        std::wstring name, address, message;
    } refused[] = {
        {L"Ann", L"other@x.com", duplicate},
        {L"Another", L"ann@x.com", duplicate},
        {L"", L"new@x.com", L"Please Fill in both the Address Field and the Name field."},
        {L"Lee; Ann", L"lee@x.com", separators},
        {L"Lee, Ann", L"lee@x.com", separators},
        {L"Lee", L"lee@x.com;ann@x.com", separators},
        {longest + L"x", L"l@x.com",
         L"The address and the name are too long for the address book: together they may have 253 characters at "
         L"most."},
    };
    for (const auto& r : refused) {
        shownBoxes.clear();
        add(*picker, r.name, r.address);
        ASSERT_EQ(shownBoxes.size(), 1u);
        EXPECT_EQ(shownBoxes[0].text, r.message);
        EXPECT_EQ(picker->tbName().Text() + L"|" + picker->tbAddress().Text(), r.name + L"|" + r.address);
    }
    shownBoxes.clear();
    add(*picker, longest, L"l@x.com");
    add(*picker, L"ann", L"ANN@x.com");  // letter case makes other names and addresses
    EXPECT_TRUE(noBox());
    EXPECT_EQ(stored(), (Values{{L"0", L"ann@x.com,Ann"}, {L"2", L"c@x.com,Cy"}, {L"3", L"l@x.com," + longest},
                                {L"4", L"ANN@x.com,ann"}}));
    picker->Unload();
    EXPECT_EQ(rows(*open()).size(), 4u);
}

TEST_F(PickerTest, AStoreThatRefusesOrLostAnEntryKeepsTheRowsAndSaysWhyAndWritingAsksNoMoreRightsThanValuesNeed) {
    seed({L"ann@x.com,Ann", L"cy@x.com,Cy"});
    allowOnly(KEY_READ);
    auto picker = open();
    add(*picker, L"Bob", L"bob@x.com");
    EXPECT_TRUE(oneBoxSays({L"bob@x.com,Bob could not be stored"}));
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Cy"}));  // an entry shows only once the store took it
    EXPECT_EQ(picker->tbName().Text() + L"|" + picker->tbAddress().Text(), L"Bob|bob@x.com");

    // A book the user may read and write the values of, and no more.
    allowOnly(KEY_READ | KEY_SET_VALUE);
    shownBoxes.clear();
    press(picker->KT_CB_AddName());
    click(*picker, L"Ann");
    deleteCurrentRow(*picker);
    EXPECT_TRUE(oneBoxSays({L"Delete Ann?"}));  // the question alone
    EXPECT_EQ(rows(*picker), (Rows{L"Bob", L"Cy"}));
    EXPECT_EQ(stored(), (Values{{L"0", L"cy@x.com,Cy"}, {L"1", L"bob@x.com,Bob"}}));

    allowOnly(KEY_ALL_ACCESS);
    seed({L"bob@x.com,Bob"});  // another program took Cy out
    shownBoxes.clear();
    click(*picker, L"Cy");
    deleteCurrentRow(*picker);
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_TRUE(holdsAll(shownBoxes[1].text, {L"cy@x.com,Cy is no longer in the address book"}));
    EXPECT_EQ(rows(*picker), (Rows{L"Bob", L"Cy"}));
    EXPECT_EQ(stored(), (Values{{L"0", L"bob@x.com,Bob"}}));
}

TEST_F(PickerTest, DeletionAsksAndCarriesEveryOtherValueOverExactlyInAnyScriptRenumbered) {
    seed({L"l@x.pl,\u0141ukasz", L"a@x.com,Ann", L"i@x.ru,\u0418\u0432\u0430\u043d"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"\u0141ukasz", L"\u0418\u0432\u0430\u043d"}));
    // Other programs write while the picker is open: one makes the book anew
    // with as many values, one adds a value.
    seed({L"l@x.pl,\u0141ukasz", L"a@x.com,Ann", L"z@x.com,Zed"});
    add(*picker, L"J\u00f6rg \u0141\u00f3d\u017a \u4e2d", L"j@x.de");
    setString(L"4", L"zoe@x.com,Zoe");
    click(*picker, L"Ann");
    const Values before = stored();
    deleteCurrentRow(*picker, IDNO);
    EXPECT_EQ(stored(), before);
    deleteCurrentRow(*picker);
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[1].text, L"Delete Ann?");
    // The list's entries in its order, then what the picker never read.
    EXPECT_EQ(stored(), (Values{{L"0", L"l@x.pl,\u0141ukasz"},
                                {L"1", L"i@x.ru,\u0418\u0432\u0430\u043d"},
                                {L"2", L"j@x.de,J\u00f6rg \u0141\u00f3d\u017a \u4e2d"},
                                {L"3", L"z@x.com,Zed"},
                                {L"4", L"zoe@x.com,Zoe"}}));
}

TEST_F(PickerTest, AValueTheLoadCannotReadEndsItAndSurvivesEveryDeletion) {
    const DWORD number = 7;
    const std::wstring tooLong = L"b@x.com," + std::wstring(292, L'B');
    for (const auto& [what, write] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"a number", [&] { setValue(L"1", REG_DWORD, &number, sizeof number); }},
             {"300 characters", [&] { setString(L"1", tooLong); }},
             {"no comma", [&] { setString(L"1", L"nocomma"); }}}) {
        SCOPED_TRACE(what);
        seed({L"a@x.com,Ann", L"", L"c@x.com,Cy", L"d@x.com,Dee"});
        write();
        Values expected = stored();
        shownBoxes.clear();
        auto picker = open();
        EXPECT_EQ(rows(*picker), (Rows{L"Ann"}));
        const std::wstring& box = shownBoxes.at(0).text;  // as ShowErrorWithTime frames it
        EXPECT_EQ(box.substr(0, box.find(L"\r\n\r\nTime of Error:")),
                  L"ERROR - Error in Email Address Form Load Function.\r\nError Number: 9\r\nSubscript out of range");
        add(*picker, L"Eve", L"e@x.com");
        click(*picker, L"Ann");
        deleteCurrentRow(*picker);
        // What the load did not read follows the entries, unchanged and in its order.
        expected[L"0"] = L"e@x.com,Eve";
        EXPECT_EQ(stored(), expected);
        picker->Unload();
    }
}

TEST_F(PickerTest, RowsAreSortedEachStandsForItsOwnEntryAndOkOrADoubleClickReturnsTheSelectionInDisplayOrder) {
    seed({L"cy@x.com,Cy", L"a@x.com,Ann", L"b@x.com,Ann", L"lee@x.com,Lee, Ann"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Ann", L"Cy", L"Lee"}));  // a comma in a name cuts it
    Rows anns;
    for (int row : {0, 1}) {
        click(*picker, row);
        anns.push_back(picker->lbInfo().Text());
    }
    EXPECT_EQ(std::set<std::wstring>(anns.begin(), anns.end()), (std::set<std::wstring>{L"a@x.com,Ann", L"b@x.com,Ann"}));
    click(*picker, 3);
    click(*picker, 0, MK_CONTROL);
    click(*picker, 2, MK_CONTROL);
    press(picker->KT_CB_OK());
    click(*picker, 1);
    click(*picker, 1, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(raised, (Rows{anns[0] + L";cy@x.com,Cy;lee@x.com,Lee", anns[1]}));
    EXPECT_TRUE(IsWindow(picker->hwnd()));  // its opener closes it

    // Enter, a dialog key, neither picks nor deletes.
    picker->tbName().SetFocus();
    PostMessageW(picker->tbName().hwnd(), WM_KEYDOWN, VK_RETURN, 0x00000001);
    PostMessageW(picker->tbName().hwnd(), WM_KEYUP, VK_RETURN, 0xC0000001);
    pumpFor(50ms);
    EXPECT_TRUE(noBox());
    EXPECT_EQ(raised.size(), 2u);

    deleteCurrentRow(*picker);  // the second Ann
    EXPECT_EQ(stored(), (Values{{L"0", L"cy@x.com,Cy"}, {L"1", anns[0]}, {L"2", L"lee@x.com,Lee, Ann"}}));
    click(*picker, 0);
    EXPECT_EQ(picker->lbInfo().Text(), anns[0]);
}

// Presses a recipient button; the steps run one per tick while the modal
// picker is shown, and the button's handler returns when it is gone.
void pick(KT_CB& button, std::deque<std::function<void()>> inPicker) {
    StepsOnTimer steps(std::move(inPicker));
    press(button);
    EXPECT_TRUE(steps.done());
    EXPECT_EQ(findThreadWindow(kPickerCaption), nullptr);
}

// The picker belongs to its window, and its answer reaches the field that
// asked whatever the window went through meanwhile.
TEST_F(PickerTest, EachRecipientButtonAppendsThePickedRecordsToItsOwnFieldAndClosingTheWindowClosesItsPicker) {
    seed({L"ann@x.com,Ann", L"bob@x.com,Bob"});
    const ComPtr<IDispatch> email = newEmail();
    frmEmail& form = sendEMail(email.get(), L"b", L"ann@x.com,Ann");
    const HWND window = form.hwnd();
    const auto picker = [] { return formOf<frmAddressPicker>(findThreadWindow(kPickerCaption)); };
    const auto choose = [&](int row) { return [=] { SendMessageW(picker()->List1().hwnd(), LB_SETSEL, TRUE, row); }; };
    const auto ok = [&] { press(picker()->KT_CB_OK()); };
    RECT placed{};
    HWND owner = nullptr;
    bool composeTookInput = true;
    pick(form.KT_CB_CC(), {[&] { owner = GetWindow(picker()->hwnd(), GW_OWNER); },
                           [&] { SetWindowPos(window, nullptr, 0, 0, 720, 640, SWP_NOMOVE | SWP_NOZORDER); },
                           [&] { ShowWindow(window, SW_MINIMIZE); },
                           [&] { ShowWindow(window, SW_RESTORE); },
                           choose(1),
                           [&] {
                               GetWindowRect(window, &placed);
                               composeTookInput = IsWindowEnabled(window) != FALSE;
                               ok();
                           }});
    EXPECT_EQ(owner, window);
    EXPECT_FALSE(composeTookInput);
    EXPECT_EQ(std::make_pair(placed.right - placed.left, placed.bottom - placed.top), std::make_pair(720L, 640L))
        << "a minimized window was laid out";
    pick(form.KT_CB_Bcc(), {choose(0), [&] { press(picker()->KT_CB_Cancel()); }});
    pick(form.KT_CB_To(), {choose(1), choose(0), ok});
    EXPECT_EQ(form.tbTo().Text() + L"|" + form.tbcc().Text() + L"|" + form.tbBcc().Text(),
              L"ann@x.com,Ann;ann@x.com,Ann;bob@x.com,Bob|bob@x.com,Bob|");
    EXPECT_TRUE(IsWindowEnabled(window));

    pick(form.KT_CB_To(), {[&] { SendMessageW(window, WM_CLOSE, 0, 0); }});
    EXPECT_EQ(findThreadWindow(kComposeCaption), nullptr);
    EXPECT_TRUE(noBox());
}

}  // namespace
}  // namespace kt::test
