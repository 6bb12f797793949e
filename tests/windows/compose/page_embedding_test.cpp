// The page as its reader sees it, sent from a composition window that knows
// the page's address, its pictures fetched from a web server on loopback
// (tools/page_server). page_embedding_test.py runs these tests, then judges
// what arrived with Python's email parser and a browser.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "compose/frmEmail.h"
#include "delivery/page/web_fetch.h"
#include "foundation/utf8.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

// The page server of this test run, from the folder the judge names.
struct PageServer {
    PageServer() {
        if (const char* folder = std::getenv("KT_PAGE_SERVER_DIR")) directory = folder;
        std::ifstream(directory + "\\port") >> port;
        std::ifstream(directory + "\\tls-port") >> tlsPort;
    }
    std::wstring address(const std::wstring& path) const {
        return L"http://127.0.0.1:" + std::to_wstring(port) + path;
    }
    // A page as the host hands it over.
    std::wstring page(const std::string& name) const {
        std::stringstream text;
        text << std::ifstream(directory + "\\site\\news\\" + name, std::ios::binary).rdbuf();
        return fromUtf8(text.str());
    }
    std::string served(const std::string& picture) const {
        std::stringstream bytes;
        bytes << std::ifstream(directory + "\\site\\img\\" + picture, std::ios::binary).rdbuf();
        return bytes.str();
    }
    std::vector<std::string> requests() const {
        std::ifstream log(directory + "\\requests");
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

    std::string directory;
    int port = 0;
    int tlsPort = 0;  // the same over https, as "localhost"
};

class PageEmbeddingTest : public WindowsTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(web.port && web.tlsPort && catcher.port) << "run through page_embedding_test.py";
    }

    frmEmail& open(const std::wstring& page, const std::wstring& pageAddress, const std::wstring& subject,
                   const Catcher& to) {
        EXPECT_EQ(invoke(email.get(), L"PageURL", DISPATCH_PROPERTYPUT, {pageAddress}), S_OK);
        frmEmail& form = sendEMail(email.get(), page, L"ann@example.com,Ann", to.server(), {true, true},
                                   L"me@example.com", subject);
        form.tbBody().Text(L"Look at this page");
        return form;
    }

    // Sends at once, so that whatever the pictures left is waited for at Send.
    std::chrono::milliseconds deliver(frmEmail& form) {
        const auto start = std::chrono::steady_clock::now();
        const HWND window = form.hwnd();
        press(form.KT_CB_Send());
        EXPECT_TRUE(closes(window, 60s));
        EXPECT_TRUE(noBox());
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }

    ComPtr<IDispatch> email = newEmail();
    PageServer web;
    Catcher catcher{"catcher"};
    Catcher small{"small"};
};

TEST_F(PageEmbeddingTest, AHostilePageGoesWithinItsDeadlineAndNothingForbiddenIsAsked) {
    const std::wstring subject = uniqueSubject(L"Embedded hostile");
    frmEmail& form = open(web.page("hostile.html"), web.address(L"/news/hostile.html"), subject, catcher);
    // The address belongs to the instance: another one has none.
    std::wstring address, another;
    EXPECT_EQ(invoke(email.get(), L"PageURL", DISPATCH_PROPERTYGET, {}, &address), S_OK);
    EXPECT_EQ(address, web.address(L"/news/hostile.html"));
    EXPECT_EQ(invoke(newEmail().get(), L"PageURL", DISPATCH_PROPERTYGET, {}, &another), S_OK);
    EXPECT_EQ(another, L"");

    // The picture that never answers has 10 s; nothing else holds the message up.
    EXPECT_LT(deliver(form), 20s);
    EXPECT_EQ(catcher.caught(subject).size(), 1u);
    for (const auto& request : web.requests()) {
        for (const char* carried : {" cookie", " authorization"})
            EXPECT_EQ(request.find(carried), std::string::npos) << "cookies or a sign-in went along: " << request;
        for (const char* never : {"/img/far.png", "/img/small.gif", "/img/huge.png", "secret", "unc"})
            EXPECT_EQ(request.find(never), std::string::npos) << request;
    }
}

TEST_F(PageEmbeddingTest, APrettyPageAndAHeavyOneForAServerThatTakesLittle) {
    deliver(open(web.page("pretty.html"), web.address(L"/news/pretty.html"), uniqueSubject(L"Embedded pretty"),
                 catcher));
    const std::wstring heavy = uniqueSubject(L"Embedded heavy");
    deliver(open(web.page("heavy.html"), web.address(L"/news/heavy.html"), heavy, small));
    EXPECT_EQ(small.caught(heavy).size(), 1u);
}

