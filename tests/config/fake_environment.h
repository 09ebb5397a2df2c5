// A DocumentEnvironment for tests: a fixed temporary directory, a table of
// environment variables, a settable OS version, and a record of the folders
// the parser asked for.
#pragma once

#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "config/check_items.h"

namespace wayfarer::test {

class FakeEnvironment : public DocumentEnvironment {
public:
    std::string tempDirectory = "C:\\Users\\u\\AppData\\Local\\Temp\\";
    uint32_t osMajorVersion = 10;
    // Keys in upper case; lookups ignore case, as Windows does.
    std::map<std::string, std::string> variables = {
        {"WINDIR", "C:\\Windows"},
        {"SYSTEMROOT", "C:\\Windows"},
        {"PROGRAMFILES", "C:\\Program Files (x86)"},
        {"APPDATA", "C:\\Users\\u\\AppData\\Roaming"},
        {"TEMP", "C:\\Users\\u\\AppData\\Local\\Temp"},
    };
    std::vector<std::string> ensuredFolders;
    int expandCalls = 0;

    std::string TempDirectory() override { return tempDirectory; }

    bool EnsureDirectory(const std::string& path) override {
        ensuredFolders.push_back(path);
        return true;
    }

    // Unknown names stay as written, like ExpandEnvironmentStrings. No length
    // limit is applied here, so the parser's own limit is what tests see.
    std::string ExpandEnvironment(const std::string& text) override {
        ++expandCalls;
        std::string out;
        size_t i = 0;
        while (i < text.size()) {
            const size_t open = text.find('%', i);
            const size_t close = open == std::string::npos ? open : text.find('%', open + 1);
            if (close == std::string::npos) {
                out.append(text, i, std::string::npos);
                break;
            }
            out.append(text, i, open - i);
            std::string key = text.substr(open + 1, close - open - 1);
            for (auto& c : key) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            const auto found = variables.find(key);
            if (found != variables.end()) {
                out += found->second;
                i = close + 1;
            } else {
                out += '%';
                out.append(text, open + 1, close - open - 1);
                i = close;  // the closing % may open the next reference
            }
        }
        return out;
    }

    uint32_t OsMajorVersion() override { return osMajorVersion; }
};

}  // namespace wayfarer::test
