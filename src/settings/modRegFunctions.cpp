#include "settings/modRegFunctions.h"

#include <cstring>
#include <cwchar>

#include "foundation/api_error.h"
#include "foundation/component_error.h"
#include "foundation/handles.h"
#include "settings/error_with_time.h"

namespace kt {
namespace {

// Only the rights a call needs: a key the user may read and write values of,
// and no more, is enough.
constexpr REGSAM kRead = KEY_QUERY_VALUE;
constexpr REGSAM kWrite = KEY_QUERY_VALUE | KEY_SET_VALUE;
// Capacities of the reads by position, terminators included.
constexpr DWORD kNameCapacity = kLongestTextByPosition + 1;
constexpr DWORD kDataCapacity = (kLongestTextByPosition + 1) * sizeof(wchar_t);

// "Error in Getting RegItem: <number>", an empty line, the description.
std::wstring failureText(const std::wstring& task, const ComponentError& error) {
    return failureReport(task, error, std::nullopt, L"", L"\r\n\r\n");
}

UniqueRegKey openKey(HKEY root, const std::wstring& keyPath, REGSAM access) {
    UniqueRegKey key;
    CheckApiResult(RegOpenKeyExW(root, keyPath.c_str(), 0, access, key.put()));
    return key;
}

// Every value of an open key, in the order the registry lists them.
std::vector<RegValue> valuesOf(HKEY key) {
    DWORD count = 0, longestName = 0, longestData = 0;
    CheckApiResult(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                    &longestName, &longestData, nullptr, nullptr));
    std::vector<RegValue> values;
    values.reserve(count);
    std::wstring name(longestName + 1, L'\0');
    std::vector<unsigned char> data(longestData + 1);
    for (DWORD position = 0;; ++position) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const long result =
            RegEnumValueW(key, position, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) return values;
        if (result == ERROR_MORE_DATA || dataSize > data.size()) {
            // Changed since the key was measured: measure this value again.
            name.resize(name.size() * 2);
            data.resize(data.size() * 2 + 256);
            --position;
            continue;
        }
        CheckApiResult(result);
        values.push_back({name.substr(0, nameLength), type, {data.begin(), data.begin() + dataSize}});
    }
}

// The value at a position, as the two readers by position share it.
struct ValueAtPosition {
    std::wstring name;
    std::wstring data;
};

enum class ReadOutcome { Read, NotString, Failed };

ReadOutcome readValueAtPosition(const std::wstring& keyPath, long position, HKEY root, ValueAtPosition& value,
                                long& failureCode) {
    UniqueRegKey key;
    failureCode = RegOpenKeyExW(root, keyPath.c_str(), 0, kRead, key.put());
    if (failureCode != ERROR_SUCCESS) return ReadOutcome::Failed;

    wchar_t name[kNameCapacity] = {};
    wchar_t data[kDataCapacity / sizeof(wchar_t)] = {};
    DWORD nameLength = kNameCapacity;
    DWORD dataSize = kDataCapacity;
    DWORD type = REG_NONE;
    failureCode = RegEnumValueW(key.get(), static_cast<DWORD>(position), name, &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE*>(data), &dataSize);
    // Past the last position nothing is read and the type stays unset.
    if (type != REG_SZ) return ReadOutcome::NotString;
    if (failureCode != ERROR_SUCCESS) return ReadOutcome::Failed;

    value.name.assign(name, wcsnlen(name, kNameCapacity));
    const std::size_t characters = dataSize / sizeof(wchar_t);
    if (characters > 0) value.data.assign(data, wcsnlen(data, characters - 1));
    return ReadOutcome::Read;
}

