#include "addressbook/frmAddressPicker.h"

#include "addressbook/address_book_store.h"
#include "addressbook/frmAddressPicker_resources.h"
#include "foundation/message_box.h"
#include "foundation/address_and_name.h"
#include "foundation/component_error.h"
#include "settings/error_with_time.h"

namespace kt {
namespace {

constexpr FontDesign kSansSerif78{L"MS Sans Serif", 7.8f, 400};

const ControlDesign kDesign[] = {
    {L"List1", ControlKind::ListBox, L"", nullptr, {120, 480, 4452, 1776}},
    {L"Frame1", ControlKind::Frame, L"Enter New Address in List", nullptr, {120, 2760, 4452, 1332}},
    {L"tbName", ControlKind::TextField, L"", nullptr, {960, 240, 3372, 288}, {}, frmAddressPicker::kFrame1},
    {L"tbAddress", ControlKind::TextField, L"", nullptr, {960, 600, 3372, 288}, {}, frmAddressPicker::kFrame1},
    {L"Label1", ControlKind::Label, L"Name:", nullptr, {120, 240, 732, 252}, {}, frmAddressPicker::kFrame1},
    {L"Label2", ControlKind::Label, L"E-Mail:", nullptr, {120, 600, 732, 252}, {}, frmAddressPicker::kFrame1},
    {L"KT_CB_AddName", ControlKind::PushButton, L"Add", nullptr, {3240, 960, 1092, 252}, kSansSerif78,
     frmAddressPicker::kFrame1},
    {L"KT_CB_OK", ControlKind::PushButton, L"OK", nullptr, {3360, 4320, 1092, 252}, kSansSerif78},
    {L"KT_CB_Cancel", ControlKind::PushButton, L"Cancel", nullptr, {2160, 4320, 1092, 252}, kSansSerif78},
    {L"lbInfo", ControlKind::Label, L"", nullptr, {120, 2280, 4452, 252}},
    {L"Label3", ControlKind::Label,
     L"Select multiple addresses by using the <shift> or <CTRL> Keys.  To Delete, Right-Click.", nullptr,
     {120, 60, 4452, 372}},
};

const FormDesign kForm{L"Ardwyn Address Picker", 4644, 4632, IDI_ADDRESS_PICKER, false, kDesign, std::size(kDesign)};

void showCritical(const std::wstring& text) { showMessageBox(text, L"Error", MB_OK | MB_ICONERROR); }

}  // namespace

frmAddressPicker::frmAddressPicker(std::shared_ptr<AddressBook> book) : Form(kForm), book_(std::move(book)) {
    // A menu bar that is never shown, holding the pop-up "Delete Menu".
    mnuDelete_.reset(CreateMenu());
    const HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, mnuDeleteEmail, L"Delete this EMail Address");
    AppendMenuW(mnuDelete_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"Delete Menu");
}

void frmAddressPicker::Form_Load() {
    subscriptions_.push_back(List1().Click.subscribe([this] { List1_Click(); }));
    subscriptions_.push_back(List1().DblClick.subscribe([this] { List1_DblClick(); }));
    subscriptions_.push_back(List1().MouseDown.subscribe([this](MouseButton b) { List1_MouseDown(b); }));
    subscriptions_.push_back(KT_CB_OK().Click.subscribe([this] { KT_CB_OK_Click(); }));
    subscriptions_.push_back(KT_CB_Cancel().Click.subscribe([this] { KT_CB_Cancel_Click(); }));
    subscriptions_.push_back(KT_CB_AddName().Click.subscribe([this] { KT_CB_AddName_Click(); }));

    // The address book, from the store; a value that is no record ends the
    // load, and the rows read before it are shown all the same.
    entries_.reset();
    std::vector<std::pair<std::wstring, unsigned>> rows;
    std::optional<ComponentError> failure;
    const RegSnapshot* book = book_->snapshot();
    const std::vector<RegValue> none;
    try {
        for (const RegValue& value : book ? book->values() : none) {
            const auto text = recordTextOf(value);
            const auto record = text ? splitAddressAndName(*text) : std::nullopt;
            if (!record) throw subscriptOutOfRangeError();
            rows.emplace_back(record->name,
                              entries_.add(record->name, record->address + L"," + record->name, value.data));
        }
    } catch (...) {
        failure = currentError();
    }
    try {
        List1().AddItems(rows);
    } catch (...) {
        failure = currentError();
    }
    if (failure) ShowErrorWithTime(failureReport(L"Error in Email Address Form Load Function.", *failure));
}

void frmAddressPicker::onMenuCommand(WORD command) {
    if (command == mnuDeleteEmail) mnuDeleteEmail_Click();
}

const AddressBookEntry* frmAddressPicker::entryOfRow(int row) const {
    const auto index = entries_.findById(List1().ItemData(row));
    return index ? &entries_.entries()[*index] : nullptr;
}

void frmAddressPicker::List1_Click() {
    const int row = List1().ListIndex();
    if (row < 0 || List1().List(row).empty()) {
        lbInfo().Text(L"");
        return;
    }
    if (const AddressBookEntry* entry = entryOfRow(row)) lbInfo().Text(entry->Record);
}

void frmAddressPicker::List1_DblClick() { KT_CB_OK_Click(); }

