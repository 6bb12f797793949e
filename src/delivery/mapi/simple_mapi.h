#pragma once
// The part of Simple MAPI the hand-off to the user's mail program uses, as
// the platform documents it: the message structures in both character
// sizes, the flags, the return codes and the calls. Declared here so that
// every tool chain sees the same (not every SDK has the wide ones).

#include <windows.h>

namespace kt::mapi {

using SessionHandle = ULONG_PTR;

template <class Char>
struct RecipientDesc {
    ULONG reserved;
    ULONG recipientClass;
    Char* name;
    Char* address;
    ULONG entryIdSize;
    void* entryId;
};

template <class Char>
struct FileDesc {
    ULONG reserved;
    ULONG flags;
    ULONG position;
    Char* pathName;
    Char* fileName;
    void* fileType;
};

template <class Char>
struct Message {
    ULONG reserved;
    Char* subject;
    Char* noteText;
    Char* messageType;
    Char* dateReceived;
    Char* conversationId;
    ULONG flags;
    RecipientDesc<Char>* originator;
    ULONG recipientCount;
    RecipientDesc<Char>* recipients;
    ULONG fileCount;
    FileDesc<Char>* files;
};

using SendMailW = ULONG(WINAPI*)(SessionHandle, ULONG_PTR uiParam, Message<wchar_t>*, ULONG flags, ULONG reserved);
using SendMailA = ULONG(WINAPI*)(SessionHandle, ULONG_PTR uiParam, Message<char>*, ULONG flags, ULONG reserved);

// Recipient classes.
constexpr ULONG kOriginator = 0, kTo = 1, kCc = 2, kBcc = 3;
// Flags.
constexpr ULONG kLogonUi = 0x00000001;
// Return codes.
constexpr ULONG kSuccess = 0, kUserAbort = 1, kNotSupported = 26;
// Where a file goes in the note: nowhere in particular.
constexpr ULONG kNoPosition = 0xFFFFFFFF;

}  // namespace kt::mapi
