#include "app/update_windows.h"

#include <windows.h>

#include "common/handles.h"
#include "common/text.h"
#include "components/detection_windows.h"
#include "components/install_windows.h"
#include "config/http_windows.h"

namespace wayfarer {

namespace {

bool FileMatches(const std::wstring& path, const AppInfo& app) {
    FileRef probe;
    probe.local = WideToUtf8(path);
    probe.remote = app.remote;
    probe.version = app.version;
    probe.md5 = app.md5;
    return !probe.local.empty() && CheckFileEntry(probe);
}

void DeleteDownload(const std::wstring& download) {
    if (!download.empty()) {
        ::DeleteFileW(download.c_str());
    }
}

}  // namespace

std::wstring RunningExecutablePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(path, length);
}

bool UpdateNeeded(const AppInfo& app, const std::wstring& exePath) {
    return !exePath.empty() && !FileMatches(exePath, app);
}

bool DownloadMatches(const AppInfo& app, const std::wstring& download) { return FileMatches(download, app); }

UpdateCheck CheckAndDownloadUpdate(const AppInfo& app, const std::wstring& exePath) {
    if (!UpdateNeeded(app, exePath)) {
        return UpdateCheck::NotNeeded;
    }
    const std::wstring download = Utf8ToWide(app.local);
    const std::wstring remote = Utf8ToWide(app.remote);
    if (download.empty() || remote.empty()) {
        return UpdateCheck::DownloadFailed;
    }
    const unique_hinternet session = OpenHttpSession();
    if (!session || DownloadToFile(session.get(), remote, download, nullptr) == 0) {
        return UpdateCheck::DownloadFailed;
    }
    if (!DownloadMatches(app, download)) {
        DeleteDownload(download);
        return UpdateCheck::DownloadFailed;
    }
    return UpdateCheck::Downloaded;
}

bool ApplyDownloadedUpdate(const AppInfo& app, const std::wstring& exePath) {
    if (exePath.empty()) {
        return false;
    }
    // Checked again: the file has lain in the temporary folder while the
    // user was asked.
    const std::wstring download = Utf8ToWide(app.local);
    if (download.empty() || !DownloadMatches(app, download)) {
        DeleteDownload(download);
        return false;
    }
    WindowsProgramFiles files;
    SwapProgramFile(files, exePath, download);
    const std::wstring line = RestartCommandLine(exePath);
    return !line.empty() && RunCommandLine(line, false);
}

bool WindowsProgramFiles::Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WindowsProgramFiles::Delete(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

bool WindowsProgramFiles::Move(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

bool WindowsProgramFiles::Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) {
    return ::CopyFileW(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

bool WindowsProgramFiles::ScheduleAtReboot(const std::wstring& from, const std::wstring& to) {
    if (to.empty()) {
        return ::MoveFileExW(from.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    }
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) !=
           FALSE;
}

}  // namespace wayfarer
