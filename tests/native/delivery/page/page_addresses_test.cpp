// A page as a mail reader needs it, and the message that carries its pictures
// within the server's limit.

#include <gtest/gtest.h>

#include <map>

#include "delivery/message/mime_writer.h"
#include "delivery/page/page_addresses.h"
#include "delivery/page/page_pictures.h"
#include "delivery/page/stylesheets.h"
#include "foundation/utf8.h"

namespace kt {
namespace {

const auto kPage = resolveWebAddress(L"https://news.example/a/b/page.html");

PageAddresses addressesOf(std::wstring html, const std::optional<WebAddress>& pageAddress) {
    return pageAddresses(std::make_shared<const std::wstring>(std::move(html)), pageAddress);
}

TEST(PageAddresses, EveryAddressIsMadeAbsoluteAndEachPictureFoundWhereItLands) {
    const struct {
        const wchar_t* html;
        const wchar_t* absolute;  // nullptr: the very text, not a copy of it
        std::vector<std::string> pictures;
        std::optional<WebAddress> pageAddress = kPage;
    } cases[] = {
        {L"<img src=pic.png alt=x>", L"<img src=\"https://news.example/a/b/pic.png\" alt=x>",
         {"https://news.example/a/b/pic.png"}},
        {L"<A HREF='../up?a=1&amp;b=2'>x</A>", L"<A href=\"https://news.example/a/up?a=1&amp;b=2\">x</A>", {}},
        {L"<a href=\"#top\">t</a><a href='javascript:go()'>g</a><a href=mailto:x@y>m</a>", nullptr, {}},
        {L"<base href=\"/root/\"><img src=\"i.gif\">", L"<img src=\"https://news.example/root/i.gif\">",
         {"https://news.example/root/i.gif"}},
        {L"<td background=bg.jpg><video poster=//cdn.example/p.jpg>",
         L"<td background=\"https://news.example/a/b/bg.jpg\"><video poster=\"https://cdn.example/p.jpg\">",
         {"https://news.example/a/b/bg.jpg", "https://cdn.example/p.jpg"}},
        {L"<img srcset=\"s.png 400w, m.png 1000w, l.png 2000w\" alt=a>",
         L"<img src=\"https://news.example/a/b/m.png\" alt=a>", {"https://news.example/a/b/m.png"}},
        {L"<img src=https://x.example/p.png>", nullptr, {"https://x.example/p.png"}},
        {L"<div style=\"background: url('bg.png') no-repeat\">",
         L"<div style=\"background: url(&quot;https://news.example/a/b/bg.png&quot;) no-repeat\">",
         {"https://news.example/a/b/bg.png"}},
        {L"<style>p{background:url(p.gif)}</style><script>var s='<img src=no.png>'</script>",
         L"<style>p{background:url(\"https://news.example/a/b/p.gif\")}</style><script>var s='<img src=no.png>'</script>",
         {"https://news.example/a/b/p.gif"}},
        {L"<!-- <img src=c.png> --><img src=\"data:image/gif;base64,R0lGODdh\">", nullptr,
         {"data:image/gif;base64,R0lGODdh"}},
        // Without an address, relative ones stay, unless the page's own absolute <base> stands in for it.
        {L"<img src=a.png><img src=\"http://h.example/b.png\">", nullptr, {"http://h.example/b.png"}, std::nullopt},
        {L"<base href=\"http://h.example/d/\"><img src=a.png>", L"<img src=\"http://h.example/d/a.png\">",
         {"http://h.example/d/a.png"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.html));
        const auto source = std::make_shared<const std::wstring>(c.html);
        const PageAddresses page = pageAddresses(source, c.pageAddress);
        EXPECT_EQ(toUtf8(*page.html), toUtf8(c.absolute ? c.absolute : c.html));
        EXPECT_TRUE(c.absolute || page.html == source) << "a copy of a text nothing changed";
        ASSERT_EQ(page.pictures.size(), c.pictures.size());
        for (std::size_t i = 0; i < c.pictures.size(); ++i) {
            const AddressInPage& found = page.pictures[i];
            EXPECT_EQ(found.address, c.pictures[i]);
            // The span is the address as written in the result, entities and all.
            const std::string written = toUtf8(page.html->substr(found.start, found.length));
            EXPECT_NE(written.find(c.pictures[i].substr(c.pictures[i].size() - 5)), std::string::npos);
        }
    }
    EXPECT_FALSE(addressesOf(L"<img src=a.png>", std::nullopt).base);
}

TEST(Stylesheets, SheetsGoInsideAtTheirPlaceWithTheirAddressesAndOneLevelOfImports) {
    const std::map<std::string, std::string> served{
        {"https://news.example/css/site.css",
         "@charset \"utf-8\";\n@import \"parts/base.css\";\n@import url(print.css) print;\nh1{background:url(../i/h.png)}"},
        {"https://news.example/css/parts/base.css", "@import url(deeper.css);\nbody{background:url(b.gif)}</style>"},
    };
    const SheetFetch fetch = [&](const std::string& address) -> std::optional<std::string> {
        return served.count(address) ? std::optional<std::string>(served.at(address)) : std::nullopt;
    };
    const PageAddresses page = addressesOf(
        L"<head><link rel=stylesheet href=/css/site.css><link rel=\"alternate stylesheet\" href=alt.css>"
        L"<link rel=stylesheet media=print href=p.css><link rel=stylesheet href=gone.css>"
        L"<style>@import '/css/parts/base.css';@import url(gone.css);p{color:red}</style></head>",
        kPage);
    ASSERT_EQ(page.stylesheets.size(), 2u);
    EXPECT_EQ(toUtf8(withStylesheetsInside(page, fetch)),
              "<head><style>\n@import url(\"https://news.example/css/parts/deeper.css\");\n"
              "body{background:url(\"https://news.example/css/parts/b.gif\")}<\\/style>\n"
              "@import url(\"https://news.example/css/print.css\") print;\n"
              "h1{background:url(\"https://news.example/i/h.png\")}</style>"
              "<link rel=\"alternate stylesheet\" href=\"https://news.example/a/b/alt.css\">"
              "<link rel=stylesheet media=print href=\"https://news.example/a/b/p.css\">"
              "<link rel=stylesheet href=\"https://news.example/a/b/gone.css\">"
              // A page's own <style> imports as a sheet does, one level deep.
              "<style>@import url(\"https://news.example/css/parts/deeper.css\");\n"
              "body{background:url(\"https://news.example/css/parts/b.gif\")}<\\/style>"
              "@import url(\"https://news.example/a/b/gone.css\");p{color:red}</style></head>");
}

const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + "png bytes";
const std::string kGif = "GIF89a gif bytes";

TEST(PagePictures, EachAddressGoesOnceKnownByItsBytesAndOnlyWhatEveryReaderShows) {
    const std::wstring html =
        L"<img src=a.png><img src=b.png><img src=a.png><img src=s.svg><img src=w.webp>"
        L"<img src=\"data:image/gif;base64,R0lGODlhIGdpZg==\"><img src=\"data:image/png,%89PNG%0D%0A%1A%0A\">";
    const PageAddresses page = addressesOf(html, kPage);
    EXPECT_EQ(picturesToFetch(page.pictures),
              (std::vector<std::string>{"https://news.example/a/b/a.png", "https://news.example/a/b/b.png",
                                        "https://news.example/a/b/s.svg", "https://news.example/a/b/w.webp"}));
    const auto bytes = [](std::string b) { return std::make_shared<const std::string>(std::move(b)); };
    const PagePictures pictures = pagePictures(
        page.html, page.pictures,
        {{"https://news.example/a/b/a.png", bytes(kGif)},  // its name lies: it is a GIF
         {"https://news.example/a/b/b.png", bytes(kPng)},
         {"https://news.example/a/b/s.svg", bytes("<svg xmlns='http://www.w3.org/2000/svg'/>")},
         {"https://news.example/a/b/w.webp", bytes("RIFF\x10\0\0\0WEBPVP8 ")}});
    ASSERT_EQ(pictures.pictures.size(), 4u);
    EXPECT_EQ(pictures.pictures[0].mediaType, "image/gif");
    EXPECT_EQ(pictures.pictures[0].fileName, "a.gif");
    EXPECT_EQ(pictures.pictures[1].address, "https://news.example/a/b/b.png");
    EXPECT_EQ(*pictures.pictures[2].bytes, "GIF89a gif");
    EXPECT_EQ(pictures.pictures[2].address, "");
    EXPECT_EQ(pictures.pictures[2].fileName, "picture-3.gif");
    EXPECT_EQ(pictures.pictures[3].mediaType, "image/png");
    std::vector<std::size_t> referenced;
    for (const auto& r : pictures.references) referenced.push_back(r.picture);
    EXPECT_EQ(referenced, (std::vector<std::size_t>{0, 1, 0, 2, 3}));
}

TEST(PagePictures, TheMessageCarriesWhatFitsItsLimitAndNamesItByContentId) {
    const std::wstring html = L"<p><img src=\"https://h.example/big.png\"><img src=\"https://h.example/small.gif\"></p>\r\n";
    const PageAddresses page = addressesOf(html, std::nullopt);
    auto pictures = std::make_shared<const PagePictures>(pagePictures(
        page.html, page.pictures,
        {{"https://h.example/big.png", std::make_shared<const std::string>(kPng + std::string(60000, 'x'))},
         {"https://h.example/small.gif", std::make_shared<const std::string>(kGif)}}));
    MailMessage message;
    message.from = Mailbox{checkedAddress(L"me@h.example"), std::nullopt};
    message.to = {*message.from};
    message.html = true;
    message.body = L"<p>A note</p>\r\n<hr>\r\n" + *page.html;
    const MessageStamp stamp{"Mon, 07 Dec 2026 10:00:00 +0000", "<1@h.example>", "=_kt-0123456789abcdef0123"};
    const TextPart text = textPart(message);
    // The page kept apart after the note, as the window keeps it, goes as the body holding both.
    MailMessage apart = message;
    apart.body = L"<p>A note</p>\r\n<hr>\r\n";
    apart.page = page.html;
    const TextPart apartText = textPart(apart);
    const auto written = [&](const MessageForm& form, const Embedding& embedding) {
        std::string out = writeHeaders(message, stamp, form);
        writeBody(message, text, stamp, form.encoding, [&](const std::string& piece) { out += piece; }, embedding);
        EXPECT_EQ(out.size(), writeHeaders(message, stamp, form).size() +
                                  bodySize(message, text, stamp, form.encoding, embedding));
        const Embedding apartEmbedding = embeddingWithin(apart, apartText, stamp, form, *pictures);
        std::string apartOut = writeHeaders(apart, stamp, form);
        writeBody(apart, apartText, stamp, form.encoding, [&](const std::string& piece) { apartOut += piece; },
                  embedding.empty() ? Embedding{} : apartEmbedding);
        EXPECT_EQ(apartOut, out);
        return out;
    };

    const MessageForm eightBit{BodyEncoding::EightBit};
    const Embedding both = embeddingWithin(message, text, stamp, eightBit, *pictures);
    EXPECT_EQ(both.taken, (std::vector<std::size_t>{0, 1}));
    const std::string whole = written(eightBit, both);
    EXPECT_NE(whole.find("<img src=\"cid:p1.0123456789abcdef@kt-emailer\"><img src=\"cid:p2."), std::string::npos);
    EXPECT_NE(whole.find("Content-Type: multipart/related; boundary=\"=_kr-0123456789abcdef0123\"; type=\"text/html\""),
              std::string::npos);
    EXPECT_NE(whole.find("Content-ID: <p2.0123456789abcdef@kt-emailer>\r\nContent-Location: "
                         "https://h.example/small.gif\r\nContent-Disposition: inline; filename=\"small.gif\"\r\n"),
              std::string::npos);
    // The text part shows the page as it was, with its addresses.
    EXPECT_EQ(whole.find("cid:"), whole.find("<img src=\"cid:") + 10);

    // A limit that leaves room for the small picture only: the big one stays remote.
    const MessageForm tight{BodyEncoding::EightBit, false, written(eightBit, {}).size() + 2000};
    const Embedding small = embeddingWithin(message, text, stamp, tight, *pictures);
    EXPECT_EQ(small.taken, (std::vector<std::size_t>{1}));
    const std::string fitted = written(tight, small);
    EXPECT_LE(fitted.size(), tight.sizeLimit);
    EXPECT_NE(fitted.find("<img src=\"https://h.example/big.png\"><img src=\"cid:p2."), std::string::npos);

    // A body that does not end with the page (a note left an element open) carries none.
    message.body += L"<p>";
    EXPECT_TRUE(embeddingWithin(message, text, stamp, {}, *pictures).empty());
}

}  // namespace
}  // namespace kt
