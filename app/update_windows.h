// The self-update on the real file system and network: is the running
// executable outdated, download and verify its successor, swap it in and
// start it with "/update". Windows only.
#pragma once

#include <string>

#include "app/controller.h"
#include "app/update.h"
#include "config/check_items.h"

namespace wayfarer {

// The running executable's full path; empty when it does not fit 260 units.
std::wstring RunningExecutablePath();

// The executable at `exePath` does not pass the file check against `app`
// (its version and md5, each when given). Never true for an unknown path:
// an executable whose path is unknown cannot be replaced.
bool UpdateNeeded(const AppInfo& app, const std::wstring& exePath);

// The file at `download` has app's md5 and meets app's version (each when
// given).
bool DownloadMatches(const AppInfo& app, const std::wstring& download);

// The update worker's body. A download that does not match `app` is deleted
// and counts as a failed download, so a corrupt file is never offered.
UpdateCheck CheckAndDownloadUpdate(const AppInfo& app, const std::wstring& exePath);

// Verifies the download again, puts it in place of `exePath` and starts
// `"exePath" /update`; true when the new process started. A download that
// does not match is deleted and nothing is moved. A path too long for the
// restart's command line is still swapped (the next start runs the new
// executable) but not restarted.
bool ApplyDownloadedUpdate(const AppInfo& app, const std::wstring& exePath);

// The swap's operations with DeleteFileW, MoveFileW, CopyFileW and
// MoveFileExW(MOVEFILE_DELAY_UNTIL_REBOOT).
class WindowsProgramFiles final : public ProgramFiles {
public:
    bool Exists(const std::wstring& path) override;
    bool Delete(const std::wstring& path) override;
    bool Move(const std::wstring& from, const std::wstring& to) override;
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
    bool ScheduleAtReboot(const std::wstring& from, const std::wstring& to) override;
};

}  // namespace wayfarer
