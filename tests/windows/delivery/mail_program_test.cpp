// The hand-off to the user's own mail program when no SMTP server is given,
// with a test mail program set up as Windows sets up mail programs (the
// default under HKLM\Software\Clients\Mail, whose key names its DLL): what
// it receives of plain and HTML messages, each of its answers as the user
// meets them in the window, none set up, one that offers only the narrow
// call, and one that takes its time while the window answers, or the host quits.

#include <fstream>
#include <memory>

#include "case_file/case_file.h"
#include "compose/frmEmail.h"
#include "delivery/mapi/mail_program.h"
#include "delivery/mapi/mapi_mailer.h"
#include "delivery/mail_error.h"
#include "foundation/utf8.h"
#include "foundation/handles.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

const wchar_t kClients[] = L"Software\\Clients\\Mail";
const wchar_t kProgram[] = L"Software\\Clients\\Mail\\KT Test Mail";

// One message as the mail program received it.
struct Received {
    tools::CaseFields fields;
    std::vector<std::string> all(const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& [name, value] : fields)
            if (name == key) values.push_back(value);
        return values;
    }
    std::string operator[](const std::string& key) const {
        const auto values = all(key);
        return values.empty() ? "(none)" : values[0];
    }
};

// The machine's default mail program as a test wants it while this lives:
// the test mail program (from the given DLL), or none.
class MailProgramSetUp {
public:
    explicit MailProgramSetUp(const char* library = KT_TEST_MAIL_PROGRAM)
        : previous_(registryString(HKEY_LOCAL_MACHINE, kClients, nullptr)) {
        if (!library) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kClients, nullptr);
            return;
        }
        wchar_t temporary[MAX_PATH];
        GetTempPathW(MAX_PATH, temporary);
        outbox_ = std::wstring(temporary) + L"kt-test-mail-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(outbox_.c_str(), nullptr);
        setRegistryString(HKEY_LOCAL_MACHINE, kClients, nullptr, L"KT Test Mail");
        setRegistryString(HKEY_LOCAL_MACHINE, kProgram, L"DLLPath", windowsPathOf(library));
        setRegistryString(HKEY_LOCAL_MACHINE, kProgram, L"Outbox", outbox_);
        answer(0);
    }
    MailProgramSetUp(const MailProgramSetUp&) = delete;
    MailProgramSetUp& operator=(const MailProgramSetUp&) = delete;
    ~MailProgramSetUp() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProgram);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProgram);
        if (previous_.empty())
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kClients, nullptr);
        else
            setRegistryString(HKEY_LOCAL_MACHINE, kClients, nullptr, previous_);
        for (int n = 1; DeleteFileW(message(n).c_str()); ++n) {
        }
        RemoveDirectoryW(outbox_.c_str());
    }

    // What the program answers the next calls (a Simple MAPI code), after how long.
    void answer(DWORD code, DWORD delayMs = 0) const {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProgram, L"Answer", REG_DWORD, &code, sizeof code);
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProgram, L"DelayMs", REG_DWORD, &delayMs, sizeof delayMs);
    }

    std::vector<Received> received() const {
        std::vector<Received> messages;
        for (int n = 1;; ++n) {
            std::ifstream file(toUtf8(message(n)), std::ios::binary);  // the temporary folder's path is ASCII here
            if (!file) return messages;
            messages.push_back({tools::readCaseFields(file)});
        }
    }

private:
    std::wstring message(int n) const { return outbox_ + L"\\message-" + std::to_wstring(n) + L".txt"; }

    std::wstring previous_;
    std::wstring outbox_;
};

