// The address book as the picker loads, shows, adds and deletes it, on the
// real registry (the user's key set aside for each test).

#include <gtest/gtest.h>

#include <memory>

#include "addressbook/frmAddressPicker.h"
#include "support/address_book_fixture.h"
#include "support/message_pump.h"

namespace kt::test {
namespace {

using namespace std::chrono_literals;
using Values = std::map<std::wstring, std::wstring>;
using Rows = std::vector<std::wstring>;

class PickerTest : public AddressBookTest {
protected:
    std::shared_ptr<frmAddressPicker> open() {
        auto picker = std::make_shared<frmAddressPicker>();
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
    static int rowOf(const frmAddressPicker& picker, const std::wstring& name) {
        for (int row = 0; row < picker.List1().ListCount(); ++row)
            if (picker.List1().List(row) == name) return row;
        return -1;
    }
    // A click on a row, the way the mouse gives it to the list (Ctrl adds to the selection).
    static void clickRow(const frmAddressPicker& picker, int row, bool control = false, UINT message = WM_LBUTTONDOWN) {
        RECT item{};
        SendMessageW(picker.List1().hwnd(), LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM(item.left + 4, (item.top + item.bottom) / 2);
        const WPARAM keys = MK_LBUTTON | (control ? MK_CONTROL : 0);
        SendMessageW(picker.List1().hwnd(), message, keys, at);
        SendMessageW(picker.List1().hwnd(), WM_LBUTTONUP, keys & ~MK_LBUTTON, at);
    }
    static void add(frmAddressPicker& picker, const std::wstring& name, const std::wstring& address) {
        picker.tbName().Text(name);
        picker.tbAddress().Text(address);
        SendMessageW(picker.KT_CB_AddName().hwnd(), BM_CLICK, 0, 0);
    }
    void deleteCurrentRow(frmAddressPicker& picker, int answer = IDYES) {
        messageBoxes.answers.push_back(answer);
        SendMessageW(picker.hwnd(), WM_COMMAND, MAKEWPARAM(frmAddressPicker::mnuDeleteEmail, 0), 0);
    }
    std::vector<std::wstring> boxTexts() const {
        std::vector<std::wstring> texts;
        for (const auto& box : messageBoxes.shown) texts.push_back(box.text);
        return texts;
    }

    std::vector<std::wstring> raised;
    Subscription lists;
};

TEST_F(PickerTest, AdditionsTakeTheNextFreeNumberAndCreateTheKey) {
    auto picker = open();
    EXPECT_TRUE(rows(*picker).empty());
    EXPECT_FALSE(keyExists());
    add(*picker, L"Ann Lee", L"ann@example.com");
    EXPECT_EQ(stored(), (Values{{L"0", L"ann@example.com,Ann Lee"}}));
    EXPECT_EQ(rows(*picker), (Rows{L"Ann Lee"}));
    EXPECT_EQ(picker->tbName().Text(), L"");
    EXPECT_EQ(picker->tbAddress().Text(), L"");
    EXPECT_EQ(GetFocus(), picker->List1().hwnd());
    picker->Unload();

    setString(L"2", L"c@x.com,Cy");  // "1" is missing: two values, and "2" is taken
    picker = open();
    add(*picker, L"Dee", L"d@x.com");
    EXPECT_EQ(stored(), (Values{{L"0", L"ann@example.com,Ann Lee"}, {L"2", L"c@x.com,Cy"}, {L"3", L"d@x.com,Dee"}}));
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(PickerTest, AdditionRefusesDuplicatesEmptyFieldsAndRecordsTooLongToReadBack) {
    seed({L"ann@x.com,Ann"});
    auto picker = open();
    add(*picker, L"Ann", L"other@x.com");
    add(*picker, L"Another", L"ann@x.com");
    ASSERT_EQ(messageBoxes.shown.size(), 2u);
    for (const auto& box : messageBoxes.shown) {
        EXPECT_EQ(box.text, L"An entry is already on the list with that Name or E-Mail Address");
        EXPECT_EQ(box.title, L"KT_EMailer");
        EXPECT_EQ(box.style, static_cast<UINT>(MB_OK));
    }
    EXPECT_EQ(picker->tbName().Text(), L"Another");  // refused text stays for correcting
    EXPECT_EQ(picker->tbAddress().Text(), L"ann@x.com");

    messageBoxes.shown.clear();
    add(*picker, L"", L"new@x.com");
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"Please Fill in both the Address Field and the Name field.");
    EXPECT_EQ(messageBoxes.shown[0].title, L"Error!");
    EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));

