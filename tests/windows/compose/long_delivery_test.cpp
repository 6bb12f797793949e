// A long delivery as the user sees it in the composition window, at catchers
// that take the message slowly (plain and STARTTLS) and accept it a second
// after its end: the bar, the status and the taskbar button follow it and
// go when it ends; Stop, or closing the window, ends it at every step with
// nothing delivered and no report; the window answers throughout, while a
// lookup that never answers waits for its deadline too.

#include <winsock2.h>
#include <commctrl.h>
#include <wincred.h>

#include <memory>

#include "compose/frmEmail.h"
#include "delivery/components/mail_components.h"
#include "controls/taskbar_progress.h"
#include "delivery/mail_error.h"
#include "foundation/component_error.h"
#include "support/test_servers.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

// What the window showed at one moment of its delivery.
struct Sample {
    std::wstring status;
    int bar = -1;  // the progress bar's position; -1 while there is none
    std::wstring cancel;
    bool cancelEnabled = false;
    DWORD tick = 0;  // when it was taken, by GetTickCount
};

// Each status the window showed, when it first showed it and with what bar: a failure's account.
std::wstring timeline(const std::vector<Sample>& samples) {
    std::wstring told;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (i == 0 || samples[i].status != samples[i - 1].status)
            told += L"\n+" + std::to_wstring(samples[i].tick - samples[0].tick) + L" ms (sample " +
                    std::to_wstring(i) + L"): " + samples[i].status + L", bar " + std::to_wstring(samples[i].bar);
    return told + L"\n" + std::to_wstring(samples.size()) + L" samples";
}

int barPosition(HWND form) {
    const HWND bar = FindWindowExW(form, nullptr, PROGRESS_CLASSW, nullptr);
    return bar ? static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
}

// Looks at the window every 20 ms, inside its delivery too, and may act on what it sees.
class Watcher {
public:
    explicit Watcher(frmEmail& form, std::function<void(const Sample&)> act = nullptr)
        : form_(form), act_(std::move(act)) {}
    std::vector<Sample> samples;

private:
    void look() {
        if (!IsWindow(form_.hwnd())) return;
        samples.push_back({form_.lbInfo().Text(), barPosition(form_.hwnd()), form_.KT_CB_Cancel().Text(),
                           IsWindowEnabled(form_.KT_CB_Cancel().hwnd()) != FALSE, GetTickCount()});
        if (act_) act_(samples.back());
    }

    frmEmail& form_;
    std::function<void(const Sample&)> act_;
    StepsOnTimer ticks_{[this] { look(); }, 20};
};

bool startsWith(const std::wstring& text, const std::wstring& start) { return text.rfind(start, 0) == 0; }

// The share of the message a status names, or -1.
int percentOf(const std::wstring& status) {
    const auto colon = status.rfind(L": ");
    return startsWith(status, L"Sending the message to ") && colon != std::wstring::npos
               ? std::stoi(status.substr(colon + 2))
               : -1;
}

// A lookup that answers only when the test is over.
class StalledLookup {
public:
    AddressLookup lookup() const {
        return [released = released_](const std::string&, unsigned short) {
            WaitForSingleObject(released->get(), INFINITE);
            return std::vector<ResolvedAddress>{};
        };
    }
    ~StalledLookup() { SetEvent(released_->get()); }

private:
    std::shared_ptr<UniqueKernelHandle> released_ =
        std::make_shared<UniqueKernelHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
};

const std::wstring kTypedNote = L"my note\r\n";

class LongDeliveryTest : public WindowsTest {
protected:
    void SetUp() override { ASSERT_TRUE(slow.port && slowTls.port) << "no slow catchers"; }

    // A composition window whose message is 2.4 MB, or whose page's text takes a while to make.
    frmEmail& compose(const std::wstring& server, const std::wstring& subject, bool page = false) {
        std::wstring text = page ? L"<html><body>" : kTypedNote;
        for (int i = 0; i < (page ? 300000 : 40000); ++i)
            text += page ? L"<p>A paragraph of the page, with <b>some</b> markup &amp; more.</p>\n"
                         : L"A line of the page as long as lines of pages are, or so.\r\n";
        frmEmail& form = sendEMail(email.get(), page ? text : kTypedNote, L"ann@example.com,Ann", server,
                                   page ? std::vector<Argument>{true, true} : std::vector<Argument>{},
                                   L"me@example.com", subject);
        form.tbBody().Text(page ? kTypedNote : text);
        return form;
    }

