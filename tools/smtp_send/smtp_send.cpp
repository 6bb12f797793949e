// Command-line client of the SMTP mail component, for its tests and the
// benchmark: reads one message from a case file and sends it through
// SmtpMailer over the platform's sockets.
//
//   smtp_send <case file>
//
// The case file holds fields as "<key> <length>\n<bytes>\n", UTF-8; "to", "cc"
// and "bcc" repeat, their value an address, optionally a TAB and a name;
// "user" and "password" are a sign-in, given when the server offers one;
// "oauth 1" signs in with the server's provider where its host has a profile
// (the browser opens; "browser_timeout_ms" and "token_timeout_ms" bound the
// waits); "token_endpoint URL" only asks that endpoint for tokens, as a
// refresh does, and sends nothing; "repeat N" sends the message N times, each with a mailer (and
// sign-in) of its own, "pause_ms" apart.
// A page ("html 1") goes after an empty body, kept apart as the composition
// window keeps it; its plain text is made before the clock starts, as the
// window makes it while the user writes the note; "text_at_send 1" leaves
// it to Send, as for a note that leaves markup open.
// "copy_mode", "copy_server" and "copy_folder" are the Sent copy's settings
// ("copy_planned_for" plans it as for another SMTP host, a provider's that
// files its own; natively "ca" is the authority its TLS trusts); the copy then follows the
// message, and a line after the result tells of it: "COPY PLACED <folder>",
// "COPY NONE" or "COPY FAILED <number> <description>".
// Prints "SENT in <seconds> s" (the delivery alone, reading aside), or
// "FAILED <number>" and the description; exit code 0 or 1. On Linux,
// "report_memory 1" adds "MEMORY held <kB> peak <kB>": what the process
// holds once the case is read, and its peak from then to the end.

#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "case_file/case_file.h"
#include "delivery/imap/sent_copy.h"
#include "delivery/mail_error.h"
#include "delivery/smtp/smtp_mailer.h"
#include "foundation/utf8.h"
#include "delivery/sockets/socket_transport.h"
#include "provider_sign_in.h"
#ifndef _WIN32
#include <csignal>

#include "openssl_transport.h"
#endif
#include "foundation/component_error.h"

namespace {

using Fields = kt::tools::CaseFields;

// The sign-in of the case file, as if the system kept it; there is no one to ask.
class GivenSignIn final : public kt::SignInProvider {
public:
    GivenSignIn(std::string user, kt::SecretText password) : user_(std::move(user)), password_(std::move(password)) {}
    std::optional<kt::SignIn> stored(const kt::SignInScope&) override { return kt::SignIn{user_, password_}; }
    std::optional<kt::SignIn> ask(const kt::SignInScope&, bool) override {
        throw kt::mailError(kt::MailFailure::SignInRequired, L"The server refused the sign-in given; no one to ask.");
    }
    void answered(const kt::SignInScope&, bool) override {}

private:
    std::string user_;
    kt::SecretText password_;
};

Fields readCase(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return kt::tools::readCaseFields(file);
}

#ifdef __linux__
// A field of /proc/self/status, in kB.
long statusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, field.size() + 1, field + ":") == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}
// What the process holds now, in kB, and its peak from now on is watched
// (the kernel's high-water mark, reset).
long startMemoryReport() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusKb("VmRSS");
}
void printMemoryReport(long heldKb) { std::cout << "MEMORY held " << heldKb << " peak " << statusKb("VmHWM") << std::endl; }
#else
long startMemoryReport() { return -1; }
void printMemoryReport(long) {}
#endif

// The message's fields as texts, read once; the body is the largest.
struct Message {
    std::vector<std::pair<std::string, std::wstring>> texts;
    std::wstring body;
    std::shared_ptr<const std::wstring> page;
    std::shared_ptr<const kt::PageTextAhead> pageText;
    std::shared_ptr<kt::SignInProvider> passwords;
    bool oauth = false;
    long browserMs = 300000, tokenEndpointMs = 30000;
    std::optional<kt::SentCopySettings> copy;
    std::string copyPlannedFor;
    std::string ca;
    std::string copyOutcome;
};

// Places the copy as the component does once the message went, here and now.
void placeCopy(Message& message, const std::shared_ptr<kt::SignInProvider>& signIn,
               const kt::SmtpMailer::CopyOfSent& copy, const kt::SignInScope& scope, const kt::SignIn* given) {
    try {
        const auto plan = kt::sentCopyPlan(message.copyPlannedFor.empty() ? scope.host : message.copyPlannedFor,
                                           *message.copy);
        if (!plan) {
            message.copyOutcome = "COPY NONE";
            return;
        }
#ifdef _WIN32
        const kt::TransportFactory connect = kt::connectSocket;
#else
        const kt::TransportFactory connect = [&](const std::string& host, unsigned short port,
                                                 const kt::ConnectionTimeouts& timeouts, kt::DeliveryProgress&) {
            return kt::connectWithOpenSsl(host, port, message.ca, timeouts);
        };
#endif
        kt::DeliveryProgress progress;
        const kt::PlacedCopy placed =
            kt::placeCopyOfSent({copy(), scope,
                                 given ? std::optional<kt::SignIn>(std::in_place, given->user, given->password, given->bearer)
                                       : std::nullopt},
                                *plan, signIn.get(), connect, progress,
                                std::chrono::steady_clock::now() + kt::kSentCopyTime);
        message.copyOutcome = "COPY PLACED " + placed.folder;
    } catch (const kt::ComponentError& error) {
        message.copyOutcome = "COPY FAILED " + std::to_string(error.number()) + " " + kt::toUtf8(error.description());
    }
}

