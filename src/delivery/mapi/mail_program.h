#pragma once
// The hand-off to the user's own mail program (Simple MAPI) when the host
// gives no SMTP server: when it is used, and what of it needs no Windows:
// the page's attachment and what the program's answers mean.

#include <string>

#include "foundation/component_error.h"

namespace kt {

// The mail program's own refusals carry its Simple MAPI code on this base.
constexpr long kMailProgramErrorBase = -2147221504L + 1536;  // 0x80040600
inline constexpr const wchar_t* kMailProgramErrorSource = L"KT_EMailer.MAPI";

// Whether a server text asks for the mail program: empty, or "mapi:".
bool usesMailProgram(const std::wstring& server);

// A file name for the page made from the subject: one that every Windows
// file system takes, ending in ".htm".
std::wstring pageFileName(const std::wstring& subject);

// The page as its file holds it: UTF-8 behind a byte order mark, with the
// charset declared in its head as well.
std::string pageFileBytes(const std::wstring& page);

// The failure a Simple MAPI return code stands for (neither success nor the
// user's cancel), from the mail program `program`.
ComponentError mailProgramFailure(unsigned long code, const std::wstring& program);

}  // namespace kt
