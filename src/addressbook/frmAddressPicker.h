#pragma once
// frmAddressPicker: the address book's names in a sorted list, the record of
// the current row, adding and deleting entries, and the chosen entries handed
// back through AddressList as one recipient list. Its opener closes it.

#include <optional>
#include <string>
#include <vector>

#include "addressbook/address_book.h"
#include "addressbook/entry_list.h"
#include "controls/event.h"
#include "controls/form.h"
#include "controls/list_box.h"
#include "controls/push_button.h"
#include "foundation/handles.h"
#include "settings/modRegFunctions.h"

namespace kt {

class frmAddressPicker : public Form {
public:
    // Shows `book`, the snapshot the thread's windows share.
    explicit frmAddressPicker(std::shared_ptr<AddressBook> book);

    // The chosen records joined by ";".
    Event<const std::wstring&> AddressList;

    ListBox& List1() const { return control<ListBox>(kList1); }
    FormControl& lbInfo() const { return control(kLbInfo); }
    FormControl& Frame1() const { return control(kFrame1); }
    FormControl& tbName() const { return control(kTbName); }
    FormControl& tbAddress() const { return control(kTbAddress); }
    KT_CB& KT_CB_AddName() const { return control<KT_CB>(kKT_CB_AddName); }
    KT_CB& KT_CB_OK() const { return control<KT_CB>(kKT_CB_OK); }
    KT_CB& KT_CB_Cancel() const { return control<KT_CB>(kKT_CB_Cancel); }

    const EntryList& entries() const { return entries_; }
    // The pop-up menu mnuDelete ("Delete Menu") with its one item.
    HMENU mnuDelete() const { return GetSubMenu(mnuDelete_.get(), 0); }
    // Apart from IDOK and IDCANCEL, which Enter and Escape send as dialog keys.
    static constexpr WORD mnuDeleteEmail = 200;

    // Rows of the design table, in tab order.
    enum Row : std::size_t {
        kList1, kFrame1, kTbName, kTbAddress, kLabel1, kLabel2, kKT_CB_AddName, kKT_CB_OK, kKT_CB_Cancel,
        kLbInfo, kLabel3,
    };

private:
    const wchar_t* handlerName() const override { return L"frmAddressPicker"; }

    void Form_Load() override;
    void onMenuCommand(WORD command) override;
    void List1_Click();
    void List1_DblClick();
    void List1_MouseDown(MouseButton button);
    void KT_CB_OK_Click();
    void KT_CB_Cancel_Click();
    void KT_CB_AddName_Click();
    void mnuDeleteEmail_Click();
    // Deletes an entry from the list and the store; false when the store
    // could not be read and nothing changed.
    bool deleteEntry(std::size_t index);
    // The entry a row stands for; nullptr when it has none.
    const AddressBookEntry* entryOfRow(int row) const;

    EntryList entries_;
    std::shared_ptr<AddressBook> book_;
    UniqueMenu mnuDelete_;
    std::vector<Subscription> subscriptions_;
};

}  // namespace kt
