#include "settings/modRegFunctions.h"

#include <cstring>

#include "controls/ansi_text.h"
#include "controls/handles.h"
#include "settings/api_error.h"
#include "settings/component_error.h"
#include "settings/error_with_time.h"

namespace kt {
namespace {

constexpr REGSAM kRead = KEY_QUERY_VALUE;
constexpr REGSAM kWrite = KEY_ALL_ACCESS;
// Capacities of the reads by position: a name of 254 characters and data of
// 254 bytes of text, each with its terminator.
constexpr DWORD kNameCapacity = 255;
constexpr DWORD kDataCapacity = 255;
const std::wstring kSetFailed = L"Error";

std::wstring failureText(const std::wstring& task, const ComponentError& error) {
    return task + std::to_wstring(error.number()) + L"\r\n\r\n" + error.description();
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
    failureCode = RegOpenKeyExA(root, toAnsi(keyPath).c_str(), 0, kRead, key.put());
    if (failureCode != ERROR_SUCCESS) return ReadOutcome::Failed;

    char name[kNameCapacity] = {};
    BYTE data[kDataCapacity] = {};
    DWORD nameLength = kNameCapacity;
    DWORD dataSize = kDataCapacity;
    DWORD type = REG_NONE;
    failureCode = RegEnumValueA(key.get(), static_cast<DWORD>(position), name, &nameLength, nullptr, &type, data,
                                &dataSize);
    // Past the last position nothing is read and the type stays unset.
    if (type != REG_SZ) return ReadOutcome::NotString;
    if (failureCode != ERROR_SUCCESS) return ReadOutcome::Failed;

    value.name = fromAnsi(std::string(name, strnlen(name, kNameCapacity)));
    if (dataSize > 0) {
        const auto text = reinterpret_cast<const char*>(data);
        value.data = fromAnsi(std::string(text, strnlen(text, dataSize - 1)));
    }
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

}  // namespace

bool GetRegItemInfo(const std::wstring& keyPath, HKEY root, RegKeyInfo& info, bool quiet) {
    try {
        UniqueRegKey key;
        CheckApiResult(RegOpenKeyExA(root, toAnsi(keyPath).c_str(), 0, kRead, key.put()));
        char className[MAX_PATH] = {};
        DWORD classNameLength = MAX_PATH;
        DWORD subKeys = 0, maxSubKeyName = 0, maxClassName = 0, values = 0, maxValueName = 0, maxValueData = 0,
              securityDescriptor = 0;
        FILETIME lastWrite{};
        CheckApiResult(RegQueryInfoKeyA(key.get(), className, &classNameLength, nullptr, &subKeys, &maxSubKeyName,
                                        &maxClassName, &values, &maxValueName, &maxValueData, &securityDescriptor,
                                        &lastWrite));
        info.ClassName = fromAnsi(std::string(className, classNameLength));
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
        const std::string path = toAnsi(keyPath);
        const std::string name = toAnsi(valueName);
        UniqueRegKey key;
        long result = RegOpenKeyExA(root, path.c_str(), 0, kWrite, key.put());
        if (result != ERROR_SUCCESS) {
            CreateRegKey(root, keyPath);
            result = RegOpenKeyExA(root, path.c_str(), 0, kWrite, key.put());
            if (result != ERROR_SUCCESS && quiet) return kSetFailed;
            CheckApiResult(result);
        }

        DWORD existingType = REG_NONE;
        if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &existingType, nullptr, nullptr) == ERROR_SUCCESS &&
            existingType != REG_SZ && existingType != REG_EXPAND_SZ)
            return quiet ? kSetFailed : std::wstring();

        const std::string data = toAnsi(text);
        result = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>(data.size() + 1));
        if (result != ERROR_SUCCESS && quiet) return kSetFailed;
        CheckApiResult(result);
        return text;
    } catch (...) {
        if (quiet) return kSetFailed;
        ShowErrorWithTime(failureText(L"Error in Setting Registry String: ", currentError()));
        return {};
    }
}

bool CreateRegKey(HKEY root, const std::wstring& keyPath) {
    UniqueRegKey key;
    CheckApiResult(RegCreateKeyExA(root, toAnsi(keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWrite,
                                   nullptr, key.put(), nullptr));
    return true;
}

bool DeleteRegValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName) {
    const std::string name = toAnsi(valueName);
    UniqueRegKey key;
    CheckApiResult(RegOpenKeyExA(root, toAnsi(keyPath).c_str(), 0, kWrite, key.put()));
    CheckApiResult(RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr));
    CheckApiResult(RegDeleteValueA(key.get(), name.c_str()));
    return true;
}

}  // namespace kt
