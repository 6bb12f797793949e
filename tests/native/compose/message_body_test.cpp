// What Send delivers: in plain mode the edited text alone; in HTML mode the
// note as a paragraph whose CR LF pairs become breaks, a rule, then the page,
// whose text made ahead joins the note's into the part the whole body makes.

#include "compose/message_body.h"

#include <gtest/gtest.h>

#include "delivery/message/message_rules.h"
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
    for (const auto& c : cases) EXPECT_EQ(composeMessageBody(c.note, c.html) + (c.html ? L"PAGE" : L""), c.body) << c.note;
}

TEST(MessageBody, ThePagesTextMadeAheadJoinsAnyNoteThatLeavesNoMarkupOpen) {
    const std::wstring news = L"<h1>News</h1><p>A &amp; B, <a href=\"https://example.com/\">a link</a>.</p><ul><li>one"
                              L"<li>two</ul><table><tr><td>a<td>b</table><pre>x\n  y</pre><a href=\"/x\">";
    // Text handed on in pieces as it settles, among them a link's text that is looked back at
    // and a break owed after all text so far was handed on.
    const std::wstring longParagraph = L"<p>" + std::wstring(70000, L'u') + L"<p>";
    std::wstring manyNews;
    for (int i = 0; i < 2000; ++i) {
        manyNews += news + L"</a>";
        if (i % 500 == 250)
            manyNews += longParagraph + L"<a href=\"https://e.example/\">https://e.example/</a>" + longParagraph +
                        L"<a name=n></a><p>next";
    }
    const std::wstring pages[] = {
        L"<html><head><title>News</title><style>p{}</style></head><body>" + news + L"</a>" +
            std::wstring(3000, L'w') + L"</body></html>",
        L"&amp; text first, on no line of its own", manyNews, L""};
    const struct {
        const wchar_t* note;
        bool joins;
    } notes[] = {
        {L"", true}, {L"Hi,\r\nhave a look.\r\n", true}, {L"<b>bold</b> &amp; x < y", true},
        // Markup left open: the page would read differently after it.
        {L"<!-- hidden", false}, {L"<a href=\"https://x.example/\">see", false}, {L"<ul><li>a", false},
        {L"<pre>", false}, {L"<script>", false}, {L"<b title=\"open", false}, {L"<table><tr><td>a", false},
        {L"x</p> <svg>", false}};
    for (const auto& text : pages) {
        const auto page = std::make_shared<const std::wstring>(text);
        const auto ahead = makePageTextAhead(page);
        for (const auto& n : notes) {
            MailMessage message;
            message.html = true;
            message.body = composeMessageBody(n.note, true);
            message.page = page;
            const auto part = ahead->partFor(message);
            EXPECT_EQ(part.has_value(), n.joins) << n.note;
            // At Send only the note's text is made: the page's goes as it was made ahead.
            EXPECT_LE(part ? part->lead.size() : 0u, 64u) << n.note;
            std::string whole;
            encodeBody(pageText(message.body + text), BodyEncoding::QuotedPrintable,
                       [&](const std::string& piece) { whole += piece; });
            EXPECT_EQ(test::written(textPart(message, ahead.get())), whole) << n.note;
            EXPECT_EQ(test::written(textPart(message)), whole) << n.note;
        }
        MailMessage other;
        other.body = composeMessageBody(L"", true);
        other.page = std::make_shared<const std::wstring>(L"x" + text);
        EXPECT_FALSE(ahead->partFor(other));  // not this page
    }
}

TEST(TextToHtml, APairFromPosition32766OnLeavesTheWholeTextUnchanged) {
    const std::wstring x(32764, L'x');
    EXPECT_EQ(TextToHtml(x + L"\r\ntail"), x + L"<br>tail");                           // the pair begins at 32,765
    for (const std::wstring& late : {x + L"x\r\n", L"a\r\n" + x.substr(2) + L"\r\n"})  // pairs at 32,766
        EXPECT_EQ(TextToHtml(late), late);
}

}  // namespace kt
