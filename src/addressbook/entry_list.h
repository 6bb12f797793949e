#pragma once
// The picker's in-memory address book: AddressBookEntry records in the order
// they were read and added. The list always holds at least one slot: the
// empty book is one entry with empty Name and Record.

#include <optional>
#include <string>
#include <vector>

#include "settings/value_rewrite.h"

namespace kt {

struct AddressBookEntry {
    std::wstring Name;    // the display name, also the entry's row text
    std::wstring Record;  // the address, a comma and the name
    // What the store holds for the entry, exactly: string data that may go on
    // after a second comma, or hold text the picker never changes.
    std::vector<unsigned char> stored;
    unsigned id = 0;  // ties a row of the picker's list to its own entry
};

// The value type the store keeps records in (REG_SZ).
constexpr unsigned long kStringValueType = 1;

class EntryList {
public:
    EntryList() { reset(); }

    // Back to the empty book.
    void reset();
    bool isEmptyBook() const;
    // Fills the empty book's slot, or appends; returns the entry's id.
    unsigned add(const std::wstring& name, const std::wstring& record, std::vector<unsigned char> stored);
    // Index of the entry with this id.
    std::optional<std::size_t> findById(unsigned id) const;
    // Removes an entry; the list becomes the empty book when it was the only one.
    void removeAt(std::size_t index);

    const std::vector<AddressBookEntry>& entries() const { return entries_; }

    // What the store holds once the entry at `index` is deleted: every other
    // entry's value in the list's order, then, unchanged and in the store's
    // order, every stored value that is no entry's (one the load could not
    // read or did not reach). Their names are left to the rewrite. Nothing
    // when the store does not hold the entry (another program changed it).
    std::optional<std::vector<RegValue>> valuesWithout(std::size_t index, const std::vector<RegValue>& stored) const;

    // The address of an entry: its record before the first comma.
    static std::wstring addressOf(const AddressBookEntry& entry);

private:
    std::vector<AddressBookEntry> entries_;
    unsigned lastId_ = 0;
};

}  // namespace kt
