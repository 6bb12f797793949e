// Command-line client of the Sent copy's IMAP dialogue, for its tests: reads
// one request from a case file and places the copy.
//
//   imap_copy <case file>
//
// The case file holds fields as "<key> <length>\n<bytes>\n": host, port,
// tls ("implicit" or "starttls"), user and password (a token with
// "bearer 1"), folder, message, timeout_ms, and natively ca (the certificate
// authority to trust). Prints "PLACED <folder>\t<APPENDUID>", or
// "FAILED <number>", "SIGN-IN REFUSED <number>", and the description; exit 0 or 1.

#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "case_file/case_file.h"
#include "delivery/imap/imap_session.h"
#include "foundation/utf8.h"
#ifdef _WIN32
#include "delivery/sockets/socket_transport.h"
#else
#include <csignal>

#include "openssl_transport.h"
#endif

namespace {

std::map<std::string, std::string> readCase(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::map<std::string, std::string> fields;
    for (auto& [key, value] : kt::tools::readCaseFields(file)) fields[key] = std::move(value);
    return fields;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: imap_copy <case file>\n";
        return 2;
    }
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);  // a server that hangs up mid-write is an error, not the end
#endif
    auto fields = readCase(argv[1]);
    const std::chrono::milliseconds timeout(fields.count("timeout_ms") ? std::stol(fields["timeout_ms"]) : 30000);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<kt::SignIn> account;
    if (fields.count("user")) account.emplace(fields["user"], kt::SecretText(fields["password"]), fields["bearer"] == "1");
    const kt::SentCopyRequest request{fields["host"], fields["tls"] == "implicit", account ? &*account : nullptr,
                                      fields["folder"], fields["message"]};
    const kt::ConnectionTimeouts timeouts{timeout, timeout, deadline};
    const auto port = static_cast<unsigned short>(std::stoi(fields["port"]));
    try {
#ifdef _WIN32
        kt::DeliveryProgress progress;
        const auto transport = kt::connectSocket(request.host, port, timeouts, progress);
#else
        const auto transport = kt::connectWithOpenSsl(request.host, port, fields["ca"], timeouts);
#endif
        const kt::PlacedCopy placed = kt::placeSentCopy(*transport, request, deadline);
        std::cout << "PLACED " << placed.folder << "\t" << placed.appendUid << std::endl;
        return 0;
    } catch (const kt::ImapSignInRefused& refusal) {
        std::cout << "SIGN-IN REFUSED " << refusal.number() << "\n" << kt::toUtf8(refusal.description()) << std::endl;
    } catch (const kt::ComponentError& error) {
        std::cout << "FAILED " << error.number() << "\n" << kt::toUtf8(error.description()) << std::endl;
    }
    return 1;
}
