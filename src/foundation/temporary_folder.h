#pragma once
// A folder of the user's temporary files for files handed to another
// program, removed with everything in it when this ends.

#include <string>
#include <vector>

namespace kt {

class TemporaryFolder {
public:
    TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();

    const std::wstring& path() const noexcept { return path_; }
    // Writes a file of the folder; its full path.
    std::wstring write(const std::wstring& name, const std::string& bytes);

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

}  // namespace kt
