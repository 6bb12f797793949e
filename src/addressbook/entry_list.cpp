#include "addressbook/entry_list.h"

namespace kt {

std::optional<StoredRecord> splitStoredRecord(const std::wstring& text) {
    const auto first = text.find(L',');
    if (first == std::wstring::npos) return std::nullopt;
    const auto second = text.find(L',', first + 1);
    return StoredRecord{text.substr(0, first),
                        text.substr(first + 1, second == std::wstring::npos ? std::wstring::npos : second - first - 1)};
}

void EntryList::reset() { entries_.assign(1, AddressBookEntry{}); }

bool EntryList::isEmptyBook() const {
    return entries_.size() == 1 && entries_[0].Name.empty() && entries_[0].Record.empty();
}

void EntryList::add(const std::wstring& name, const std::wstring& record) {
    if (isEmptyBook())
        entries_[0] = {name, record};
    else
        entries_.push_back({name, record});
}

std::optional<std::size_t> EntryList::findByName(const std::wstring& name) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].Name == name) return i;
    return std::nullopt;
}

void EntryList::removeAt(std::size_t index) {
    if (entries_.size() == 1)
        reset();
    else
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::wstring EntryList::addressOf(const AddressBookEntry& entry) {
    return entry.Record.substr(0, entry.Record.find(L','));
}

}  // namespace kt
