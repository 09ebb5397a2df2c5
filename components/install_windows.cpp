#include "components/install_windows.h"

#include <windows.h>

#include "common/handles.h"

namespace wayfarer {

bool RunCommandLine(const std::wstring& line, bool wait) {
    // CreateProcessW may write into the buffer it is given.
    wchar_t buffer[MAX_PATH] = {};
    if (line.size() >= MAX_PATH || line.find(L'\0') != std::wstring::npos) {
        return false;
    }
    line.copy(buffer, line.size());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    const unique_handle processHandle(process.hProcess);
    const unique_handle threadHandle(process.hThread);
    if (wait) {
        ::WaitForSingleObject(processHandle.get(), INFINITE);
    }
    return true;
}

}  // namespace wayfarer
