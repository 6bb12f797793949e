// Without a recorder the component shows the real message box.

#include "controls/message_box.h"

#include <gtest/gtest.h>

#include "support/windows_test.h"

namespace kt::test {
namespace {

TEST(MessageBoxSeam, WithoutARecorderTheRealBoxIsShown) {
    std::wstring text;
    bool hasIcon = false;
    // Runs inside the box's own modal loop: reads the box and answers it.
    StepsOnTimer reader({[&] {
        const HWND box = findThreadWindow(L"Error");
        wchar_t buffer[512] = {};
        GetDlgItemTextW(box, 0xFFFF, buffer, 512);
        text = buffer;
        for (int iconId : {20, 1088})  // the icon's control on Windows, under Wine
            hasIcon = hasIcon || SendDlgItemMessageW(box, iconId, STM_GETICON, 0, 0) != 0;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }});
    EXPECT_EQ(showMessageBox(L"Something to say", L"Error", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(text, L"Something to say");
    EXPECT_TRUE(hasIcon);
}

}  // namespace
}  // namespace kt::test
