#pragma once
// The recipient being typed in a recipient field (the text after its last
// ";", blanks around it left out), the field once a suggestion for it is
// accepted, and the field with the picker's entries added.

#include <cstddef>
#include <string>

namespace kt {

struct TypedRecipient {
    std::size_t start = 0;  // where it starts in the field: after the blanks that follow the ";"
    std::wstring text;
};

TypedRecipient typedRecipient(const std::wstring& field);

// The field with the recipient being typed replaced by `record` and "; ",
// everything before it as it was.
std::wstring withRecipientAccepted(const std::wstring& field, const std::wstring& record);

// The field with the picker's entries after what it holds, joined by ";"
// (a field of blanks alone holds something).
std::wstring withRecipientsAdded(const std::wstring& field, const std::wstring& entries);

}  // namespace kt
