// Running the installers of the installation queue (and the restarted
// executable after an update), and the queue's worker on WinINet, the file
// system and CreateProcessW. Windows only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/handles.h"
#include "components/install.h"

namespace wayfarer {

// Starts `line` (no application name, inherited environment and folder) and,
// with `wait`, waits for it to end; the exit code is not examined. A line
// that does not fit the 260-unit buffer, or holds a NUL, is refused rather
// than cut: false, as for a program that could not be started.
bool RunCommandLine(const std::wstring& line, bool wait);

// What the worker does to the machine. Holds one HTTP session for the
// worker's whole life; texts are UTF-8 and converted for the wide calls.
class WindowsInstallSystem final : public InstallSystem {
public:
    WindowsInstallSystem();

    bool Download(const InstallJob& job, std::atomic<int32_t>& progress) override;
    std::string FileMd5(const std::string& path) override;
    void RemoveFile(const std::string& path) override;
    bool Run(const std::string& line, bool wait) override;

private:
    unique_hinternet session_;
};

// The worker's thread function: opens its session, then takes the jobs of
// `shared` until the queue is empty or the user stops (RunInstallWorker).
void InstallWorker(InstallShared& shared, InstallHost& host);

}  // namespace wayfarer
