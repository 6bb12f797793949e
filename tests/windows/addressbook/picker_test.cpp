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
using Values = std::map<std::string, std::string>;
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

TEST_F(PickerTest, FirstAdditionCreatesTheKeyAndValueZero) {
    auto picker = open();
    EXPECT_TRUE(rows(*picker).empty());
    EXPECT_TRUE(picker->entries().isEmptyBook());
    EXPECT_FALSE(keyExists());

    add(*picker, L"Ann Lee", L"ann@example.com");
    EXPECT_EQ(stored(), (Values{{"0", "ann@example.com,Ann Lee"}}));
    EXPECT_EQ(rows(*picker), (Rows{L"Ann Lee"}));
    EXPECT_EQ(picker->tbName().Text(), L"");
    EXPECT_EQ(picker->tbAddress().Text(), L"");
    EXPECT_EQ(GetFocus(), picker->List1().hwnd());
    EXPECT_TRUE(messageBoxes.shown.empty());
}

TEST_F(PickerTest, AdditionAfterThreeLoadedEntriesIsValueThree) {
    seed({"a@x.com,Ann", "b@x.com,Bob", "c@x.com,Cy"});
    auto picker = open();
    add(*picker, L"Dee", L"d@x.com");
    EXPECT_EQ(stored().at("3"), "d@x.com,Dee");
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Bob", L"Cy", L"Dee"}));
}

TEST_F(PickerTest, AdditionRefusesDuplicatesAndEmptyFieldsExactly) {
    seed({"ann@x.com,Ann"});
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

    messageBoxes.shown.clear();
    add(*picker, L"ann", L"ANN@x.com");  // letter case and blanks make other names and addresses
    add(*picker, L" Ann", L"ann@x.com ");
    EXPECT_TRUE(messageBoxes.shown.empty());
    EXPECT_EQ(stored().size(), 3u);
}

TEST_F(PickerTest, CommasInStoredRecordsCutTheNameAtLoad) {
    seed({"ann@x.com,Lee, Ann", "a,b@x.com,Bob"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"b@x.com", L"Lee"}));
    EXPECT_EQ(picker->entries().entries()[0].Record, L"ann@x.com,Lee");
    EXPECT_EQ(picker->entries().entries()[1].Record, L"a,b@x.com");
}