bool folderExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(fromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class MailProgramTest : public WindowsTest {
protected:
    // A window whose message goes to the mail program; what it holds of the note is `note`.
    frmEmail& compose(const std::wstring& body, std::vector<Argument> flags = {},
                      const std::wstring& subject = L"A page") {
        frmEmail& form = sendEMail(email.get(), body, L"bob@example.com,Bob Ray;ann@example.com,Анна Иванова", L"",
                                   std::move(flags), L"Ann Sender <a@example.com>", subject);
        form.tbcc().Text(L"cy@example.com,李小龍");
        form.tbBcc().Text(L"dee@example.com,Dee");
        return form;
    }

    // The window after a hand-off that sent nothing: every field as it was, all enabled.
    void expectTheWindowKept(frmEmail& form, const std::wstring& body) {
        pumpFor(100ms);
        ASSERT_TRUE(IsWindow(form.hwnd()));
        EXPECT_EQ(form.tbBody().Text(), body);
        EXPECT_EQ(form.tbcc().Text(), L"cy@example.com,李小龍");
        EXPECT_TRUE(IsWindowEnabled(form.KT_CB_Send().hwnd()));
        EXPECT_TRUE(IsWindowEnabled(form.KT_CB_Cancel().hwnd()));
    }

    ComPtr<IDispatch> email = newEmail();
};

TEST_F(MailProgramTest, PlainAndHtmlMessagesArriveWithEveryRecipientAndThePageAsAFileThatIsGoneAfterwards) {
    const MailProgramSetUp program;
    const std::wstring subject =
        L"Ünïcödé 件名: a subject as long as subjects get when people paste the page's title / and more";
    frmEmail& plain = compose(L"Dear Bob,\r\nhave a look.\r\n", {}, subject);
    const HWND plainWindow = plain.hwnd();
    press(plain.KT_CB_Send());
    EXPECT_TRUE(closes(plainWindow)) << "a delivered message's window closes";

    const std::wstring page = L"<html><HEAD><title>t</title></HEAD><body>Grüße <img src=a.png></body></html>";
    ASSERT_EQ(invoke(email.get(), L"PageURL", DISPATCH_PROPERTYPUT, {L"https://pages.invalid/news/"}), S_OK);
    frmEmail& html = sendEMail(email.get(), page, L"bob@example.com,Bob Ray", L"mapi:", {true, true},
                               L"a@example.com", L"Con");
    html.tbBody().Text(L"Look at this");
    press(html.KT_CB_Send());
    // The mail program knows its account: a message without a sender goes without an originator.
    press(sendEMail(email.get(), L"plain", L"bob@example.com,Bob", L"", {}, L" ").KT_CB_Send());
    EXPECT_TRUE(noBox());

    const auto received = program.received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2]["originator"], "(none)");
    const Received& first = received[0];
    EXPECT_EQ(first["call"], "W");
    EXPECT_EQ(first["flags"], "1");  // MAPI_LOGON_UI, and no dialog of its own
    EXPECT_EQ(first["owner"], "yes");
    EXPECT_EQ(first["subject"], toUtf8(subject));
    EXPECT_EQ(first["note"], "Dear Bob,\r\nhave a look.\r\n");
    EXPECT_EQ(first["originator"], "0\tAnn Sender\tSMTP:a@example.com");
    EXPECT_EQ(first.all("recipient"),
              (std::vector<std::string>{"1\tBob Ray\tSMTP:bob@example.com", toUtf8(L"1\tАнна Иванова\tSMTP:ann@example.com"),
                                        toUtf8(L"2\t李小龍\tSMTP:cy@example.com"), "3\tDee\tSMTP:dee@example.com"}));
    EXPECT_EQ(first["file"], "(none)");

    const Received& second = received[1];
    EXPECT_EQ(second["note"], "Look at this");
    EXPECT_EQ(second["originator"], "0\ta@example.com\tSMTP:a@example.com");
    const std::string file = second["file"];
    EXPECT_EQ(file.substr(0, file.find('\t')), "_Con.htm");  // a device name is no file name
    EXPECT_EQ(second["file-bytes"],
              "\xEF\xBB\xBF<html><HEAD><meta charset=\"utf-8\"><title>t</title></HEAD>"
              "<body>Gr\xC3\xBC\xC3\x9F" "e <img src=\"https://pages.invalid/news/a.png\"></body></html>");
    const std::string path = file.substr(file.find('\t') + 1);
    EXPECT_FALSE(folderExists(path.substr(0, path.rfind('\\')))) << path;
}

TEST_F(MailProgramTest, EachAnswerOfTheMailProgramAsTheUserMeetsItAndNoneSetUp) {
    const long noProgram = kMailErrorBase + static_cast<long>(MailFailure::NoMailProgram);
    const struct {
        DWORD code;  // 0: none set up
        long number;  // 0: no report
        std::vector<std::wstring> words;
    } answers[] = {
        {1, 0, {}},  // the user cancelled in the mail program
        {3, kMailProgramErrorBase + 3, {L"KT Test Mail", L"signing in to it failed (Simple MAPI code 3)"}},
        {14, kMailProgramErrorBase + 14, {L"KT Test Mail", L"a recipient is unknown to it"}},
        {21, kMailProgramErrorBase + 21, {L"KT Test Mail", L"a recipient is ambiguous"}},
        {18, kMailProgramErrorBase + 18, {L"KT Test Mail", L"the text is too large for it"}},
        {26, noProgram, {L"KT Test Mail", L"Give an SMTP server"}},
        // Said in plain words, with the way out.
        {0, noProgram, {L"no mail program is set up", L"Give an SMTP server"}},
    };
    const std::wstring body = L"my note";
    auto program = std::make_unique<MailProgramSetUp>();
    for (const auto& a : answers) {
        SCOPED_TRACE(a.code);
        if (a.code) {
            program->answer(a.code);
        } else {
            // One message for each answer, and for 26 the narrow call tried too.
            EXPECT_EQ(program->received().size(), std::size(answers));
            program.reset();
            program = std::make_unique<MailProgramSetUp>(nullptr);
        }
        shownBoxes.clear();
        frmEmail& form = compose(body);
        press(form.KT_CB_Send());
        auto words = a.words;
        words.push_back(L"Error Number: " + std::to_wstring(a.number) + L"\r\n");
        EXPECT_TRUE(a.number ? oneBoxSays(words) : noBox());
        expectTheWindowKept(form, body);
        DestroyWindow(form.hwnd());
    }
}

