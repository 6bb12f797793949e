// Command-line client of the SMTP mail component, for its tests and the
// benchmark: reads one message from a case file
// and sends it through SmtpMailer over the platform's sockets.
//
//   smtp_send <case file>
//
// The case file holds fields as "<key> <length>\n<bytes>\n", UTF-8; "to", "cc"
// and "bcc" repeat, their value an address, optionally a TAB and a name;
// "user" and "password" are a sign-in, given when the server offers one.
// Prints "SENT", or "FAILED <number>" and the description; exit code 0 or 1.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "delivery/smtp/mail_error.h"
#include "delivery/smtp/smtp_mailer.h"
#include "delivery/smtp/utf8.h"
#include "foundation/component_error.h"
#include "delivery/sockets/socket_transport.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The sign-in of the case file, as if the system kept it; there is no one to ask.
class GivenSignIn final : public kt::SignInProvider {
public:
    explicit GivenSignIn(kt::SignIn signIn) : signIn_(std::move(signIn)) {}
    std::optional<kt::SignIn> stored(const std::string&) override { return signIn_; }
    std::optional<kt::SignIn> ask(const std::string&, bool) override {
        throw kt::mailError(kt::MailFailure::SignInRequired, L"The server refused the sign-in given; no one to ask.");
    }
    void answered(const std::string&, bool) override {}

private:
    kt::SignIn signIn_;
};

Fields readCase(const char* path) {
    std::ifstream file(path, std::ios::binary);
    Fields fields;
    std::string key;
    std::size_t length = 0;
    while (file >> key >> length) {
        file.get();  // the line break after the length
        std::string value(length, '\0');
        file.read(value.data(), static_cast<std::streamsize>(length));
        file.get();
        fields.emplace_back(key, value);
    }
    return fields;
}

std::string fieldValue(const Fields& fields, const std::string& wanted) {
    for (const auto& [key, value] : fields)
        if (key == wanted) return value;
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: smtp_send <case file>\n";
        return 2;
    }
    using kt::fromUtf8;
    kt::SmtpTimeouts timeouts;
    std::unique_ptr<kt::SmtpMailer> mailer;
    try {
        const Fields fields = readCase(argv[1]);
        std::shared_ptr<GivenSignIn> signIn;
        for (const auto& [key, value] : fields) {
            if (key == "connect_timeout_ms") timeouts.connection.connect = std::chrono::milliseconds(std::stol(value));
            if (key == "send_timeout_ms") timeouts.connection.send = std::chrono::milliseconds(std::stol(value));
            if (key == "reply_timeout_ms") timeouts.reply = std::chrono::milliseconds(std::stol(value));
            if (key == "user") signIn = std::make_shared<GivenSignIn>(kt::SignIn{value, fieldValue(fields, "password")});
        }
        mailer = std::make_unique<kt::SmtpMailer>(kt::connectSocket, timeouts, signIn);
        for (const auto& [key, value] : fields) {
            const std::wstring text = fromUtf8(value);
            if (key == "to" || key == "cc" || key == "bcc") {
                const auto tab = text.find(L'\t');
                const std::wstring address = text.substr(0, tab);
                const std::optional<std::wstring> name =
                    tab == std::wstring::npos ? std::nullopt : std::optional<std::wstring>(text.substr(tab + 1));
                if (key == "to") mailer->AddTo(address, name);
                if (key == "cc") mailer->AddCc(address, name);
                if (key == "bcc") mailer->AddBcc(address, name);
            } else if (key == "server") mailer->Server(text);
            else if (key == "port") mailer->Port(std::stol(value));
            else if (key == "html") mailer->IsHTML(value == "1");
            else if (key == "from") mailer->FromAddress(text);
            else if (key == "fromname") mailer->FromName(text);
            else if (key == "subject") mailer->Subject(text);
            else if (key == "body") mailer->Body(text);
        }
        mailer->Send();
        std::cout << "SENT" << std::endl;
        return 0;
    } catch (const kt::ComponentError& error) {
        std::cout << "FAILED " << error.number() << "\n" << kt::toUtf8(error.description()) << std::endl;
        return 1;
    }
}
