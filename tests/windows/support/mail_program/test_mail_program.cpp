// A mail program for the tests, taking Simple MAPI calls as the user's mail
// program does. It is set up under HKLM\Software\Clients\Mail\KT Test Mail,
// whose values also tell it what to do: it writes each message it gets into
// the folder Outbox, waits DelayMs, and answers Answer (a Simple MAPI code).
// Built twice: with the wide call and the narrow one, and (KT_NARROW_ONLY)
// with the narrow one alone, as older programs are.
//
// A message is the file message-N.txt of fields "<key> <length>\n<value>\n",
// UTF-8: call (W or A), flags, owner (yes when given a window), subject,
// note, originator and recipient ("<class>\t<name>\t<address>"), file
// ("<name>\t<path>") and file-bytes.

#include <windows.h>

#include <string>

#include "delivery/mapi/simple_mapi.h"

namespace {

const wchar_t kKey[] = L"Software\\Clients\\Mail\\KT Test Mail";

std::string utf8(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, converted.data(), size, nullptr, nullptr);
    return converted;
}

[[maybe_unused]] std::wstring wide(const wchar_t* text) { return text ? text : L""; }
std::wstring wide(const char* text) {
    if (!text) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring converted(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, converted.data(), size);
    converted.resize(converted.size() - 1);
    return converted;
}

std::wstring setting(const wchar_t* name) {
    wchar_t text[MAX_PATH] = L"";
    DWORD size = sizeof text;
    RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

DWORD number(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

std::string fileBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(cannot be opened)";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    return bytes;
}

template <class Char>
ULONG receive(const char* call, ULONG_PTR owner, kt::mapi::Message<Char>* message, ULONG flags) {
    // As a program whose window the user works in first: the message is read afterwards.
    Sleep(number(L"DelayMs"));
    std::string record;
    const auto field = [&](const char* key, const std::string& value) {
        record += std::string(key) + " " + std::to_string(value.size()) + "\n" + value + "\n";
    };
    const auto party = [&](const kt::mapi::RecipientDesc<Char>& p) {
        return std::to_string(p.recipientClass) + "\t" + utf8(wide(p.name)) + "\t" + utf8(wide(p.address));
    };
    field("call", call);
    field("flags", std::to_string(flags));
    field("owner", owner ? "yes" : "no");
    field("subject", utf8(wide(message->subject)));
    field("note", utf8(wide(message->noteText)));
    if (message->originator) field("originator", party(*message->originator));
    for (ULONG i = 0; i < message->recipientCount; ++i) field("recipient", party(message->recipients[i]));
    for (ULONG i = 0; i < message->fileCount; ++i) {
        const std::wstring path = wide(message->files[i].pathName);
        field("file", utf8(wide(message->files[i].fileName)) + "\t" + utf8(path));
        field("file-bytes", fileBytes(path));
    }

    const std::wstring outbox = setting(L"Outbox");
    for (int n = 1;; ++n) {
        const std::wstring name = outbox + L"\\message-" + std::to_wstring(n) + L".txt";
        const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return kt::mapi::kNotSupported + 100;  // no outbox: the test shows the code
        }
        DWORD written = 0;
        WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        CloseHandle(file);
        return number(L"Answer");
    }
}

}  // namespace

extern "C" {

ULONG WINAPI MAPISendMail(kt::mapi::SessionHandle, ULONG_PTR owner, kt::mapi::Message<char>* message, ULONG flags,
                          ULONG) {
    return receive("A", owner, message, flags);
}

#ifndef KT_NARROW_ONLY
ULONG WINAPI MAPISendMailW(kt::mapi::SessionHandle, ULONG_PTR owner, kt::mapi::Message<wchar_t>* message, ULONG flags,
                           ULONG) {
    return receive("W", owner, message, flags);
}
#endif

}  // extern "C"
