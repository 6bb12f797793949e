// What the hand-off to the user's mail program works out without Windows:
// which server texts ask for it, the page's file name from any subject, and
// the charset the page's file declares.

#include "delivery/mapi/mail_program.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(MailProgram, AnEmptyServerOrMapiAsksForIt) {
    for (const wchar_t* server : {L"", L"  ", L"mapi:", L" MAPI: "}) EXPECT_TRUE(usesMailProgram(server)) << server;
    for (const wchar_t* server : {L"mapi", L"mapi:x", L"smtp.example.com", L"smtp://mapi:25"})
        EXPECT_FALSE(usesMailProgram(server)) << server;
}

TEST(MailProgram, ThePagesFileNameIsOneEveryWindowsFileSystemTakes) {
    for (const auto& [subject, name] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"News: a/b\\c*d?e\"f<g>h|i", L"News_ a_b_c_d_e_f_g_h_i.htm"},
             {L"Line\r\nbreak\t", L"Line__break_.htm"},
             {L"  Grüße 件名 ... ", L"Grüße 件名.htm"},
             {L"", L"Page.htm"},
             {L"...", L"Page.htm"},
             {L"nul", L"_nul.htm"},
             {L"COM1.report", L"_COM1.report.htm"},
             {L"Console", L"Console.htm"},
             {std::wstring(100, L'x'), std::wstring(80, L'x') + L".htm"},
         })
        EXPECT_EQ(pageFileName(subject), name) << subject.size();
}

TEST(MailProgram, ThePagesFileIsUtf8AndSaysSoInItsHead) {
    const std::string bom = "\xEF\xBB\xBF", meta = "<meta charset=\"utf-8\">";
    for (const auto& [page, file] : std::vector<std::pair<std::wstring, std::string>>{
             {L"<HTML><Head lang=\"de\"><title>Grüße</title></Head></HTML>",
              "<HTML><Head lang=\"de\">" + meta + "<title>Gr\xC3\xBC\xC3\x9F" "e</title></Head></HTML>"},
             {L"<html><header>x</header></html>", "<html><head>" + meta + "</head><header>x</header></html>"},
             {L"<p>a fragment</p>", meta + "<p>a fragment</p>"},
         })
        EXPECT_EQ(pageFileBytes(page), bom + file);
}

}  // namespace
}  // namespace kt
