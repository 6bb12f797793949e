#pragma once
// Suggestions from the address book while the user types in To, cc or Bcc:
// a drop-down under the field with the entries that match the recipient
// being typed (at most 10, in the picker's order, each with its name and
// address). Down and Up move, Enter, Tab or a click accept, Escape closes
// it and leaves the text alone; it follows the window, and closes when the
// field loses the focus or the window is no longer the active one.
//
// A list of our own: the system's autocomplete completes a field's whole
// text, where a recipient field holds many recipients.

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

#include "addressbook/address_book.h"
#include "controls/form_control.h"

namespace kt {

class RecipientSuggestions {
public:
    static constexpr std::size_t kMostSuggestions = 10;

    RecipientSuggestions(HWND window, std::shared_ptr<AddressBook> book);
    RecipientSuggestions(const RecipientSuggestions&) = delete;
    RecipientSuggestions& operator=(const RecipientSuggestions&) = delete;
    ~RecipientSuggestions();

    // A field to suggest for; its keys pass through here while it lives.
    // The book is watched for changes, and read, once the window has been
    // painted, or when a field takes the focus or a letter is typed before.
    void watch(const FormControl& field);
    // The field's text changed: what it holds now is suggested for, when
    // the user typed it there.
    void fieldChanged(const FormControl& field);
    // The window moved or changed its size.
    void place();
    void close();

private:
    static LRESULT CALLBACK fieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR self);
    static LRESULT CALLBACK listProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR self);
    bool isOpen() const { return field_ != nullptr; }
    void watchTheBook();
    // A key for the open list; false when it is not one of its keys.
    bool fieldKey(UINT message, WPARAM key);
    // Suggestions for the recipient the caret is in, if it is the one being typed.
    void suggestFor(HWND field);
    // The open list as the book now has it, the entry chosen in it kept where it still is.
    void suggestAgain();
    void show(HWND field, std::vector<BookEntry> entries);
    void move(int rows);
    void accept(int row);

    HWND window_;
    std::shared_ptr<AddressBook> book_;
    std::optional<AddressBook::ChangeSubscription> bookChanges_;  // told to the first field, once watched
    std::vector<HWND> fields_;
    HWND list_ = nullptr;   // the drop-down: a list box owned by the window, made on first use
    HWND field_ = nullptr;  // the field it is open for
    std::vector<BookEntry> shown_;
    POINT mouse_{};  // where the pointer was when the list last saw it
    bool accepting_ = false;  // the field changes because a suggestion was accepted
};

}  // namespace kt