void frmAddressPicker::List1_MouseDown(MouseButton button) {
    if (button != MouseButton::Right || List1().ListIndex() < 0) return;
    POINT pointer{};
    GetCursorPos(&pointer);
    TrackPopupMenu(mnuDelete(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pointer.x, pointer.y, 0, hwnd(), nullptr);
}

void frmAddressPicker::KT_CB_OK_Click() {
    if (List1().SelCount() < 1) {
        showMessageBox(L"No Addresses Have been Selected", L"Error", MB_OK | MB_ICONINFORMATION);
        return;
    }
    // Each selected row stands for its own entry, in the list's order.
    std::wstring list;
    for (int row = 0; row < List1().ListCount(); ++row) {
        if (!List1().Selected(row)) continue;
        if (const AddressBookEntry* entry = entryOfRow(row)) list += (list.empty() ? L"" : L";") + entry->Record;
    }
    AddressList.raise(list);
}

void frmAddressPicker::KT_CB_Cancel_Click() { Unload(); }

void frmAddressPicker::KT_CB_AddName_Click() {
    int mark = 0;
    try {
        mark = 100;
        const std::wstring name = tbName().Text();
        const std::wstring address = tbAddress().Text();
        if (address.empty() || name.empty()) {
            showMessageBox(L"Please Fill in both the Address Field and the Name field.", L"Error!",
                           MB_OK | MB_ICONINFORMATION);
            return;
        }
        // The record would not read back: ";" ends an entry of a recipient list, "," its address.
        if ((name + address).find_first_of(L";,") != std::wstring::npos) {
            showMessageBox(L"The name and the address cannot hold a semicolon (;) or a comma (,): in a list of "
                           L"recipients they end an entry and its address.",
                           L"Error!", MB_OK | MB_ICONINFORMATION);
            return;
        }
        for (const auto& entry : entries_.entries()) {
            mark = 106;
            if (entry.Name == name || EntryList::addressOf(entry) == address) {
                showMessageBox(L"An entry is already on the list with that Name or E-Mail Address", kComponentName,
                               MB_OK);
                return;
            }
        }
        mark = 110;
        const std::wstring record = address + L"," + name;
        if (record.size() > kLongestTextByPosition) {
            showMessageBox(L"The address and the name are too long for the address book: together they may have " +
                               std::to_wstring(kLongestTextByPosition - 1) + L" characters at most.",
                           L"Error!", MB_OK | MB_ICONINFORMATION);
            return;
        }
        mark = 115;
        const RegSnapshot* book = book_->snapshot();
        const std::wstring valueName = book ? newValueName(book->values()) : L"0";
        mark = 120;
        if (!storeRecord(valueName, record)) {
            // Nothing is shown that the book does not hold; the fields keep what was typed.
            showCritical(L"Error in Email Address AddName Function. " + record +
                         L" could not be stored in the address book: the registry did not take it. The name and "
                         L"the address stay in their fields.");
            return;
        }
        mark = 125;
        const unsigned id = entries_.add(name, record, stringData(record));
        mark = 136;
        List1().ItemData(List1().AddItem(name), id);
        mark = 140;
        tbName().Text(L"");
        tbAddress().Text(L"");
        List1().SetFocus();
    } catch (...) {
        ShowErrorWithTime(
            failureReport(L"Error in Email Address AddName Function.", currentError(), StepMark{L"Debug Code: ", mark}));
    }
}

void frmAddressPicker::mnuDeleteEmail_Click() {
    const int currentRow = List1().ListIndex();
    if (currentRow < 0) return;
    const std::wstring name = List1().List(currentRow);
    if (showMessageBox(L"Delete " + name + L"?", L"Delete from E-Mail Address list", MB_YESNO) != IDYES) return;

    const auto count = storedValueCount();
    if (!count) return;
    if (*count == 0) {
        showCritical(L"Error in Delete E-Mail Address, No Registry Entries found to Delete??? " + name + L" in list???");
        return;
    }

    const auto index = entries_.findById(List1().ItemData(currentRow));
    if (!index) {
        showCritical(L"Error in Delete E-Mail Address, could not locate " + name + L" in list???");
        return;
    }
    if (deleteEntry(*index)) List1().RemoveItem(currentRow);
}

bool frmAddressPicker::deleteEntry(std::size_t index) {
    // The store is renumbered densely; what it holds besides the entry stays,
    // values the load could not read included.
    const RegSnapshot* book = book_->snapshot();
    if (!book) {
        showCritical(L"Error in Delete E-Mail Address, could not Get Reg Item Info in cleanup area.");
        return false;
    }
    const auto remaining = entries_.valuesWithout(index, book->values());
    if (!remaining) {
        showCritical(L"Error in Delete E-Mail Address, " + entries_.entries()[index].Record +
                     L" is no longer in the address book: another program changed it since the list was read. "
                     L"Nothing was deleted.");
        return false;
    }
    entries_.removeAt(index);
    RewriteFailures failures;
    try {
        failures = rewriteStore(book->values(), *remaining);
    } catch (const ComponentError&) {
        failures.removals = 1;
    }
    if (failures.removals > 0)
        showCritical(L"Error in Delete E-Mail Address, could not remove registry key in cleanup area.");
    if (failures.writes > 0)
        showCritical(L"Error in Delete E-Mail Address, could not add registry key in cleanup area.");
    return true;
}

}  // namespace kt
