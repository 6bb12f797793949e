// System codes as component errors, and the error box with the time.

#include <gtest/gtest.h>

#include "foundation/module.h"
#include "foundation/api_error.h"
#include "foundation/component_error.h"
#include "settings/error_with_time.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

std::wstring systemText(DWORD code) {
    char buffer[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, sizeof buffer, nullptr);
    return std::wstring(buffer, buffer + length);
}

std::wstring timeNow() {
    wchar_t buffer[80] = {};
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buffer, 80);
    return buffer;
}

ComponentError raisedBy(long code) {
    try {
        CheckApiResult(code);
    } catch (const ComponentError& error) {
        return error;
    }
    return ComponentError(0, L"", L"nothing raised");
}

TEST(ApiError, ZeroIsNoError) { EXPECT_NO_THROW(CheckApiResult(0)); }

TEST(ApiError, CodeBecomesNumberSourceAndSystemText) {
    const ComponentError error = raisedBy(2);
    EXPECT_EQ(error.number(), -2147192502L);
    EXPECT_EQ(error.source(), thisModuleBaseName() + L".Windows");
    EXPECT_FALSE(error.description().empty());
    EXPECT_EQ(error.description(), systemText(2));  // the system's own text, line break and all
    EXPECT_EQ(GetApiErrorText(2), systemText(2));
}

TEST(ApiError, CodeWithoutSystemTextRaisesWithEmptyDescription) {
    const DWORD unknown = 0x2000FFFF;
    ASSERT_EQ(systemText(unknown), L"") << "the system has a text for this code";
    const ComponentError error = raisedBy(static_cast<long>(unknown));
    EXPECT_EQ(error.number(), kApiErrorBase + static_cast<long>(unknown));
    EXPECT_EQ(error.description(), L"");
}

using ErrorWithTime = WindowsTest;

TEST_F(ErrorWithTime, FramesTheMessageWithHeadingAndTime) {
    for (const std::wstring message : {L"", L"First line\r\nSecond line"}) {
        const std::wstring before = timeNow();
        ShowErrorWithTime(message);
        const std::wstring after = timeNow();
        ASSERT_FALSE(messageBoxes.shown.empty());
        const MessageBoxRequest& box = messageBoxes.shown.back();
        const std::wstring head = L"ERROR - " + message + L"\r\n\r\nTime of Error:";
        EXPECT_TRUE(box.text == head + before || box.text == head + after) << box.text.c_str();
        EXPECT_EQ(box.title, L"Error");
        EXPECT_EQ(box.buttons(), static_cast<UINT>(MB_OK));
        EXPECT_EQ(box.icon(), static_cast<UINT>(MB_ICONERROR));
    }
}

TEST_F(ErrorWithTime, TakesTheTimeWhenItRuns) {
    ShowErrorWithTime(L"same error");
    Sleep(1100);
    ShowErrorWithTime(L"same error");
    ASSERT_EQ(messageBoxes.shown.size(), 2u);
    EXPECT_NE(messageBoxes.shown[0].text, messageBoxes.shown[1].text);
}

}  // namespace
}  // namespace kt::test
