#include "compose/recipient_typing.h"

namespace kt {

TypedRecipient typedRecipient(const std::wstring& field) {
    const std::size_t separator = field.rfind(L';');
    const std::size_t after = separator == std::wstring::npos ? 0 : separator + 1;
    const std::size_t first = field.find_first_not_of(L' ', after);
    if (first == std::wstring::npos) return {field.size(), {}};
    return {first, field.substr(first, field.find_last_not_of(L' ') + 1 - first)};
}

std::wstring withRecipientAccepted(const std::wstring& field, const std::wstring& record) {
    return field.substr(0, typedRecipient(field).start) + record + L"; ";
}

std::wstring withRecipientsAdded(const std::wstring& field, const std::wstring& entries) {
    return field.empty() ? entries : field + L";" + entries;
}

}  // namespace kt