    // The window as the user left it, ready to send again.
    void expectTheWindowAsItWas(frmEmail& form, const std::wstring& what) {
        ASSERT_TRUE(IsWindow(form.hwnd())) << what;
        EXPECT_TRUE(noBox()) << what;
        EXPECT_EQ(form.tbTo().Text(), L"ann@example.com,Ann") << what;
        EXPECT_EQ(form.tbBody().Text().substr(0, kTypedNote.size()), kTypedNote) << what;
        EXPECT_EQ(form.lbInfo().Text(), L"Type in any message you want to appear before the web page.") << what;
        EXPECT_EQ(barPosition(form.hwnd()), -1) << what;
        EXPECT_EQ(form.KT_CB_Cancel().Text(), L"Cancel") << what;
        const FormControl* inputs[] = {&form.KT_CB_Send(), &form.KT_CB_Cancel(), &form.tbTo(), &form.tbBody()};
        for (const FormControl* control : inputs)
            EXPECT_TRUE(IsWindowEnabled(control->hwnd())) << what << ": " << control->name();
        EXPECT_EQ(form.Pointer(), MousePointer::Default) << what;
    }

    Catcher slow{"slow"}, slowTls{"slowtls"}, signIn{"signin"};
    ComPtr<IDispatch> email = newEmail();
};

TEST_F(LongDeliveryTest, TheBarTheStatusAndTheTaskbarFollowTheDeliveryAndAllGoesWhenItEnds) {
    for (const auto& [catcher, host] : {std::pair{&slow, L"127.0.0.1"}, std::pair{&slowTls, L"localhost"}}) {
        SCOPED_TRACE(host);
        const std::wstring subject = uniqueSubject(L"Long");
        frmEmail& form = compose(catcher->server(host), subject);
        std::vector<TaskbarProgressCall> taskbar;
        const ScopedTaskbarRecorder recorder([&](const TaskbarProgressCall& call) { taskbar.push_back(call); });
        Watcher watcher(form);
        press(form.KT_CB_Send());
        ASSERT_TRUE(noBox());
        EXPECT_EQ(catcher->caught(subject).size(), 1u);

        // The steps in their order, Stop while the message goes, none once its end is out; the
        // verdict, with the bar at its end, may show for a moment before all goes.
        const std::vector<std::wstring> steps = {L"Looking up ", L"Connecting to ", L"Securing the connection to ",
                                                 L"Sending the message to ", L"Waiting for ",
                                                 L"The message was accepted."};
        std::vector<int> positions;
        std::size_t reached = 0;
        bool sawShare = false, sawVerdictWait = false;
        for (const Sample& sample : watcher.samples) {
            if (sample.bar < 0) continue;
            positions.push_back(sample.bar);
            const auto step = std::find_if(steps.begin(), steps.end(),
                                           [&](const std::wstring& s) { return startsWith(sample.status, s); });
            ASSERT_NE(step, steps.end()) << sample.status;
            const auto index = static_cast<std::size_t>(step - steps.begin());
            EXPECT_GE(index, reached) << sample.status;
            reached = std::max(reached, index);
            EXPECT_EQ(sample.cancel, L"Stop");
            EXPECT_EQ(sample.cancelEnabled, index < 4) << sample.status;
            sawShare |= percentOf(sample.status) > 0;
            sawVerdictWait |= sample.status == std::wstring(L"Waiting for ") + host + L" to accept the message...";
        }
        EXPECT_TRUE(sawShare && sawVerdictWait) << timeline(watcher.samples);
        // The bar rises with the bytes written, through many steps, short of its end until the verdict.
        ASSERT_FALSE(positions.empty());
        EXPECT_LT(positions.front(), 100) << "the bar began late";
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        EXPECT_GE(std::count_if(positions.begin(), positions.end(), [](int p) { return p > 0 && p < 990; }), 5)
            << "the bar jumped" << timeline(watcher.samples);

        // The taskbar button shows the same: from the start to the end, then nothing.
        ASSERT_GE(taskbar.size(), 3u);
        EXPECT_EQ(taskbar.front().state, TBPF_NORMAL);
        EXPECT_EQ(taskbar.back().state, TBPF_NOPROGRESS);
        std::vector<ULONGLONG> values;
        for (const auto& call : taskbar) {
            EXPECT_EQ(call.window, form.hwnd());
            if (call.total) values.push_back(call.completed);
        }
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        EXPECT_EQ(values.back(), 1000u);
        for (int position : positions)
            EXPECT_NE(std::find(values.begin(), values.end(), static_cast<ULONGLONG>(position)), values.end());
        // Delivered, the window closes; until then it shows nothing of the delivery.
        if (IsWindow(form.hwnd())) {
            EXPECT_EQ(barPosition(form.hwnd()), -1);
            EXPECT_EQ(form.KT_CB_Cancel().Text(), L"Cancel");
        }
        EXPECT_TRUE(closes(form.hwnd()));
    }
}

