#include "config/windows_environment.h"

#include <windows.h>
#include <shlwapi.h>

#include "common/os_version.h"
#include "common/text.h"

namespace wayfarer {

// The document's paths were written for the ANSI calls, so these stay ANSI
// and convert at the edges.

std::string WindowsEnvironment::TempDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return AnsiToUtf8(std::string_view(buffer, length));
}

bool WindowsEnvironment::EnsureDirectory(const std::string& path) {
    const std::string ansi = Utf8ToAnsi(path);
    if (ansi.empty()) {
        return false;
    }
    if (PathFileExistsA(ansi.c_str())) {
        return true;
    }
    return CreateDirectoryA(ansi.c_str(), nullptr) != FALSE;
}

std::string WindowsEnvironment::ExpandEnvironment(const std::string& text) {
    const std::string ansi = Utf8ToAnsi(text);
    if (ansi.empty()) {
        return {};
    }
    char buffer[MAX_PATH];
    const DWORD needed = ExpandEnvironmentStringsA(ansi.c_str(), buffer, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH) {
        return {};
    }
    return AnsiToUtf8(buffer);
}

uint32_t WindowsEnvironment::OsMajorVersion() { return ReportedOsMajorVersion(); }

}  // namespace wayfarer
