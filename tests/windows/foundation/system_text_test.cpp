// The system's text for an error, as failure reports show it. CTest also runs
// this where the user's language is one the ANSI code page cannot write
// (Russian messages, a Western code page), as on a computer whose display
// language differs from its language for programs that are not Unicode.

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/api_error.h"

namespace kt::test {
namespace {

TEST(SystemText, IsTheSystemsOwnTextInTheUsersLanguage) {
    // The run in another language says so, lest it prove nothing.
    if (GetEnvironmentVariableW(L"KT_EXPECT_RUSSIAN", nullptr, 0) > 0) {
        ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_RUSSIAN);
        ASSERT_NE(GetACP(), 1251u);
    }
    for (const DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_FILE_NOT_FOUND}, DWORD{WSAECONNREFUSED}}) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
            0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        ASSERT_GT(length, 0u) << code;
        EXPECT_EQ(GetApiErrorText(code), std::wstring(text, length)) << code;
        LocalFree(text);
    }
}

}  // namespace
}  // namespace kt::test
