// The registry functions on the real registry, under a scratch key of each test.

#include <gtest/gtest.h>

#include <functional>

#include "foundation/api_error.h"
#include "foundation/component_error.h"
#include "settings/modRegFunctions.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

constexpr bool kQuiet = true;
constexpr bool kLoud = false;
const std::wstring kFallback = L"fallback";
const std::wstring kNotFoundNumber = L"-2147192502";

// The handle table hands out the lowest free slot, so this value climbs with
// every handle that is never closed. (Wine's GetProcessHandleCount is always 0.)
ULONG_PTR lowestFreeHandle() {
    UniqueKernelHandle probe(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return reinterpret_cast<ULONG_PTR>(probe.get());
}

class RegistryFunctionsTest : public WindowsTest {
protected:
    // The message a box showed, without the frame ShowErrorWithTime puts around it.
    std::wstring lastReport() {
        if (messageBoxes.shown.empty()) return L"<no message>";
        const MessageBoxRequest box = messageBoxes.shown.back();
        messageBoxes.shown.clear();
        EXPECT_EQ(box.title, L"Error");
        EXPECT_EQ(box.style, static_cast<UINT>(MB_OK | MB_ICONERROR));
        const auto end = box.text.rfind(L"\r\n\r\nTime of Error:");
        if (box.text.rfind(L"ERROR - ", 0) != 0 || end == std::wstring::npos) return L"<unframed> " + box.text;
        return box.text.substr(8, end - 8);
    }
    bool nothingShown() const { return messageBoxes.shown.empty(); }

    std::wstring name(long position, bool quiet) {
        return GetRegItemNamebyItemNum(key.path(), position, HKEY_CURRENT_USER, quiet, kFallback);
    }
    std::wstring data(long position, bool quiet) {
        return GetRegStrbyItemNum(key.path(), position, HKEY_CURRENT_USER, quiet, kFallback);
    }
    bool info(RegKeyInfo& result, bool quiet) { return GetRegItemInfo(key.path(), HKEY_CURRENT_USER, result, quiet); }
    std::wstring set(const std::wstring& valueName, const std::wstring& text, bool quiet) {
        return SetRegStr(key.path(), valueName, text, HKEY_CURRENT_USER, quiet);
    }

    ScratchRegistryKey key;
};

TEST_F(RegistryFunctionsTest, MissingKey) {
    RegKeyInfo result;
    EXPECT_FALSE(info(result, kQuiet));
    EXPECT_EQ(name(0, kQuiet), kFallback);
    EXPECT_EQ(data(0, kQuiet), kFallback);
    EXPECT_TRUE(nothingShown());

    const std::wstring notFound = kNotFoundNumber + L"\r\n\r\n" + GetApiErrorText(2);
    EXPECT_FALSE(info(result, kLoud));
    EXPECT_EQ(lastReport(), L"Error in Getting RegItem: " + notFound);
    EXPECT_EQ(name(0, kLoud), L"");
    EXPECT_EQ(lastReport(), L"Error in Getting Registry Item Name by Item Number: " + notFound);
    EXPECT_EQ(data(0, kLoud), L"");
    EXPECT_EQ(lastReport(), L"Error in Getting Registry String by Item Number: " + notFound);
}

TEST_F(RegistryFunctionsTest, EmptyKeyHasNoValuesAndNoPositions) {
    CreateRegKey(HKEY_CURRENT_USER, key.path());
    RegKeyInfo result;
    result.ValueCount = 99;
    EXPECT_TRUE(info(result, kLoud));
    EXPECT_EQ(result.ValueCount, 0u);
    EXPECT_EQ(name(0, kQuiet), kFallback);
    EXPECT_TRUE(nothingShown());
    EXPECT_EQ(name(0, kLoud), kFallback);
    EXPECT_EQ(lastReport(), L"Error in GetRegItemNamebyItemNum, Reg Type not String");
    EXPECT_EQ(data(0, kLoud), kFallback);
    EXPECT_EQ(lastReport(), L"Error in GetRegStrbyItemNum, Reg Type not String");
}

TEST_F(RegistryFunctionsTest, ReadsByPositionWithinTheCount) {
    key.setString(L"0", "ann@example.com,Ann");
    key.setString(L"1", "");
    key.setString(L"2", "bob@example.com,Bob");
    RegKeyInfo result;
    ASSERT_TRUE(info(result, kQuiet));
    ASSERT_EQ(result.ValueCount, 3u);
    EXPECT_EQ(name(0, kQuiet), L"0");
    EXPECT_EQ(data(0, kQuiet), L"ann@example.com,Ann");
    EXPECT_EQ(data(1, kQuiet), L"");  // an empty string is read, not the fallback
    EXPECT_EQ(name(2, kQuiet), L"2");
    EXPECT_EQ(data(2, kQuiet), L"bob@example.com,Bob");
    for (long outside : {3L, -1L}) {
        EXPECT_EQ(name(outside, kQuiet), kFallback);
        EXPECT_EQ(data(outside, kQuiet), kFallback);
        EXPECT_EQ(data(outside, kLoud), kFallback);
        EXPECT_EQ(lastReport(), L"Error in GetRegStrbyItemNum, Reg Type not String");
    }
}

TEST_F(RegistryFunctionsTest, ValuesThatAreNotPlainStringsGiveTheFallback) {
    const DWORD number = 7;
    const BYTE bytes[] = {1, 2, 3};
    key.setRaw(L"0", REG_DWORD, &number, sizeof number);
    key.setRaw(L"1", REG_BINARY, bytes, sizeof bytes);
    key.setString(L"2", "%TEMP%\\x", REG_EXPAND_SZ);
    for (long position : {0L, 1L, 2L}) {
        SCOPED_TRACE(position);
        EXPECT_EQ(name(position, kQuiet), kFallback);
        EXPECT_EQ(data(position, kQuiet), kFallback);
        EXPECT_TRUE(nothingShown());
        EXPECT_EQ(name(position, kLoud), kFallback);
        EXPECT_EQ(lastReport(), L"Error in GetRegItemNamebyItemNum, Reg Type not String");
        EXPECT_EQ(data(position, kLoud), kFallback);
        EXPECT_EQ(lastReport(), L"Error in GetRegStrbyItemNum, Reg Type not String");
    }
}

TEST_F(RegistryFunctionsTest, DataOverTheCapacityCannotBeReadByPosition) {
    key.setString(L"0", std::string(254, 'a'));
    key.setString(L"1", std::string(255, 'b'));
    EXPECT_EQ(data(0, kQuiet), std::wstring(254, L'a'));
    EXPECT_EQ(name(1, kQuiet), kFallback);
    EXPECT_EQ(data(1, kQuiet), kFallback);
    EXPECT_TRUE(nothingShown());

    const std::wstring moreData = std::to_wstring(kApiErrorBase + ERROR_MORE_DATA) + L"\r\n\r\n" +
                                  GetApiErrorText(ERROR_MORE_DATA);
    EXPECT_EQ(data(1, kLoud), L"");
    EXPECT_EQ(lastReport(), L"Error in Getting Registry String by Item Number: " + moreData);
    EXPECT_EQ(name(1, kLoud), L"");
    EXPECT_EQ(lastReport(), L"Error in Getting Registry Item Name by Item Number: " + moreData);
}

TEST_F(RegistryFunctionsTest, UnnamedDefaultValueHasAnEmptyName) {
    key.setString(L"", "default");
    EXPECT_EQ(name(0, kQuiet), L"");
    EXPECT_EQ(data(0, kQuiet), L"default");
}

TEST_F(RegistryFunctionsTest, SetRegStrCreatesTheKeyWithItsParents) {
    const std::wstring nested = key.path() + L"\\Veltrano\\Ardwyn\\E_MailList";
    EXPECT_EQ(SetRegStr(nested, L"0", L"ann@example.com,Ann", HKEY_CURRENT_USER, kQuiet), L"ann@example.com,Ann");
    EXPECT_EQ(GetRegStrbyItemNum(nested, 0, HKEY_CURRENT_USER, kQuiet, kFallback), L"ann@example.com,Ann");
    EXPECT_TRUE(nothingShown());
}

TEST_F(RegistryFunctionsTest, SetRegStrLeavesOtherTypesAloneButReplacesExpandableStrings) {
    const DWORD number = 7;
    key.setRaw(L"number", REG_DWORD, &number, sizeof number);
    key.setString(L"expandable", "%PATH%", REG_EXPAND_SZ);

    EXPECT_EQ(set(L"number", L"text", kQuiet), L"Error");
    EXPECT_EQ(set(L"number", L"text", kLoud), L"");
    EXPECT_TRUE(nothingShown());
    EXPECT_EQ(key.typeOf(L"number"), static_cast<DWORD>(REG_DWORD));

    EXPECT_EQ(set(L"expandable", L"plain now", kQuiet), L"plain now");
    EXPECT_EQ(key.typeOf(L"expandable"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(key.stringOf(L"expandable"), "plain now");
}

TEST_F(RegistryFunctionsTest, SetRegStrOnAnUnusableRootFails) {
    const auto unusable = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000099));
    EXPECT_EQ(SetRegStr(key.path(), L"0", L"x", unusable, kQuiet), L"Error");
    EXPECT_TRUE(nothingShown());
    EXPECT_EQ(SetRegStr(key.path(), L"0", L"x", unusable, kLoud), L"");
    EXPECT_EQ(lastReport().rfind(L"Error in Setting Registry String: -21471", 0), 0u);
}

TEST_F(RegistryFunctionsTest, DeleteRegValueRaisesWhatFailed) {
    key.setString(L"0", "x");
    DeleteRegValue(HKEY_CURRENT_USER, key.path(), L"0");
    EXPECT_EQ(key.typeOf(L"0"), static_cast<DWORD>(REG_NONE));
    try {
        DeleteRegValue(HKEY_CURRENT_USER, key.path(), L"0");
        FAIL() << "a missing value was deleted";
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), -2147192502L);
        EXPECT_EQ(error.description(), GetApiErrorText(2));
    }
    EXPECT_TRUE(nothingShown());
}

TEST_F(RegistryFunctionsTest, NoKeyHandleOutlivesItsCall) {
    key.setString(L"0", "a,b");
    key.setString(L"1", std::string(300, 'x'));
    const std::function<void()> calls[] = {
        [&] { RegKeyInfo r; info(r, kQuiet); },
        [&] { name(0, kQuiet); },
        [&] { data(1, kQuiet); },  // over the capacity
        [&] { data(5, kQuiet); },  // past the end
        [&] { set(L"2", L"c,d", kQuiet); },
        [&] { CreateRegKey(HKEY_CURRENT_USER, key.path()); },
        [&] {
            try {
                DeleteRegValue(HKEY_CURRENT_USER, key.path(), L"missing");
            } catch (const ComponentError&) {
            }
        },
    };
    for (const auto& call : calls) call();  // first-use allocations out of the way
    const ULONG_PTR before = lowestFreeHandle();
    for (int i = 0; i < 2000; ++i)
        for (const auto& call : calls) call();
    const ULONG_PTR after = lowestFreeHandle();
    EXPECT_LT(after, before + 40) << "the handle table grew from " << before << " to " << after;
}

}  // namespace
}  // namespace kt::test
