#include "addressbook/address_book.h"

#include <windows.h>

#include <algorithm>

#include "addressbook/address_book_store.h"
#include "foundation/address_and_name.h"
#include "foundation/locale_order.h"

namespace kt {
namespace {

// Whether `text` starts with `start`, in any case: the system's own
// comparison, so that "ł" meets "Ł" and "м" meets "М".
bool startsWithInAnyCase(const std::wstring& text, std::size_t from, const std::wstring& start) {
    if (text.size() - from < start.size()) return false;
    return CompareStringOrdinal(text.data() + from, static_cast<int>(start.size()), start.data(),
                                static_cast<int>(start.size()), TRUE) == CSTR_EQUAL;
}

// A word starts after anything but a letter or digit: "Jean-Luc" has "Luc".
bool hasWordStartingWith(const std::wstring& name, const std::wstring& start) {
    for (std::size_t word = 0; word < name.size(); ++word) {
        const bool atWordStart = word == 0 || !IsCharAlphaNumericW(name[word - 1]);
        if (atWordStart && name[word] != L' ' && startsWithInAnyCase(name, word, start)) return true;
    }
    return false;
}

}  // namespace

AddressBook::ChangeSubscription::ChangeSubscription(AddressBook& book, HWND window, UINT message)
    : book_(book), window_(window) {
    {
        const std::lock_guard guard(book_.watchers_.lock);
        book_.watchers_.windows.emplace_back(window, message);
    }
    if (!book_.changeWait_) book_.waitForChange();
}

AddressBook::ChangeSubscription::~ChangeSubscription() {
    bool last = false;
    {
        const std::lock_guard guard(book_.watchers_.lock);
        auto& windows = book_.watchers_.windows;
        windows.erase(std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.first == window_; }));
        last = windows.empty();
    }
    if (last) book_.changeWait_.reset();
}

void CALLBACK AddressBook::tell(void* watchers, BOOLEAN) {
    auto& told = *static_cast<Watchers*>(watchers);
    const std::lock_guard guard(told.lock);
    for (const auto& [window, message] : told.windows) PostMessageW(window, message, 0, 0);
}

void AddressBook::waitForChange() {
    changeWait_.reset();
    {
        const std::lock_guard guard(watchers_.lock);
        if (watchers_.windows.empty()) return;
    }
    HANDLE wait = nullptr;
    if (changeEvent() && RegisterWaitForSingleObject(&wait, changeEvent(), &AddressBook::tell, &watchers_, INFINITE,
                                                     WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD))
        changeWait_.reset(wait);
}

HANDLE AddressBook::changeEvent() const {
    return snapshot_ ? snapshot_->changeEvent() : absence_ ? absence_->changeEvent() : nullptr;
}

void AddressBook::read() {
    changeWait_.reset();
    if (!snapshot_ || !snapshot_->retake()) snapshot_ = storeSnapshot();
    absence_.reset();
    if (!snapshot_) absence_.emplace(storeAbsenceWatch());
    readOnce_ = true;
    sortedIsCurrent_ = false;
    waitForChange();
}

const RegSnapshot* AddressBook::snapshot() {
    if (!snapshot_ || !snapshot_->current()) read();
    return snapshot_ ? &*snapshot_ : nullptr;
}

void AddressBook::prepare() {
    // A change may have come while no window waited for it: its event tells,
    // and the key's handle tells of a deletion.
    const bool current = snapshot_ ? snapshot_->current()
                                   : changeEvent() && WaitForSingleObject(changeEvent(), 0) == WAIT_TIMEOUT;
    if (!readOnce_ || !current) read();
    sort();
}

void AddressBook::sort() {
    if (sortedIsCurrent_) return;
    std::vector<std::pair<std::string, BookEntry>> keyed;
    for (const RegValue& value : snapshot_ ? snapshot_->values() : std::vector<RegValue>{}) {
        const auto text = recordTextOf(value);
        const auto record = text ? splitAddressAndName(*text) : std::nullopt;
        if (!record) break;
        keyed.emplace_back(localeSortKey(record->name),
                           BookEntry{record->name, record->address, record->address + L"," + record->name});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    sorted_.clear();
    for (auto& entry : keyed) sorted_.push_back(std::move(entry.second));
    sortedIsCurrent_ = true;
}

std::vector<BookEntry> AddressBook::suggestionsFor(const std::wstring& typed, std::size_t most) {
    sort();
    std::vector<BookEntry> found;
    if (typed.empty()) return found;
    for (const BookEntry& entry : sorted_) {
        if (found.size() == most) break;
        if (startsWithInAnyCase(entry.address, 0, typed) || hasWordStartingWith(entry.name, typed))
            found.push_back(entry);
    }
    return found;
}

}  // namespace kt
