#include "compose/message_body.h"

#include <gtest/gtest.h>

namespace kt {

TEST(MessageBody, PlainModeIsTheEditedTextAlone) {
    EXPECT_EQ(composeMessageBody(L"Hello\r\n<b>&", false, L"<html>ignored</html>"), L"Hello\r\n<b>&");
    EXPECT_EQ(composeMessageBody(L"", false, L"<html/>"), L"");
}

TEST(MessageBody, HtmlModePutsTheNoteAsAParagraphBeforeARuleAndThePage) {
    EXPECT_EQ(composeMessageBody(L"first line\r\nsecond line", true, L"PAGE"),
              L"<p>first line<br>second line</p>\r\n<hr>\r\nPAGE");
    EXPECT_EQ(composeMessageBody(L"", true, L"PAGE"), L"<p>     </p>\r\n<hr>\r\nPAGE");
    // Typed markup stays markup; a lone line feed stays as it is.
    EXPECT_EQ(composeMessageBody(L"<b>bold</b> & more\nnext", true, L""), L"<p><b>bold</b> & more\nnext</p>\r\n<hr>\r\n");
}

}  // namespace kt
