#pragma once
// The address book as the windows of a thread share it: the store read once
// and watched, read again only after something changed it, so that the
// picker and the suggestions while typing show the same entries and no
// keystroke reads the registry.

#include <windows.h>

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/handles.h"
#include "settings/modRegFunctions.h"

namespace kt {

// An entry as a suggestion shows it, with the text the picker puts in a field for it.
struct BookEntry {
    std::wstring name;
    std::wstring address;
    std::wstring record;  // the address, a comma and the name
};

class AddressBook {
    struct Watchers;

public:
    // While it lives, a window is posted a message when the store changes,
    // to have it read again then (prepare()) rather than at a keystroke.
    class ChangeSubscription {
    public:
        ChangeSubscription(AddressBook& book, HWND window, UINT message);
        ChangeSubscription(const ChangeSubscription&) = delete;
        ChangeSubscription& operator=(const ChangeSubscription&) = delete;
        ~ChangeSubscription();

    private:
        AddressBook& book_;
        HWND window_;
    };

    // The store as it is now: what was read last, unless the store changed
    // since; nullptr when its key cannot be read.
    const RegSnapshot* snapshot();

    // The entries whose name has a word that starts with `typed`, or whose
    // address does, in any case as the system compares them; at most `most`,
    // in the picker's order. As the picker's load, the entries end at the
    // first value that is no record. Never reads the store: what was read last.
    std::vector<BookEntry> suggestionsFor(const std::wstring& typed, std::size_t most);
    // When a field takes the focus, and when a change is told: reads the
    // store the first time, after a change (unless another window of the
    // thread read it first), and where no notification would tell of one.
    // A large book then costs no keystroke its reading.
    void prepare();

private:
    // The windows to tell of a change, shared with the thread that waits for it.
    struct Watchers {
        std::mutex lock;
        std::vector<std::pair<HWND, UINT>> windows;
    };
    static void CALLBACK tell(void* watchers, BOOLEAN timedOut);
    void read();
    void sort();
    void waitForChange();

    HANDLE changeEvent() const;

    Watchers watchers_;
    std::optional<RegSnapshot> snapshot_;
    std::optional<RegAbsenceWatch> absence_;  // while the store cannot be read
    bool readOnce_ = false;
    UniqueWait changeWait_;  // ends before the events it waits for are closed
    std::vector<BookEntry> sorted_;  // the snapshot's entries in the picker's order
    bool sortedIsCurrent_ = false;
};

}  // namespace kt
