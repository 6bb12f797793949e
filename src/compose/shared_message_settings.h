#pragma once
// What all instances and windows on one thread share: the text of the
// information label for the next window, whether a delivery is under way,
// the access tokens of providers' sign-ins, and the address book as read. One set exists for each
// thread that uses the component.

#include <memory>
#include <string>

#include "addressbook/address_book.h"
#include "delivery/oauth/access_tokens.h"

namespace kt {

struct SharedMessageSettings {
    std::wstring g_sInfoLabel;
    // A window's delivery lets the thread's messages through while it waits;
    // another window's Send must not start a delivery inside it.
    bool deliveryUnderway = false;
    // Providers' access tokens, kept in memory for later sends until they expire.
    std::shared_ptr<AccessTokens> accessTokens = std::make_shared<AccessTokens>();
    // The address book as the pickers and the suggestions while typing read it.
    std::shared_ptr<AddressBook> addressBook = std::make_shared<AddressBook>();

    // The set of the calling thread.
    static SharedMessageSettings& forThisThread();
};

}  // namespace kt
