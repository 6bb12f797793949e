#include "foundation/temporary_folder.h"

#include <windows.h>

#include "foundation/api_error.h"
#include "foundation/handles.h"

namespace kt {

TemporaryFolder::TemporaryFolder() {
    wchar_t temporary[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        throw apiError(GetLastError(), L"Finding the folder for temporary files failed");
    // A name no other folder has: the process, the time, and a count for the rare clash.
    for (unsigned attempt = 0;; ++attempt) {
        const std::wstring path = std::wstring(temporary, length) + L"KT_EMailer-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
                                  L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            path_ = path;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100)
            throw apiError(GetLastError(), L"Making a folder for temporary files failed");
    }
}

TemporaryFolder::~TemporaryFolder() {
    for (const auto& file : files_) DeleteFileW(file.c_str());
    RemoveDirectoryW(path_.c_str());
}

std::wstring TemporaryFolder::write(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = path_ + L"\\" + name;
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) throw apiError(GetLastError(), L"Writing " + path + L" failed");
    files_.push_back(path);
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        throw apiError(GetLastError(), L"Writing " + path + L" failed");
    return path;
}

}  // namespace kt
