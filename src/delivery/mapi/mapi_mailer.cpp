#include "delivery/mapi/mapi_mailer.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

#include "delivery/mapi/mail_program.h"
#include "foundation/characters.h"
#include "delivery/message/address_rules.h"
#include "delivery/mail_error.h"
#include "foundation/utf8.h"
#include "foundation/api_error.h"
#include "foundation/handles.h"
#include "foundation/background_work.h"
#include "foundation/temporary_folder.h"

namespace kt {
namespace {

constexpr wchar_t kMailClientsKey[] = L"Software\\Clients\\Mail";

// Text for the narrow calls, as faithful as the code page allows: what it
// cannot write becomes `missing`, never a look-alike.
std::string inCodePage(const std::wstring& text, const char* missing) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, missing, nullptr);
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, converted.data(), size, missing, nullptr);
    return converted;
}

bool codePageWrites(const std::wstring& text) {
    BOOL missing = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                        &missing);
    return !missing;
}

// A path that survives the code page, for a call (or a system converting
// for a program) that takes narrow text: the path itself where the code page
// writes it, or its short form, whose names are ASCII.
std::wstring codePageSafePath(const std::wstring& path) {
    if (codePageWrites(path)) return path;
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    std::wstring shortPath(size, L'\0');
    shortPath.resize(GetShortPathNameW(path.c_str(), shortPath.data(), size));
    return shortPath.empty() ? path : shortPath;
}

struct Attachment {
    std::wstring path, name;
};

// The message as a call takes it, in one character size: the structures and
// the text they point into, which lives as long as they do.
template <class Char>
class HandedMessage {
public:
    using Text = std::basic_string<Char>;
    struct Converters {
        std::function<Text(const std::wstring&)> text, fileName;
    };

    HandedMessage(const Converters& convert, const std::optional<MapiMailer::Party>& originator,
                  const std::vector<MapiMailer::Party>& recipients, const std::wstring& subject,
                  const std::wstring& note, const std::optional<Attachment>& attachment) {
        message_.subject = keep(convert.text(subject));
        message_.noteText = keep(convert.text(note));
        const auto describe = [&](const MapiMailer::Party& party) {
            const std::wstring name = withoutOuterBlanks(party.name);
            return mapi::RecipientDesc<Char>{0, party.kind, keep(convert.text(name.empty() ? party.address : name)),
                                             keep(convert.text(L"SMTP:" + party.address)), 0, nullptr};
        };
        if (originator) {
            originator_ = describe(*originator);
            message_.originator = &originator_;
        }
        for (const auto& recipient : recipients) recipients_.push_back(describe(recipient));
        message_.recipientCount = static_cast<ULONG>(recipients_.size());
        message_.recipients = recipients_.data();
        if (attachment) {
            file_ = {0, 0, mapi::kNoPosition, keep(convert.text(attachment->path)),
                     keep(convert.fileName(attachment->name)), nullptr};
            message_.fileCount = 1;
            message_.files = &file_;
        }
    }
    HandedMessage(const HandedMessage&) = delete;
    HandedMessage& operator=(const HandedMessage&) = delete;

    mapi::Message<Char>* get() { return &message_; }

private:
    Char* keep(Text text) {
        texts_.push_back(std::move(text));
        return texts_.back().data();
    }

    std::deque<Text> texts_;  // never moves what it holds
    mapi::RecipientDesc<Char> originator_{};
    std::vector<mapi::RecipientDesc<Char>> recipients_;
    mapi::FileDesc<Char> file_{};
    mapi::Message<Char> message_{};
};

// What one hand-off takes to the mail program's thread, and keeps until the
// program is done with it, however soon the caller stops waiting.
struct HandOff {
    MailProgramCalls calls;
    ULONG_PTR owner = 0;
    std::shared_ptr<const TemporaryFolder> folder;  // holds the attachment's file
    std::optional<Attachment> attachment;
    std::optional<MapiMailer::Party> originator;
    std::vector<MapiMailer::Party> recipients;
    std::wstring subject, note;
};

// The call, wide where the program takes it, narrow otherwise, in the
// apartment mail programs expect; the program's answer.
ULONG handOver(const HandOff& handOff) {
    const ComApartment apartment;
    ULONG result = mapi::kNotSupported;
    if (handOff.calls.sendWide) {
        const auto same = [](const std::wstring& text) { return text; };
        HandedMessage<wchar_t> message({same, same}, handOff.originator, handOff.recipients, handOff.subject,
                                       handOff.note, handOff.attachment);
        result = handOff.calls.sendWide(0, handOff.owner, message.get(), mapi::kLogonUi, 0);
    }
    // A program that offers only the narrow call.
    if (result == mapi::kNotSupported && handOff.calls.sendAnsi) {
        const auto text = [](const std::wstring& t) { return inCodePage(t, "?"); };
        const auto fileName = [](const std::wstring& t) { return inCodePage(t, "_"); };
        HandedMessage<char> message({text, fileName}, handOff.originator, handOff.recipients, handOff.subject,
                                    handOff.note, handOff.attachment);
        result = handOff.calls.sendAnsi(0, handOff.owner, message.get(), mapi::kLogonUi, 0);
    }
    return result;
}

