#pragma once
// The picker's in-memory address book: AddressBookEntry records in the order
// they were read and added. The list always holds at least one slot: the
// empty book is one entry with empty Name and Record.

#include <optional>
#include <string>
#include <vector>

namespace kt {

struct AddressBookEntry {
    std::wstring Name;    // the display name, also the entry's row text
    std::wstring Record;  // the address, a comma and the name
};

// A stored record text split at its commas: the address and the name; parts
// after the second are dropped. Empty when there is no name part.
struct StoredRecord {
    std::wstring address;
    std::wstring name;
};
std::optional<StoredRecord> splitStoredRecord(const std::wstring& text);

class EntryList {
public:
    EntryList() { reset(); }

    // Back to the empty book.
    void reset();
    bool isEmptyBook() const;
    // Fills the empty book's slot, or appends.
    void add(const std::wstring& name, const std::wstring& record);
    // Index of the first entry with exactly this name.
    std::optional<std::size_t> findByName(const std::wstring& name) const;
    // Removes an entry; the list becomes the empty book when it was the only one.
    void removeAt(std::size_t index);

    const std::vector<AddressBookEntry>& entries() const { return entries_; }

    // The address of an entry: its record before the first comma.
    static std::wstring addressOf(const AddressBookEntry& entry);

private:
    std::vector<AddressBookEntry> entries_;
};

}  // namespace kt