// The shared course of the two readers by position; `pick` chooses what they return.
template <class Pick>
std::wstring readAtPosition(const wchar_t* reader, const wchar_t* task, const std::wstring& keyPath, long position,
                            HKEY root, bool quiet, const std::wstring& fallback, Pick pick) {
    try {
        ValueAtPosition value;
        long failureCode = 0;
        switch (readValueAtPosition(keyPath, position, root, value, failureCode)) {
            case ReadOutcome::Read:
                return pick(value);
            case ReadOutcome::NotString:
                if (!quiet) ShowErrorWithTime(std::wstring(L"Error in ") + reader + L", Reg Type not String");
                return fallback;
            case ReadOutcome::Failed:
                if (quiet) return fallback;
                RaiseApiError(static_cast<unsigned long>(failureCode));
        }
        return fallback;
    } catch (...) {
        if (quiet) return fallback;
        ShowErrorWithTime(failureText(task, currentError()));
        return {};
    }
}

// Sets `event` at the next change of the kind named under `key` itself,
// whichever thread asked; the result of the asking (ERROR_KEY_DELETED for a
// key deleted since it was opened).
LSTATUS notifyChanges(HKEY key, DWORD changes, HANDLE event) {
    const LSTATUS status = RegNotifyChangeKeyValue(key, FALSE, changes | REG_NOTIFY_THREAD_AGNOSTIC, event, TRUE);
    // Systems before Windows 8 know no thread-agnostic watch; a watch there
    // lasts as long as the thread that asked, the window's.
    return status == ERROR_INVALID_PARAMETER ? RegNotifyChangeKeyValue(key, FALSE, changes, event, TRUE) : status;
}

constexpr DWORD kValueChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

}  // namespace

bool GetRegItemInfo(const std::wstring& keyPath, HKEY root, RegKeyInfo& info, bool quiet) {
    try {
        const UniqueRegKey key = openKey(root, keyPath, kRead);
        wchar_t className[MAX_PATH] = {};
        DWORD classNameLength = MAX_PATH;
        DWORD subKeys = 0, maxSubKeyName = 0, maxClassName = 0, values = 0, maxValueName = 0, maxValueData = 0,
              securityDescriptor = 0;
        FILETIME lastWrite{};
        CheckApiResult(RegQueryInfoKeyW(key.get(), className, &classNameLength, nullptr, &subKeys, &maxSubKeyName,
                                        &maxClassName, &values, &maxValueName, &maxValueData, &securityDescriptor,
                                        &lastWrite));
        info.ClassName.assign(className, classNameLength);
        info.ClassNameLength = classNameLength;
        info.Reserved = 0;
        info.SubKeyCount = subKeys;
        info.MaxSubKeyNameLength = maxSubKeyName;
        info.MaxClassNameLength = maxClassName;
        info.ValueCount = values;
        info.MaxValueNameLength = maxValueName;
        info.MaxValueDataLength = maxValueData;
        info.SecurityDescriptorSize = securityDescriptor;
        info.LastWriteTime = lastWrite;
        return true;
    } catch (...) {
        if (!quiet) ShowErrorWithTime(failureText(L"Error in Getting RegItem: ", currentError()));
        return false;
    }
}

std::wstring GetRegItemNamebyItemNum(const std::wstring& keyPath, long position, HKEY root, bool quiet,
                                     const std::wstring& fallback) {
    return readAtPosition(L"GetRegItemNamebyItemNum", L"Error in Getting Registry Item Name by Item Number: ",
                          keyPath, position, root, quiet, fallback,
                          [](const ValueAtPosition& value) { return value.name; });
}

std::wstring GetRegStrbyItemNum(const std::wstring& keyPath, long position, HKEY root, bool quiet,
                                const std::wstring& fallback) {
    return readAtPosition(L"GetRegStrbyItemNum", L"Error in Getting Registry String by Item Number: ", keyPath,
                          position, root, quiet, fallback, [](const ValueAtPosition& value) { return value.data; });
}