    // 254 characters in all is the most a load reads back.
    messageBoxes.shown.clear();
    const std::wstring longName(246, L'N');
    add(*picker, longName + L"x", L"l@x.com");
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_NE(messageBoxes.shown[0].text.find(L"too long"), std::wstring::npos);
    EXPECT_EQ(picker->tbName().Text(), longName + L"x");
    add(*picker, longName, L"l@x.com");

    messageBoxes.shown.clear();
    add(*picker, L"ann", L"ANN@x.com");  // letter case and blanks make other names and addresses
    add(*picker, L" Ann", L"ann@x.com ");
    EXPECT_TRUE(messageBoxes.shown.empty());
    EXPECT_EQ(stored().size(), 4u);
    picker->Unload();
    EXPECT_EQ(rows(*open()).size(), 4u);
}

TEST_F(PickerTest, TextInAnyScriptIsStoredAndCarriedOverExactly) {
    seed({L"l@x.pl,\u0141ukasz", L"a@x.com,Ann", L"i@x.ru,\u0418\u0432\u0430\u043d"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"\u0141ukasz", L"\u0418\u0432\u0430\u043d"}));
    add(*picker, L"J\u00f6rg \u0141\u00f3d\u017a \u4e2d", L"j@x.de");
    clickRow(*picker, rowOf(*picker, L"Ann"));
    deleteCurrentRow(*picker);
    EXPECT_EQ(stored(), (Values{{L"0", L"l@x.pl,\u0141ukasz"},
                                {L"1", L"i@x.ru,\u0418\u0432\u0430\u043d"},
                                {L"2", L"j@x.de,J\u00f6rg \u0141\u00f3d\u017a \u4e2d"}}));
}

TEST_F(PickerTest, CommasInStoredRecordsCutTheNameAtLoad) {
    seed({L"ann@x.com,Lee, Ann", L"a,b@x.com,Bob"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"b@x.com", L"Lee"}));
    EXPECT_EQ(picker->entries().entries()[0].Record, L"ann@x.com,Lee");
    EXPECT_EQ(picker->entries().entries()[1].Record, L"a,b@x.com");
}

TEST_F(PickerTest, AValueTheLoadCannotReadEndsItAndSurvivesEveryDeletion) {
    const DWORD number = 7;
    const std::wstring tooLong = L"b@x.com," + std::wstring(292, L'B');
    for (const auto& [what, write] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"a number", [&] { setValue(L"1", REG_DWORD, &number, sizeof number); }},
             {"300 characters", [&] { setString(L"1", tooLong); }},
             {"no comma", [&] { setString(L"1", L"nocomma"); }},
             {"empty", [&] { setString(L"1", L""); }}}) {
        SCOPED_TRACE(what);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Veltrano\\Ardwyn\\E_MailList");
        seed({L"a@x.com,Ann", L"", L"c@x.com,Cy", L"d@x.com,Dee"});
        write();
        const Values before = stored();
        messageBoxes.shown.clear();
        auto picker = open();
        EXPECT_EQ(rows(*picker), (Rows{L"Ann"}));
        EXPECT_EQ(lastErrorWithTime(),
                  L"Error in Email Address Form Load Function.\r\nError Number: 9\r\nSubscript out of range");
        EXPECT_TRUE(IsWindowVisible(picker->hwnd()));

        add(*picker, L"Eve", L"e@x.com");
        clickRow(*picker, rowOf(*picker, L"Ann"));
        deleteCurrentRow(*picker);
        // What the load did not read follows the entries, unchanged and in its order.
        Values expected{{L"0", L"e@x.com,Eve"}, {L"2", before.at(L"2")}, {L"3", before.at(L"3")}};
        expected[L"1"] = before.at(L"1");
        EXPECT_EQ(stored(), expected);
        picker->Unload();
    }
}

