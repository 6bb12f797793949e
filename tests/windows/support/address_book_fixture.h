#pragma once
// The address book key of the current user, set aside for a test: whatever
// the user had there is moved to a scratch key and put back afterwards.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "support/windows_test.h"

namespace kt::test {

class AddressBookTest : public WindowsTest {
protected:
    AddressBookTest();
    ~AddressBookTest() override;

    // Empties the book, then writes records as the string values "0", "1", ...
    void seed(const std::vector<std::wstring>& records) const;
    void setValue(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
    void setString(const std::wstring& name, const std::wstring& text) const;
    // Every value of the key: name to string data ("<type N>" for other types).
    std::map<std::wstring, std::wstring> stored() const;
    bool keyExists() const;

    // The message of the last box, when ShowErrorWithTime framed it.
    std::wstring lastErrorWithTime() const;

private:
    std::wstring backup_;
    bool hadKey_ = false;
};

}  // namespace kt::test
