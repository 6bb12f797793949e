#include "addressbook/entry_list.h"

#include <deque>
#include <unordered_map>

namespace kt {
namespace {

std::string asKey(const std::vector<unsigned char>& data) { return {data.begin(), data.end()}; }

}  // namespace

void EntryList::reset() { entries_.assign(1, AddressBookEntry{}); }

bool EntryList::isEmptyBook() const {
    return entries_.size() == 1 && entries_[0].Name.empty() && entries_[0].Record.empty();
}

unsigned EntryList::add(const std::wstring& name, const std::wstring& record, std::vector<unsigned char> stored) {
    AddressBookEntry entry{name, record, std::move(stored), ++lastId_};
    if (isEmptyBook())
        entries_[0] = std::move(entry);
    else
        entries_.push_back(std::move(entry));
    return lastId_;
}

std::optional<std::size_t> EntryList::findById(unsigned id) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].id == id) return i;
    return std::nullopt;
}

void EntryList::removeAt(std::size_t index) {
    if (entries_.size() == 1)
        reset();
    else
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::optional<std::vector<RegValue>> EntryList::valuesWithout(std::size_t index,
                                                              const std::vector<RegValue>& stored) const {
    // The stored string values by content, each content's values in the store's order.
    std::unordered_map<std::string, std::deque<std::size_t>> byContent;
    for (std::size_t j = 0; j < stored.size(); ++j)
        if (stored[j].type == kStringValueType) byContent[asKey(stored[j].data)].push_back(j);

    // Each entry claims the first unclaimed stored value that holds it; the
    // deleted one first, so that another entry of the same text cannot take
    // the one value left of it.
    std::vector<bool> claimed(stored.size());
    const auto claim = [&](std::size_t i) {
        const auto holding = byContent.find(asKey(entries_[i].stored));
        if (holding == byContent.end() || holding->second.empty()) return false;
        claimed[holding->second.front()] = true;
        holding->second.pop_front();
        return true;
    };
    if (isEmptyBook() || !claim(index)) return std::nullopt;
    std::vector<RegValue> values;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i == index) continue;
        claim(i);
        values.push_back({L"", kStringValueType, entries_[i].stored});
    }
    for (std::size_t j = 0; j < stored.size(); ++j)
        if (!claimed[j]) values.push_back(stored[j]);
    return values;
}

std::wstring EntryList::addressOf(const AddressBookEntry& entry) {
    return entry.Record.substr(0, entry.Record.find(L','));
}

}  // namespace kt