TEST_F(PickerTest, RowsAreSortedAndOkReturnsTheSelectedRecordsInDisplayOrder) {
    seed({L"cy@x.com,Cy", L"ann@x.com,Ann", L"bob@x.com,Bob"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Bob", L"Cy"}));
    clickRow(*picker, rowOf(*picker, L"Bob"));
    EXPECT_EQ(picker->lbInfo().Text(), L"bob@x.com,Bob");
    clickRow(*picker, rowOf(*picker, L"Cy"));
    clickRow(*picker, rowOf(*picker, L"Ann"), true);
    SendMessageW(picker->KT_CB_OK().hwnd(), BM_CLICK, 0, 0);
    // A double click: its first click chooses the row, the second confirms what is selected.
    clickRow(*picker, rowOf(*picker, L"Bob"));
    clickRow(*picker, rowOf(*picker, L"Bob"), false, WM_LBUTTONDBLCLK);
    EXPECT_EQ(raised, (std::vector<std::wstring>{L"ann@x.com,Ann;cy@x.com,Cy", L"bob@x.com,Bob"}));
    EXPECT_TRUE(IsWindow(picker->hwnd()));  // its opener closes it
}

TEST_F(PickerTest, EachRowOfANameStoredTwiceStandsForItsOwnEntry) {
    seed({L"a@x.com,Ann", L"b@x.com,Ann", L"c@x.com,Cy"});
    auto picker = open();
    std::vector<std::wstring> records;
    for (int row : {0, 1}) {
        clickRow(*picker, row);
        records.push_back(picker->lbInfo().Text());
        SendMessageW(picker->KT_CB_OK().hwnd(), BM_CLICK, 0, 0);
    }
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, (std::vector<std::wstring>{L"a@x.com,Ann", L"b@x.com,Ann"}));
    std::sort(raised.begin(), raised.end());
    EXPECT_EQ(raised, records);

    clickRow(*picker, 1);
    const std::wstring deleted = picker->lbInfo().Text();
    deleteCurrentRow(*picker);
    const std::wstring kept = deleted == L"a@x.com,Ann" ? L"b@x.com,Ann" : L"a@x.com,Ann";
    EXPECT_EQ(stored(), (Values{{L"0", kept}, {L"1", L"c@x.com,Cy"}}));
    clickRow(*picker, 0);
    EXPECT_EQ(picker->lbInfo().Text(), kept);
}

TEST_F(PickerTest, OkWithNothingSelectedAndCancelRaiseNothing) {
    seed({L"a@x.com,Ann"});
    auto picker = open();
    SendMessageW(picker->KT_CB_OK().hwnd(), BM_CLICK, 0, 0);
    ASSERT_EQ(messageBoxes.shown.size(), 1u);
    EXPECT_EQ(messageBoxes.shown[0].text, L"No Addresses Have been Selected");
    EXPECT_EQ(messageBoxes.shown[0].title, L"Error");
    EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    SendMessageW(picker->KT_CB_Cancel().hwnd(), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(picker->hwnd()));
    EXPECT_TRUE(raised.empty());
}

TEST_F(PickerTest, RightClickOffersTheDeleteMenuOnlyWithACurrentRow) {
    seed({L"a@x.com,Ann"});
    auto picker = open();
    const auto rightClick = [&] {
        HWND menuSeen = nullptr;
        // The pop-up menu runs its own loop; a step inside it notes the menu and closes it.
        StepsOnTimer inMenu({[&] {
            menuSeen = FindWindowW(L"#32768", nullptr);
            if (menuSeen && !IsWindowVisible(menuSeen)) menuSeen = nullptr;
            EndMenu();
        }});
        SendMessageW(picker->List1().hwnd(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
        SendMessageW(picker->List1().hwnd(), WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
        pumpFor(100ms);
        return menuSeen != nullptr;
    };
    EXPECT_FALSE(rightClick());
    clickRow(*picker, 0);
    EXPECT_TRUE(rightClick());
    wchar_t item[64] = {};
    GetMenuStringW(picker->mnuDelete(), frmAddressPicker::mnuDeleteEmail, item, 64, MF_BYCOMMAND);
    EXPECT_STREQ(item, L"Delete this EMail Address");
}

TEST_F(PickerTest, DeletionRenumbersTheStoreDenselyInEntryOrder) {
    const struct {
        const wchar_t* deleted;
        int answer;
        Values left;
    } cases[] = {
        {L"B", IDYES, {{L"0", L"a@x.com,A"}, {L"1", L"c@x.com,C"}, {L"2", L"d@x.com,D"}}},
        {L"C", IDYES, {{L"0", L"a@x.com,A"}, {L"1", L"b@x.com,B"}, {L"2", L"d@x.com,D"}}},
        {L"D", IDYES, {{L"0", L"a@x.com,A"}, {L"1", L"b@x.com,B"}, {L"2", L"c@x.com,C"}}},
        {L"A", IDNO, {{L"0", L"a@x.com,A"}, {L"1", L"b@x.com,B"}, {L"2", L"c@x.com,C"}, {L"3", L"d@x.com,D"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deleted);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Veltrano\\Ardwyn\\E_MailList");
        seed({L"a@x.com,A", L"b@x.com,B", L"c@x.com,C", L"d@x.com,D"});
        messageBoxes.shown.clear();
        auto picker = open();
        clickRow(*picker, rowOf(*picker, c.deleted));
        deleteCurrentRow(*picker, c.answer);
        EXPECT_EQ(stored(), c.left);
        EXPECT_EQ(static_cast<std::size_t>(picker->List1().ListCount()), c.left.size());
        ASSERT_EQ(messageBoxes.shown.size(), 1u);
        EXPECT_EQ(messageBoxes.shown[0].text, std::wstring(L"Delete ") + c.deleted + L"?");
        EXPECT_EQ(messageBoxes.shown[0].title, L"Delete from E-Mail Address list");
        EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_YESNO));
        picker->Unload();
    }
}

TEST_F(PickerTest, DeletingTheOnlyEntryLeavesAnEmptyKeyAndTheNextAdditionIsZero) {
    seed({L"a@x.com,Ann"});
    auto picker = open();
    clickRow(*picker, 0);
    deleteCurrentRow(*picker);
    EXPECT_TRUE(keyExists());
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(rows(*picker).empty());
    EXPECT_TRUE(picker->entries().isEmptyBook());
    add(*picker, L"Bob", L"b@x.com");
    EXPECT_EQ(stored(), (Values{{L"0", L"b@x.com,Bob"}}));
}

TEST_F(PickerTest, DeletingARowWhoseEntryIsGoneLeavesTheStoreAlone) {
    seed({L"a@x.com,Ann"});
    auto picker = open();
    SendMessageW(picker->List1().hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Zed"));
    clickRow(*picker, rowOf(*picker, L"Zed"));
    deleteCurrentRow(*picker);
    EXPECT_EQ(boxTexts().back(), L"Error in Delete E-Mail Address, could not locate Zed in list???");
    EXPECT_EQ(stored(), (Values{{L"0", L"a@x.com,Ann"}}));
    EXPECT_EQ(rows(*picker), (Rows{L"Ann"}));
}

}  // namespace
}  // namespace kt::test
