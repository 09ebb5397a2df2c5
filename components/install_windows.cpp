#include "components/install_windows.h"

#include <windows.h>

#include "common/handles.h"
#include "common/text.h"
#include "components/detection_windows.h"
#include "config/http_windows.h"

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

WindowsInstallSystem::WindowsInstallSystem() : session_(OpenHttpSession()) {}

// Without a session every download fails, and each job is reported as such.
bool WindowsInstallSystem::Download(const InstallJob& job, std::atomic<int32_t>& progress) {
    return DownloadToFile(session_.get(), Utf8ToWide(job.url), Utf8ToWide(job.local), &progress) != 0;
}

std::string WindowsInstallSystem::FileMd5(const std::string& path) {
    return FileMd5Hex(Utf8ToWide(path));
}

void WindowsInstallSystem::RemoveFile(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    if (!wide.empty()) {
        ::DeleteFileW(wide.c_str());
    }
}

bool WindowsInstallSystem::Run(const std::string& line, bool wait) {
    return RunCommandLine(Utf8ToWide(line), wait);
}

void InstallWorker(InstallShared& shared, InstallHost& host) {
    WindowsInstallSystem system;
    RunInstallWorker(shared, system, host);
}

}  // namespace wayfarer