std::wstring SetRegStr(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                       HKEY root, bool quiet) {
    try {
        UniqueRegKey key;
        long result = RegOpenKeyExW(root, keyPath.c_str(), 0, kWrite, key.put());
        if (result != ERROR_SUCCESS) {
            CreateRegKey(root, keyPath);
            result = RegOpenKeyExW(root, keyPath.c_str(), 0, kWrite, key.put());
            if (result != ERROR_SUCCESS && quiet) return kSetRegStrFailed;
            CheckApiResult(result);
        }

        DWORD existingType = REG_NONE;
        if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &existingType, nullptr, nullptr) ==
                ERROR_SUCCESS &&
            existingType != REG_SZ && existingType != REG_EXPAND_SZ)
            return quiet ? kSetRegStrFailed : std::wstring();

        result = RegSetValueExW(key.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        if (result != ERROR_SUCCESS && quiet) return kSetRegStrFailed;
        CheckApiResult(result);
        return text;
    } catch (...) {
        if (quiet) return kSetRegStrFailed;
        ShowErrorWithTime(failureText(L"Error in Setting Registry String: ", currentError()));
        return {};
    }
}

void CreateRegKey(HKEY root, const std::wstring& keyPath) {
    UniqueRegKey key;
    CheckApiResult(RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kRead, nullptr,
                                   key.put(), nullptr));
}

void DeleteRegValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName) {
    const UniqueRegKey key = openKey(root, keyPath, kWrite);
    CheckApiResult(RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr));
    CheckApiResult(RegDeleteValueW(key.get(), valueName.c_str()));
}

RegSnapshot RegSnapshot::take(HKEY root, const std::wstring& keyPath) {
    RegSnapshot snapshot;
    snapshot.key_ = openKey(root, keyPath, kRead | KEY_NOTIFY);
    snapshot.changed_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (snapshot.changed_ && notifyChanges(snapshot.key_.get(), kValueChanges, snapshot.changed_.get()) != ERROR_SUCCESS)
        snapshot.changed_.reset();
    snapshot.values_ = valuesOf(snapshot.key_.get());
    return snapshot;
}

bool RegSnapshot::retake() {
    if (!changed_) return false;
    ResetEvent(changed_.get());
    if (notifyChanges(key_.get(), kValueChanges, changed_.get()) != ERROR_SUCCESS) return false;
    try {
        values_ = valuesOf(key_.get());
        return true;
    } catch (const ComponentError&) {
        return false;
    }
}

RegAbsenceWatch::RegAbsenceWatch(HKEY root, const std::wstring& keyPath) {
    std::wstring path = keyPath, next;
    do {
        if (path.empty()) return;
        next = path;
        const auto end = path.rfind(L'\\');
        path.resize(end == std::wstring::npos ? 0 : end);
    } while (RegOpenKeyExW(root, path.c_str(), 0, KEY_NOTIFY, ancestor_.put()) != ERROR_SUCCESS);
    changed_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed_ || notifyChanges(ancestor_.get(), REG_NOTIFY_CHANGE_NAME, changed_.get()) != ERROR_SUCCESS) {
        changed_.reset();
        return;
    }
    // The next key of the path made before the watch began is told at once. The key itself
    // there, or one that cannot be opened, is not missing: nothing to wait for.
    UniqueRegKey opened;
    const LSTATUS status = RegOpenKeyExW(root, next.c_str(), 0, KEY_READ, opened.put());
    if (status == ERROR_SUCCESS && next != keyPath)
        SetEvent(changed_.get());
    else if (status != ERROR_FILE_NOT_FOUND)
        changed_.reset();
}

bool RegSnapshot::current() const {
    if (!changed_ || WaitForSingleObject(changed_.get(), 0) != WAIT_TIMEOUT) return false;
    // A deletion is told to no watcher on some systems; the key's handle knows of it.
    return RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) != ERROR_KEY_DELETED;
}

RewriteFailures ApplyRegRewrite(HKEY root, const std::wstring& keyPath, const ValueRewrite& plan) {
    CreateRegKey(root, keyPath);
    const UniqueRegKey key = openKey(root, keyPath, kWrite);
    RewriteFailures failures;
    for (const std::wstring& name : plan.removals)
        if (RegDeleteValueW(key.get(), name.c_str()) != ERROR_SUCCESS) ++failures.removals;
    for (const RegValue& value : plan.writes)
        if (RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
            ++failures.writes;
    return failures;
}

std::vector<unsigned char> stringData(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    return {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)};
}

std::wstring textOf(const std::vector<unsigned char>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

}  // namespace kt