TEST_F(PageEmbeddingTest, StopWhilePicturesComeInKeepsTheWindowAndSendsNothing) {
    const std::wstring subject = uniqueSubject(L"Stopped fetch");
    frmEmail& form = open(web.page("never.html"), web.address(L"/news/never.html"), subject, catcher);
    std::wstring seen;
    const StepsOnTimer stopper(
        [&] {
            if (!IsWindow(form.hwnd()) || !seen.empty()) return;
            if (form.lbInfo().Text().rfind(L"Fetching the page's pictures: ", 0) != 0) return;
            seen = form.lbInfo().Text();
            press(form.KT_CB_Cancel());
        },
        20);
    press(form.KT_CB_Send());
    EXPECT_EQ(seen, L"Fetching the page's pictures: 0 of 1");
    ASSERT_TRUE(IsWindow(form.hwnd()));
    EXPECT_EQ(form.tbBody().Text(), L"Look at this page");
    EXPECT_EQ(form.KT_CB_Cancel().Text(), L"Cancel");
    pumpFor(300ms);
    EXPECT_TRUE(catcher.caught(subject).empty());
    DestroyWindow(form.hwnd());
}

TEST_F(PageEmbeddingTest, PicturesComeOnlyFromTheAddressesCheckedForThePage) {
    // A public page makes nothing on this computer answer.
    std::wstring page = web.page("pretty.html");
    page.replace(page.find(L"blue.jpg"), 8, L"blue.jpg?from-public");
    deliver(open(page, L"http://www.example.com/news/pretty.html", uniqueSubject(L"Public"), catcher));
    for (const auto& request : web.requests()) EXPECT_EQ(request.find("from-public"), std::string::npos);

    // A page here by name has its pictures from the address its name was
    // checked to have (whichever of its addresses answers), the name kept.
    page = web.page("pretty.html");
    page.replace(page.find(L"red.png"), 7, L"red.png?by-name");
    deliver(open(page, L"http://localhost:" + std::to_wstring(web.port) + L"/news/pretty.html",
                 uniqueSubject(L"By name"), catcher));
    const std::string byName = "/img/red.png?by-name host localhost:" + std::to_string(web.port);
    auto requests = web.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), byName), requests.end()) << byName;

    // A name that answers the check otherwise than the system would (DNS
    // rebinding): the fetch goes where the check's answer said, or nowhere.
    const std::string port = std::to_string(web.port);
    const auto answering = [](const char* address) {
        return [address](const std::string&, unsigned short) {
            sockaddr_in ip{};
            ip.sin_family = AF_INET;
            InetPtonA(AF_INET, address, &ip.sin_addr);
            return std::vector<ResolvedAddress>{{AF_INET, std::string(reinterpret_cast<const char*>(&ip), sizeof ip)}};
        };
    };
    const WebFetch rebound(resolveWebAddress(L"http://www.example.com/"), answering("192.0.2.1"));
    EXPECT_FALSE(rebound.get("http://localhost:" + port + "/img/red.png?rebound", 1 << 20, 1500ms));
    const WebFetch pinned(resolveWebAddress(L"http://pictures.invalid/"), answering("127.0.0.1"));
    EXPECT_EQ(pinned.get("http://pictures.invalid:" + port + "/img/red.png?pinned", 1 << 20, 5000ms), web.served("red.png"));
    requests = web.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& line) { return line.find("rebound") != std::string::npos; }),
              0);
    EXPECT_NE(std::find(requests.begin(), requests.end(), "/img/red.png?pinned host pictures.invalid:" + port),
              requests.end());
}

TEST_F(PageEmbeddingTest, SecurePicturesComeByTheNameTheirCertificateHolds) {
    const WebFetch fetch(resolveWebAddress(L"http://localhost/"));
    const std::string port = std::to_string(web.tlsPort);
    EXPECT_EQ(fetch.get("https://localhost:" + port + "/img/red.png?secure", 1 << 20, 5000ms), web.served("red.png"));
    EXPECT_FALSE(fetch.get("https://127.0.0.1:" + port + "/img/red.png?not-its-name", 1 << 20, 5000ms));
    const auto requests = web.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "/img/red.png?secure host localhost:" + port), requests.end());
}

}  // namespace
}  // namespace kt::test
