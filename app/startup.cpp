#include "app/startup.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace wayfarer {

namespace {

struct LocalFreeTraits {
    using type = LPWSTR*;
    static type invalid() noexcept { return nullptr; }
    static bool is_valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::LocalFree(value); }
};
using unique_argv = unique_any<LocalFreeTraits>;

}  // namespace

bool IsUpdateStart(const wchar_t* commandLine) {
    if (commandLine == nullptr) {
        return false;
    }
    int count = 0;
    const unique_argv argv(::CommandLineToArgvW(commandLine, &count));
    if (!argv || count < 2) {
        return false;
    }
    return std::wstring_view(argv.get()[1]) == L"/update";
}

std::wstring OldExecutablePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(path, length) + L".old";
}

OldFileOutcome RemoveOldExecutable(const std::wstring& path, unsigned attempts,
                                   const std::function<void()>& pause) {
    if (path.empty() || !::PathFileExistsW(path.c_str())) {
        return OldFileOutcome::Absent;
    }
    for (unsigned attempt = 1;; ++attempt) {
        if (::DeleteFileW(path.c_str())) {
            return OldFileOutcome::Deleted;
        }
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return OldFileOutcome::Deleted;  // gone meanwhile, which is all we want
        }
        if (attempt >= attempts) {
            break;
        }
        if (pause) {
            pause();
        }
    }
    if (::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        return OldFileOutcome::ScheduledAtReboot;
    }
    return OldFileOutcome::Left;
}

OldFileOutcome RemoveOldExecutable(const std::wstring& path) {
    return RemoveOldExecutable(path, 300, [] { ::Sleep(100); });
}

SingleInstance AcquireSingleInstance(const wchar_t* name) {
    SingleInstance result;
    unique_handle mutex(::CreateMutexW(nullptr, TRUE, name));
    if (!mutex) {
        return result;
    }
    // Read at once: only the creating call's own error says whether it existed.
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        result.state = InstanceLock::AlreadyRunning;
        return result;
    }
    result.state = InstanceLock::Acquired;
    result.mutex = std::move(mutex);
    return result;
}

}  // namespace wayfarer