TEST_F(LongDeliveryTest, StopOrClosingAtEveryStepDeliversNothingAndSendDeliversOnceAfterwards) {
    const StalledLookup stalled;
    const DroppingServer dropping;
    const SilentServer silent, silentTokenEndpoint;
    // For localhost: the sign-in waits for the browser, or for a token endpoint that never answers.
    const ProviderProfile profile(L"http://localhost:" + std::to_wstring(silentTokenEndpoint.port()) + L"/token");
    std::basic_string<BYTE> refreshToken = reinterpret_cast<const BYTE*>("kt-refresh-token");
    const wchar_t* const kept = L"KT_EMailer:OAuth:localhost:me@example.com";
    CredDeleteW(kept, CRED_TYPE_GENERIC, 0);
    const struct {
        std::wstring what, server;
        TransportFactory network;  // none: the system's
        std::function<bool(const Sample&)> stopNow;
        const Catcher* catcher;
        bool refreshTokenKept = false, page = false, close = false;  // close: the window instead of Stop
    } cases[] = {
        {L"lookup", L"mail.example.com", socketsLookingUpWith(stalled.lookup()),
         [](const Sample& s) { return startsWith(s.status, L"Looking up mail.example.com"); }, nullptr},
        {L"connect", L"mail.example.com",
         socketsLookingUpWith([&](const std::string&, unsigned short) {
             return std::vector<ResolvedAddress>{loopbackAddress(dropping.port())};
         }),
         [](const Sample& s) { return startsWith(s.status, L"Connecting to mail.example.com"); }, nullptr},
        {L"TLS", L"smtps://" + silent.server(), nullptr,
         [](const Sample& s) { return startsWith(s.status, L"Securing the connection to 127.0.0.1"); }, nullptr},
        {L"sign-in", signIn.server(L"localhost"), nullptr,
         [](const Sample&) { return findThreadWindow(L"Ardwyn E-Mail Sign-in") != nullptr; }, &signIn},
        {L"body", slow.server(), nullptr, [](const Sample& s) { return percentOf(s.status) >= 10; }, &slow},
        // Send before the page's text is made: the wait for it is the delivery's first step, shown with Stop.
        {L"preparation", slow.server(), nullptr,
         [](const Sample& s) {
             EXPECT_EQ(s.status + L"|" + s.cancel, L"Preparing the message...|Stop");  // the first sample
             return true;
         },
         &slow, false, true},
        {L"closing", slowTls.server(L"localhost"), nullptr, [](const Sample& s) { return percentOf(s.status) >= 10; },
         &slowTls, false, false, true},
        // Last: the refresh token stays kept.
        {L"token refresh", signIn.server(L"localhost"), nullptr,
         [](const Sample& s) { return startsWith(s.status, L"Signing in to localhost"); }, &signIn, true},
    };
    for (const auto& c : cases) {
        const std::wstring subject = uniqueSubject(L"Stopped " + c.what);
        if (c.refreshTokenKept) {
            CREDENTIALW credential{0, CRED_TYPE_GENERIC, const_cast<wchar_t*>(kept), nullptr, {},
                                   static_cast<DWORD>(refreshToken.size()), refreshToken.data(), CRED_PERSIST_LOCAL_MACHINE};
            ASSERT_TRUE(CredWriteW(&credential, 0));
        }
        frmEmail& form = compose(c.server, subject, c.page);
        const HWND window = form.hwnd();
        if (c.network) form.Network(c.network);
        std::chrono::steady_clock::time_point stoppedAt{};
        {
            Watcher watcher(form, [&](const Sample& sample) {
                if (stoppedAt == decltype(stoppedAt){} && c.stopNow(sample)) {
                    stoppedAt = std::chrono::steady_clock::now();
                    c.close ? void(PostMessageW(window, WM_CLOSE, 0, 0)) : press(form.KT_CB_Cancel());
                }
            });
            press(form.KT_CB_Send());
        }
        ASSERT_NE(stoppedAt, decltype(stoppedAt){}) << c.what << ": the step never came";
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 3s) << c.what << ": the delivery went on";
        if (c.close) {
            EXPECT_TRUE(closes(window));
            EXPECT_TRUE(noBox());
        } else {
            expectTheWindowAsItWas(form, c.what);
        }
        EXPECT_EQ(findThreadWindow(L"Ardwyn E-Mail Sign-in"), nullptr) << c.what;
        if (c.catcher) {
            pumpFor(300ms);
            EXPECT_TRUE(c.catcher->caught(subject).empty()) << c.what << ": delivered";
        }
        // Send works again, once: where the server could not be reached, it now can.
        if (c.network || c.what == L"body") {
            if (c.network)
                form.Network(socketsLookingUpWith([&](const std::string&, unsigned short) {
                    return std::vector<ResolvedAddress>{loopbackAddress(static_cast<unsigned short>(slow.port))};
                }));
            press(form.KT_CB_Send());
            EXPECT_EQ(slow.caught(subject).size(), 1u) << c.what;
            EXPECT_TRUE(noBox()) << c.what;
        }
        DestroyWindow(window);
    }
    CredDeleteW(kept, CRED_TYPE_GENERIC, 0);
}