TEST_F(MailProgramTest, AProgramWithTheNarrowCallAloneGetsTheTextAsTheCodePageWritesIt) {
    const MailProgramSetUp program(KT_TEST_MAIL_PROGRAM_NARROW);
    // Through the system's MAPI, which turns the wide call into the narrow one.
    frmEmail& form = compose(L"<p>page</p>", {true, true}, L"Café ÷ 件");
    form.tbBody().Text(L"Grüße");
    press(form.KT_CB_Send());
    EXPECT_TRUE(noBox());
    // And the component's own narrow call, for a system that offers no wide one.
    MapiMailer mailer(nullptr, std::make_shared<const std::wstring>(L"<p>page</p>"), MailProgramCalls{nullptr, systemMailProgramCalls().sendAnsi});
    mailer.IsHTML(true);
    mailer.FromAddress(L"a@example.com");
    mailer.FromName(L"Łukasz");
    mailer.AddTo(L"bob@example.com", L"Bob");
    mailer.Subject(L"Café ł 件");
    mailer.Body(L"Grüße ł");
    mailer.Send();

    const auto received = program.received();
    ASSERT_EQ(received.size(), 2u);
    for (const Received& message : received) {
        EXPECT_EQ(message["call"], "A");
        // What the code page (1252) writes arrives whole.
        EXPECT_EQ(message["note"].substr(0, 6), "Gr\xC3\xBC\xC3\x9F");
        EXPECT_NE(message["file-bytes"].find("<meta charset=\"utf-8\">"), std::string::npos);
    }
    EXPECT_EQ(received[1]["subject"], "Caf\xC3\xA9 ? ?");  // never a look-alike
    EXPECT_EQ(received[1]["originator"], "0\t?ukasz\tSMTP:a@example.com");
    EXPECT_EQ(received[1]["file"].substr(0, received[1]["file"].find('\t')), "Caf\xC3\xA9 _ _.htm");
}

// A program that takes its time: the window answers meanwhile and takes no
// input; a quit from the host ends the wait at once, and the program still
// reads the whole message afterwards.
TEST_F(MailProgramTest, AProgramThatTakesItsTimeLeavesTheWindowAnsweringAndTakingNoInputUntilItOrAQuitEndsTheWait) {
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "quit" : "waited");
        const MailProgramSetUp program;
        program.answer(0, 2000);
        frmEmail& form = compose(L"<p>the page</p>", {true, true}, L"Taking its time");
        AnswerProbe probe(form.hwnd());
        bool inputTaken = false;
        int ticks = 0;
        const auto start = std::chrono::steady_clock::now();
        {
            StepsOnTimer looking([&] {
                inputTaken |= IsWindowEnabled(form.KT_CB_Cancel().hwnd()) != FALSE;
                if (quit && ++ticks == 2) PostQuitMessage(0);
            }, 100);
            press(form.KT_CB_Send());
        }
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(quit ? waited < 1500ms : waited > 1900ms) << "the wait outlasted the quit, or ended early";
        MSG message;  // left for the thread's loop, before the probe's end pumps it away
        EXPECT_EQ(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, quit);
        EXPECT_LT(probe.stop(), 250ms) << "the window did not answer";  // a frozen one takes seconds
        EXPECT_FALSE(inputTaken) << "Cancel took input while the mail program had the message";
        EXPECT_TRUE(noBox());
        ASSERT_TRUE(pumpUntil([&] { return program.received().size() == 1; }, 5000ms));
        const Received received = program.received()[0];
        EXPECT_EQ(received["subject"], "Taking its time");
        EXPECT_EQ(received.all("recipient").size(), 4u);
        EXPECT_NE(received["file-bytes"].find("<p>the page</p>"), std::string::npos) << received["file-bytes"];
    }
}

}  // namespace
}  // namespace kt::test
