#pragma once
// The only code that touches the per-user settings store: six functions that
// each open the key they need, do one job and release it again. Text goes to
// and from the registry in the system's ANSI code page.
//
// With `quiet` a failure is silent and the function returns its fixed
// fallback; without it the failure is shown through ShowErrorWithTime.
// CreateRegKey and DeleteRegValue raise every failure to their caller.

#include <windows.h>

#include <string>

namespace kt {

struct RegKeyInfo {
    std::wstring ClassName;
    unsigned long ClassNameLength = 0;
    unsigned long Reserved = 0;
    unsigned long SubKeyCount = 0;
    unsigned long MaxSubKeyNameLength = 0;
    unsigned long MaxClassNameLength = 0;
    unsigned long ValueCount = 0;
    unsigned long MaxValueNameLength = 0;
    unsigned long MaxValueDataLength = 0;
    unsigned long SecurityDescriptorSize = 0;
    FILETIME LastWriteTime{};
};

// True when the key was opened and its statistics read into `info`.
bool GetRegItemInfo(const std::wstring& keyPath, HKEY root, RegKeyInfo& info, bool quiet);

// The name of the value at a 0-based position of the key's enumeration.
std::wstring GetRegItemNamebyItemNum(const std::wstring& keyPath, long position, HKEY root, bool quiet,
                                     const std::wstring& fallback);

// The string data of the value at a 0-based position (at most 254 bytes of text).
std::wstring GetRegStrbyItemNum(const std::wstring& keyPath, long position, HKEY root, bool quiet,
                                const std::wstring& fallback);

// Writes a string value, creating the key and its missing parents; returns
// the text written, "Error" on failure with `quiet`.
std::wstring SetRegStr(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                       HKEY root, bool quiet);

bool CreateRegKey(HKEY root, const std::wstring& keyPath);

bool DeleteRegValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

}  // namespace kt