TEST_F(PickerTest, UnreadableValueEndsTheLoadWithTheReport) {
    seed({"a@x.com,Ann", "b@x.com," + std::string(250, 'B'), "c@x.com,Cy"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann"}));
    EXPECT_EQ(lastErrorWithTime(),
              L"Error in Email Address Form Load Function.\r\nError Number: 9\r\nSubscript out of range");
    EXPECT_TRUE(IsWindowVisible(picker->hwnd()));
}

TEST_F(PickerTest, AdditionAfterAGapInTheNumberingOverwritesNothing) {
    seed({"a@x.com,Ann"});
    setValue("2", REG_SZ, "c@x.com,Cy", 11);  // "1" is missing: two values, and "2" is taken
    auto picker = open();
    add(*picker, L"Dee", L"d@x.com");
    EXPECT_EQ(stored(), (Values{{"0", "a@x.com,Ann"}, {"2", "c@x.com,Cy"}, {"3", "d@x.com,Dee"}}));
}

TEST_F(PickerTest, RowsAreSortedAndAClickShowsTheRecord) {
    seed({"cy@x.com,Cy", "ann@x.com,Ann", "bob@x.com,Bob"});
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Bob", L"Cy"}));
    EXPECT_EQ(picker->lbInfo().Text(), L"");
    clickRow(*picker, 1);
    EXPECT_EQ(picker->lbInfo().Text(), L"bob@x.com,Bob");
}

TEST_F(PickerTest, OkAndDoubleClickReturnTheSelectedRecordsInDisplayOrder) {
    seed({"cy@x.com,Cy", "ann@x.com,Ann", "bob@x.com,Bob"});
    auto picker = open();
    clickRow(*picker, rowOf(*picker, L"Cy"));
    clickRow(*picker, rowOf(*picker, L"Ann"), true);
    SendMessageW(picker->KT_CB_OK().hwnd(), BM_CLICK, 0, 0);
    // A double click: its first click chooses the row, the second confirms what is selected.
    clickRow(*picker, rowOf(*picker, L"Bob"));
    clickRow(*picker, rowOf(*picker, L"Bob"), false, WM_LBUTTONDBLCLK);
    EXPECT_EQ(raised, (std::vector<std::wstring>{L"ann@x.com,Ann;cy@x.com,Cy", L"bob@x.com,Bob"}));
    EXPECT_TRUE(IsWindow(picker->hwnd()));  // its opener closes it
}

TEST_F(PickerTest, RowOfANameStoredTwiceReturnsBothRecords) {
    seed({"a@x.com,Ann", "b@x.com,Ann"});
    auto picker = open();
    clickRow(*picker, 0);
    EXPECT_EQ(picker->lbInfo().Text(), L"a@x.com,Ann");
    SendMessageW(picker->KT_CB_OK().hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(raised, (std::vector<std::wstring>{L"a@x.com,Ann;b@x.com,Ann"}));
}

TEST_F(PickerTest, OkWithNothingSelectedAndCancelRaiseNothing) {
    seed({"a@x.com,Ann"});
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
    seed({"a@x.com,Ann"});
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
    EXPECT_EQ(picker->mnuDeleteCaption(), L"Delete Menu");
}

TEST_F(PickerTest, DeletionRewritesTheStoreDenselyInEntryOrder) {
    const struct {
        const wchar_t* deleted;
        Values left;
        Rows rows;
    } cases[] = {
        {L"B", {{"0", "a@x.com,A"}, {"1", "c@x.com,C"}, {"2", "d@x.com,D"}}, {L"A", L"C", L"D"}},
        {L"C", {{"0", "a@x.com,A"}, {"1", "b@x.com,B"}, {"2", "d@x.com,D"}}, {L"A", L"B", L"D"}},
        {L"D", {{"0", "a@x.com,A"}, {"1", "b@x.com,B"}, {"2", "c@x.com,C"}}, {L"A", L"B", L"C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deleted);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Veltrano\\Ardwyn\\E_MailList");
        seed({"a@x.com,A", "b@x.com,B", "c@x.com,C", "d@x.com,D"});
        messageBoxes.shown.clear();
        auto picker = open();
        clickRow(*picker, rowOf(*picker, c.deleted));
        deleteCurrentRow(*picker);
        EXPECT_EQ(stored(), c.left);
        EXPECT_EQ(rows(*picker), c.rows);
        ASSERT_EQ(messageBoxes.shown.size(), 1u);
        EXPECT_EQ(messageBoxes.shown[0].text, std::wstring(L"Delete ") + c.deleted + L"?");
        EXPECT_EQ(messageBoxes.shown[0].title, L"Delete from E-Mail Address list");
        EXPECT_EQ(messageBoxes.shown[0].style, static_cast<UINT>(MB_YESNO));
        picker->Unload();
    }
}

TEST_F(PickerTest, DeletingTheOnlyEntryLeavesAnEmptyKeyAndTheNextAdditionIsZero) {
    seed({"a@x.com,Ann"});
    auto picker = open();
    clickRow(*picker, 0);
    deleteCurrentRow(*picker);
    EXPECT_TRUE(keyExists());
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(rows(*picker).empty());
    EXPECT_TRUE(picker->entries().isEmptyBook());
    add(*picker, L"Bob", L"b@x.com");
    EXPECT_EQ(stored(), (Values{{"0", "b@x.com,Bob"}}));
}

TEST_F(PickerTest, AnsweringNoChangesNothing) {
    seed({"a@x.com,Ann", "b@x.com,Bob"});
    auto picker = open();
    clickRow(*picker, 0);
    deleteCurrentRow(*picker, IDNO);
    EXPECT_EQ(stored().size(), 2u);
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Bob"}));
}

TEST_F(PickerTest, NameStoredTwiceLosesOnlyItsFirstEntry) {
    seed({"a@x.com,Ann", "b@x.com,Ann", "c@x.com,Cy"});
    auto picker = open();
    clickRow(*picker, 0);
    deleteCurrentRow(*picker);
    EXPECT_EQ(stored(), (Values{{"0", "b@x.com,Ann"}, {"1", "c@x.com,Cy"}}));
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Cy"}));
}

TEST_F(PickerTest, ValueThatCannotBeRemovedEndsThePassAndKeepsTheEntries) {
    seed({"a@x.com,Ann", "b@x.com,Bob"});
    const DWORD number = 7;
    setValue("x", REG_DWORD, &number, sizeof number);  // read after the two records; not a record
    auto picker = open();
    EXPECT_EQ(rows(*picker), (Rows{L"Ann", L"Bob"}));
    messageBoxes.shown.clear();
    clickRow(*picker, 0);
    deleteCurrentRow(*picker);
    EXPECT_EQ(boxTexts(), (std::vector<std::wstring>{
                              L"Delete Ann?",
                              L"Error in Delete E-Mail Address, could not remove registry key in cleanup area."}));
    EXPECT_EQ(messageBoxes.shown[1].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(stored(), (Values{{"0", "b@x.com,Bob"}, {"x", "<type 4>"}}));
    EXPECT_EQ(rows(*picker), (Rows{L"Bob"}));
}

TEST_F(PickerTest, DeletingARowWhoseEntryIsGoneLeavesTheStoreAlone) {
    seed({"a@x.com,Ann"});
    auto picker = open();
    SendMessageW(picker->List1().hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Zed"));
    clickRow(*picker, rowOf(*picker, L"Zed"));
    deleteCurrentRow(*picker);
    EXPECT_EQ(boxTexts().back(), L"Error in Delete E-Mail Address, could not locate Zed in list???");
    EXPECT_EQ(stored(), (Values{{"0", "a@x.com,Ann"}}));
    EXPECT_EQ(rows(*picker), (Rows{L"Ann"}));
}

}  // namespace
}  // namespace kt::test
