#pragma once
// A case file: fields "<key> <length>\n<value>\n" one after another, so that a
// value may hold any byte. The command-line mail clients read their cases
// so, and the hand-off tests' mail program writes what it is given so.

#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace kt::tools {

using CaseFields = std::vector<std::pair<std::string, std::string>>;

inline CaseFields readCaseFields(std::istream& file) {
    CaseFields fields;
    std::string key;
    std::size_t length = 0;
    while (file >> key >> length) {
        file.get();  // the line break after the length
        std::string value(length, '\0');
        file.read(value.data(), static_cast<std::streamsize>(length));
        file.get();
        fields.emplace_back(key, std::move(value));
    }
    return fields;
}

}  // namespace kt::tools
