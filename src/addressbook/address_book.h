#pragma once
// The address book as the windows of a thread share it: the store read once
// and watched, read again only after something changed it, so that the
// picker and the suggestions while typing show the same entries and no
// keystroke reads the registry.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "settings/modRegFunctions.h"

namespace kt {

// An entry as a suggestion shows it, with the text the picker puts in a field for it.
struct BookEntry {
    std::wstring name;
    std::wstring address;
    std::wstring record;  // the address, a comma and the name
};

class AddressBook {
public:
    // The store as it is now: what was read last, unless the store changed
    // since; nullptr when its key cannot be read.
    const RegSnapshot* snapshot();

    // The entries whose name has a word that starts with `typed`, or whose
    // address does, in any case as the system compares them; at most `most`,
    // in the picker's order. As the picker's load, the entries end at the
    // first value that is no record. Reads the store only when its change
    // notification fired since it was read.
    std::vector<BookEntry> suggestionsFor(const std::wstring& typed, std::size_t most);
    // Reads the store again unless it is known unchanged, for a moment
    // before the typing: a large book then costs no keystroke its reading.
    void refresh();

private:
    void read();
    void sort();

    std::optional<RegSnapshot> snapshot_;
    bool readOnce_ = false;
    std::vector<BookEntry> sorted_;  // the snapshot's entries in the picker's order
    bool sortedIsCurrent_ = false;
};

}  // namespace kt
