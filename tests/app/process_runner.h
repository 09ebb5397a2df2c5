// Starts a program of the build and waits for it, for the tests that need
// a second process.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace wayfarer::test {

struct Started {
    unique_handle process;
    bool ok() const { return static_cast<bool>(process); }
};

inline Started StartProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    Started started;
    if (::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &info)) {
        started.process.reset(info.hProcess);
        ::CloseHandle(info.hThread);
    }
    return started;
}

// The exit code; -1 when the program did not end within a minute, which only
// a hanging program takes (a backstop, not a measure).
inline long WaitForExit(const Started& started) {
    if (!started.ok() || ::WaitForSingleObject(started.process.get(), 60000) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(started.process.get(), &code);
    return static_cast<long>(code);
}

inline bool HasEnded(const Started& started) {
    return ::WaitForSingleObject(started.process.get(), 0) == WAIT_OBJECT_0;
}

inline std::wstring Widen(const char* ascii) {
    std::wstring wide;
    for (; *ascii != '\0'; ++ascii) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*ascii)));
    }
    return wide;
}

}  // namespace wayfarer::test