ComponentError noMailProgram(const std::wstring& why) {
    return mailError(MailFailure::NoMailProgram,
                     why + L" Give an SMTP server to send the message through (such as smtp.example.com), or set up a "
                           L"mail program. Nothing was sent.");
}

}  // namespace

MailProgramCalls systemMailProgramCalls() {
    HMODULE mapi = GetModuleHandleW(L"mapi32.dll");
    if (!mapi) mapi = LoadLibraryExW(L"mapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!mapi) return {};
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"mapi32.dll", &pinned);
    return {reinterpret_cast<mapi::SendMailW>(reinterpret_cast<void*>(GetProcAddress(mapi, "MAPISendMailW"))),
            reinterpret_cast<mapi::SendMailA>(reinterpret_cast<void*>(GetProcAddress(mapi, "MAPISendMail")))};
}

std::optional<std::wstring> defaultMailProgram() {
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::wstring name = registryString(root, kMailClientsKey, nullptr);
        if (name.empty()) continue;
        const std::wstring program = std::wstring(kMailClientsKey) + L"\\" + name;
        UniqueRegKey key;
        if (RegOpenKeyExW(root, program.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) continue;
        for (const wchar_t* library : {L"DLLPath", L"DLLPathEx"})
            if (RegQueryValueExW(key.get(), library, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) return name;
    }
    return std::nullopt;
}

MapiMailer::MapiMailer(HWND owner, std::shared_ptr<const std::wstring> page, std::optional<MailProgramCalls> calls)
    : owner_(owner), page_(std::move(page)), calls_(calls) {}

void MapiMailer::Server(const std::wstring& server) {
    if (!usesMailProgram(server))
        throw mailError(MailFailure::InvalidServer, L"The server " + server + L" is no hand-off to the mail program.");
}

void MapiMailer::FromAddress(const std::wstring& address) {
    // The mail program knows its account: without a sender it uses that one.
    if (withoutOuterBlanks(address, L" \t").empty())
        fromAddress_.reset();
    else
        fromAddress_ = fromUtf8(checkedAddress(address).unicode());
}

void MapiMailer::add(ULONG kind, const std::wstring& address, const std::optional<std::wstring>& name) {
    recipients_.push_back({kind, fromUtf8(checkedAddress(address).unicode()), name.value_or(L"")});
}

void MapiMailer::AddTo(const std::wstring& address, const std::optional<std::wstring>& name) {
    add(mapi::kTo, address, name);
}

void MapiMailer::AddCc(const std::wstring& address, const std::optional<std::wstring>& name) {
    add(mapi::kCc, address, name);
}

void MapiMailer::AddBcc(const std::wstring& address, const std::optional<std::wstring>& name) {
    add(mapi::kBcc, address, name);
}

void MapiMailer::Send() {
    if (recipients_.empty()) throw mailError(MailFailure::NoRecipients, L"The message has no recipients.");
    const auto program = defaultMailProgram();
    if (!program)
        throw noMailProgram(
            L"No SMTP server was given, and no mail program is set up to send mail for other programs (Simple MAPI).");
    const MailProgramCalls calls = calls_ ? *calls_ : systemMailProgramCalls();
    if (!calls.sendWide && !calls.sendAnsi)
        throw noMailProgram(
            L"No SMTP server was given, and this system offers no Simple MAPI to reach the mail program " + *program +
            L".");

    HandOff handOff{calls, reinterpret_cast<ULONG_PTR>(owner_)};
    if (html_) {
        auto folder = std::make_shared<TemporaryFolder>();
        const std::wstring name = pageFileName(subject_);
        handOff.attachment = Attachment{codePageSafePath(folder->write(name, pageFileBytes(*page_))), name};
        handOff.folder = std::move(folder);
    }
    if (fromAddress_) handOff.originator = Party{mapi::kOriginator, *fromAddress_, fromName_};
    handOff.recipients = recipients_;
    handOff.subject = subject_;
    handOff.note = note_;
    // However long the program takes: the user is in its window. Only the thread's quit ends the wait.
    const BackgroundWork<ULONG> handed([handOff = std::move(handOff)] { return handOver(handOff); },
                                       L"Starting the hand-off to the mail program failed");
    if (handed.wait(std::chrono::steady_clock::time_point::max(), &untilQuit()) != WaitEnd::Signalled)
        throw mailError(MailFailure::Stopped, L"The hand-off to the mail program was given up; the program may still "
                                              L"send the message.");
    const ULONG result = handed.result();
    if (result == mapi::kSuccess) return;
    if (result == mapi::kUserAbort)
        throw mailError(MailFailure::Stopped, L"The message was cancelled in the mail program; nothing was sent.");
    if (result == mapi::kNotSupported)
        throw noMailProgram(L"No SMTP server was given, and the mail program " + *program +
                            L" does not take messages from other programs (Simple MAPI).");
    throw mailProgramFailure(result, *program);
}

}  // namespace kt