// The host quits while the server decides: the verdict is waited for, not cut off.
TEST_F(LongDeliveryTest, AQuitAfterTheMessagesEndWaitsForTheVerdict) {
    SmtpComponentParts parts;
    bool quitPosted = false;
    parts.progress = std::make_shared<DeliveryProgress>([&](const DeliveryProgress& progress) {
        if (progress.step() == DeliveryStep::AwaitingAcceptance && !std::exchange(quitPosted, true)) PostQuitMessage(0);
    });
    const std::wstring subject = uniqueSubject(L"Quit");
    EXPECT_TRUE(DeliverMail(L"body", subject, L"ann@example.com,Ann", L"", L"", slow.server(), L"me@example.com", true,
                            false, smtpMailComponent(parts)));
    MSG quit;
    EXPECT_TRUE(quitPosted && PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // left for the thread's loop
    EXPECT_TRUE(noBox());
    EXPECT_EQ(slow.caught(subject).size(), 1u);
}

TEST_F(LongDeliveryTest, ALookupThatNeverAnswersKeepsTheWindowAnsweringUntilItsDeadlineEndsItWithAReport) {
    const StalledLookup stalled;
    frmEmail& form = sendEMail(email.get(), kTypedNote, L"ann@example.com,Ann", L"mail.example.com");
    const auto lookUp = socketsLookingUpWith(stalled.lookup());
    form.Network([&](const std::string& host, unsigned short port, const ConnectionTimeouts& timeouts,
                     DeliveryProgress& progress) {
        ConnectionTimeouts shorter = timeouts;
        shorter.connect = 2s;
        return lookUp(host, port, shorter, progress);
    });
    const HWND window = form.hwnd();
    AnswerProbe probe(window);
    int ticks = 0;
    {
        StepsOnTimer hostTimer([&] { ++ticks; }, 50);
        press(form.KT_CB_Send());
    }
    EXPECT_LT(probe.stop(), 250ms) << "the window did not answer";  // a frozen one takes seconds
    EXPECT_GE(ticks, 20) << "the host's timer stood still";
    EXPECT_TRUE(oneBoxSays({L"Error Number: " + std::to_wstring(kApiErrorBase + WSAETIMEDOUT),
                            L"Looking up mail.example.com:25 took too long"}));
    EXPECT_TRUE(IsWindow(window));
}

}  // namespace
}  // namespace kt::test