// Sets up a mailer from the fields the way DeliverMail drives one, and
// sends; the last time it hands the mailer the body itself.
void send(Message& message, bool last, const kt::SmtpTimeouts& timeouts) {
    // As the component does: a sign-in for each delivery, access tokens kept for the process.
    const auto signIn =
        message.oauth ? kt::providerSignIn(message.passwords, message.browserMs, message.tokenEndpointMs) : message.passwords;
    kt::SmtpMailer mailer(kt::connectSocket, timeouts, signIn);
    for (const auto& [key, text] : message.texts) {
        if (key == "to" || key == "cc" || key == "bcc") {
            const auto tab = text.find(L'\t');
            const std::wstring address = text.substr(0, tab);
            const std::optional<std::wstring> name =
                tab == std::wstring::npos ? std::nullopt : std::optional<std::wstring>(text.substr(tab + 1));
            if (key == "to") mailer.AddTo(address, name);
            if (key == "cc") mailer.AddCc(address, name);
            if (key == "bcc") mailer.AddBcc(address, name);
        } else if (key == "server") mailer.Server(text);
        else if (key == "port") mailer.Port(std::stol(text));
        else if (key == "html") mailer.IsHTML(text == L"1");
        else if (key == "from") mailer.FromAddress(text);
        else if (key == "fromname") mailer.FromName(text);
        else if (key == "subject") mailer.Subject(text);
    }
    mailer.pageAfterBody(message.page);
    mailer.pageTextAhead(message.pageText);
    if (message.copy)
        mailer.onAccepted([&](const kt::SmtpMailer::CopyOfSent& copy, const kt::SignInScope& scope,
                              const kt::SignIn* given) {
            placeCopy(message, signIn, copy, scope, given);
        });
    mailer.Body(last ? std::move(message.body) : message.body);
    mailer.Send();
}

kt::SentCopySettings& copySettings(Message& message) {
    if (!message.copy) message.copy.emplace();
    return *message.copy;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: smtp_send <case file>\n";
        return 2;
    }
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);  // a server that hangs up mid-write is an error, not the end
#endif
    kt::SmtpTimeouts timeouts;
    int repeat = 1;
    Message message;
    std::string user, password;
    long pauseMs = 0;
    bool html = false, textAtSend = false, reportMemory = false;
    std::string tokenEndpoint;
    for (auto& [key, value] : readCase(argv[1])) {
        if (key == "html") html = value == "1";
        if (key == "connect_timeout_ms") timeouts.connection.connect = std::chrono::milliseconds(std::stol(value));
        else if (key == "send_timeout_ms") timeouts.connection.send = std::chrono::milliseconds(std::stol(value));
        else if (key == "reply_timeout_ms") timeouts.replies = kt::ReplyTimeouts::all(std::chrono::milliseconds(std::stol(value)));
        else if (key == "repeat") repeat = std::stoi(value);
        else if (key == "pause_ms") pauseMs = std::stol(value);
        else if (key == "oauth") message.oauth = value == "1";
        else if (key == "browser_timeout_ms") message.browserMs = std::stol(value);
        else if (key == "token_timeout_ms") message.tokenEndpointMs = std::stol(value);
        else if (key == "user") user = value;
        else if (key == "password") password = value;
        else if (key == "body") message.body = kt::fromUtf8(value);
        else if (key == "text_at_send") textAtSend = value == "1";
        else if (key == "report_memory") reportMemory = value == "1";
        else if (key == "token_endpoint") tokenEndpoint = value;
        else if (key == "copy_mode") copySettings(message).mode = kt::fromUtf8(value);
        else if (key == "copy_server") copySettings(message).server = kt::fromUtf8(value);
        else if (key == "copy_folder") copySettings(message).folder = kt::fromUtf8(value);
        else if (key == "copy_planned_for") message.copyPlannedFor = value;
        else if (key == "ca") message.ca = value;
        else message.texts.emplace_back(key, kt::fromUtf8(value));
        std::string().swap(value);  // a large body is kept once, as text
    }
    // The whole body is the page here: nothing goes before it.
    if (html) message.page = std::make_shared<const std::wstring>(std::exchange(message.body, std::wstring()));
    const long heldKb = reportMemory ? startMemoryReport() : -1;
    if (html && !textAtSend) message.pageText = std::make_shared<const kt::PageTextAhead>(L"", message.page);
    if (!user.empty()) message.passwords = std::make_shared<GivenSignIn>(user, kt::SecretText(password));
    try {
        const auto start = std::chrono::steady_clock::now();
        if (!tokenEndpoint.empty()) {
            kt::askTokenEndpoint(tokenEndpoint, message.tokenEndpointMs);
            repeat = 0;
        }
        for (int i = 0; i < repeat; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            send(message, i + 1 == repeat, timeouts);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::cout << "SENT in " << took.count() << " s" << std::endl;
        if (heldKb >= 0) printMemoryReport(heldKb);
        if (!message.copyOutcome.empty()) std::cout << message.copyOutcome << std::endl;
        return 0;
    } catch (const kt::ComponentError& error) {
        std::cout << "FAILED " << error.number() << "\n" << kt::toUtf8(error.description()) << std::endl;
        return 1;
    }
}
