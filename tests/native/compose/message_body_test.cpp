// What Send delivers: in plain mode the edited text alone; in HTML mode the
// note as a paragraph whose CR LF pairs become breaks, a rule, then the page.

#include "compose/message_body.h"

#include <gtest/gtest.h>

#include "delivery/text_to_html.h"

namespace kt {

TEST(MessageBody, PlainIsTheTextAloneAndHtmlPutsTheNoteBeforeThePage) {
    const struct {
        const wchar_t* note;
        bool html;
        const wchar_t* body;
    } cases[] = {
        {L"Hello\r\n<b>&", false, L"Hello\r\n<b>&"},
        {L"first line\r\nsecond line", true, L"<p>first line<br>second line</p>\r\n<hr>\r\nPAGE"},
        {L"", true, L"<p>     </p>\r\n<hr>\r\nPAGE"},
        // Typed markup stays markup; breaks that are no CR LF pair stay as they are; pairs do not overlap.
        {L"<b>bold</b> & more\nnext\r\r\n\r\n\n", true, L"<p><b>bold</b> & more\nnext\r<br><br>\n</p>\r\n<hr>\r\nPAGE"},
    };
    for (const auto& c : cases) EXPECT_EQ(composeMessageBody(c.note, c.html, L"PAGE"), c.body) << c.note;
}

TEST(TextToHtml, APairFromPosition32766OnLeavesTheWholeTextUnchanged) {
    const std::wstring x(32764, L'x');
    EXPECT_EQ(TextToHtml(x + L"\r\ntail"), x + L"<br>tail");                           // the pair begins at 32,765
    for (const std::wstring& late : {x + L"x\r\n", L"a\r\n" + x.substr(2) + L"\r\n"})  // pairs at 32,766
        EXPECT_EQ(TextToHtml(late), late);
}

}  // namespace kt
