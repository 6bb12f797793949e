#pragma once
// The only code that touches the per-user settings store. Six functions each
// open the key they need, do one job and release it again; the rest read,
// watch and renumber a whole key at once, for the address book's deletions.
//
// With `quiet` a failure is silent and the function returns its fixed
// fallback; without it the failure is shown through ShowErrorWithTime. The
// other functions raise every failure to their caller.
//
// Text is exchanged with the registry as the registry holds it (UTF-16), so
// that a name or address in any script is stored and read back exactly.

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/handles.h"
#include "settings/value_rewrite.h"

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

// The reads by position take a name and a text of at most this many characters.
constexpr std::size_t kLongestTextByPosition = 254;

// SetRegStr's result with `quiet` when nothing was written.
inline const std::wstring kSetRegStrFailed = L"Error";

// True when the key was opened and its statistics read into `info`.
bool GetRegItemInfo(const std::wstring& keyPath, HKEY root, RegKeyInfo& info, bool quiet);

// The name of the value at a 0-based position of the key's enumeration.
std::wstring GetRegItemNamebyItemNum(const std::wstring& keyPath, long position, HKEY root, bool quiet,
                                     const std::wstring& fallback);

// The string data of the value at a 0-based position.
std::wstring GetRegStrbyItemNum(const std::wstring& keyPath, long position, HKEY root, bool quiet,
                                const std::wstring& fallback);

// Writes a string value, creating the key and its missing parents; returns
// the text written, kSetRegStrFailed on failure with `quiet`.
std::wstring SetRegStr(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                       HKEY root, bool quiet);

// Creates the key and its missing parents, or opens the existing one.
void CreateRegKey(HKEY root, const std::wstring& keyPath);

// Removes a value that exists.
void DeleteRegValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

// A key's values, whatever their type and length, in the order the registry
// lists them, with a change notification on the key armed before the read:
// while it has not fired, the key holds exactly these values, and reading
// them again (a registry call per value) can be spared.
class RegSnapshot {
public:
    // Raises the failure when the key cannot be read.
    static RegSnapshot take(HKEY root, const std::wstring& keyPath);
    // Arms the notification again and reads the values anew through the same
    // key; false when the key is gone or could not be watched.
    bool retake();

    const std::vector<RegValue>& values() const noexcept { return values_; }
    // False once anything in the key may have changed, it was deleted, or
    // the system could not watch it.
    bool current() const;
    // Set once a change is notified; null when the key could not be watched.
    HANDLE changeEvent() const noexcept { return changed_.get(); }

private:
    UniqueRegKey key_;  // the notification lasts while the key is open
    UniqueKernelHandle changed_;
    std::vector<RegValue> values_;
};

// A watch for a key that could not be opened: its event is set when the
// names under the nearest ancestor that exists change, as they do when the
// key (or the next key on its path) is made.
class RegAbsenceWatch {
public:
    RegAbsenceWatch(HKEY root, const std::wstring& keyPath);
    // Null when nothing could be watched.
    HANDLE changeEvent() const noexcept { return changed_.get(); }

private:
    UniqueRegKey ancestor_;  // the notification lasts while the key is open
    UniqueKernelHandle changed_;
};

// How many removals and writes of a rewrite failed; the others were done.
struct RewriteFailures {
    unsigned removals = 0;
    unsigned writes = 0;
};

// Carries out a planned rewrite through one open key.
RewriteFailures ApplyRegRewrite(HKEY root, const std::wstring& keyPath, const ValueRewrite& plan);

// A string value's data: the text and its terminator, as the registry holds it.
std::vector<unsigned char> stringData(const std::wstring& text);
// The text of string data, up to its first NUL.
std::wstring textOf(const std::vector<unsigned char>& data);

}  // namespace kt
