// The download-and-installation queue: the jobs of a component, the command
// line of a job, and the worker that takes the jobs one by one. Portable: the
// worker reaches the network, the files, the processes and the dialog only
// through InstallSystem and InstallHost below.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/check_items.h"

namespace wayfarer {

// One download followed by at most one program run. Its progress goes to
// InstallShared::downloadProgress.
struct InstallJob {
    std::string url;
    std::string local;
    std::string commandFile;
    std::string command;
    std::string install;
    std::string installFile;
    // The document's digest of the download; when given, the file is
    // verified before it is run.
    std::string md5;
};

// The fields the installation worker shares with the dialog's thread.
// installQueue and installThread only under installLock.
struct InstallShared {
    std::mutex installLock;
    std::deque<InstallJob> installQueue;
    bool installThread = false;
    std::atomic<bool> installBusy{false};
    std::atomic<int32_t> downloadProgress{0};
    std::atomic<int32_t> installStatus{0};
};

// What the worker asks of the dialog; called on the worker's thread.
class InstallHost {
public:
    virtual ~InstallHost() = default;
    // Arms a window timer step of the dialog.
    virtual void ArmStep(int id, uint32_t delayMs) = 0;
    // A modal two-choice prompt by string ids: 6 first choice, 7 second.
    virtual int Prompt(int textId, int headingId, int firstChoiceId) = 0;
};

// What the worker does to the machine; called on the worker's thread.
class InstallSystem {
public:
    virtual ~InstallSystem() = default;
    // Downloads job.url into job.local, writing the percentage to
    // `progress`; true when the whole file was stored.
    virtual bool Download(const InstallJob& job, std::atomic<int32_t>& progress) = 0;
    // The MD5 of the file as 32 lower-case hex digits; empty when unreadable.
    virtual std::string FileMd5(const std::string& path) = 0;
    virtual void RemoveFile(const std::string& path) = 0;
    // Starts the UTF-8 command line (and waits for it); false when it could
    // not be started.
    virtual bool Run(const std::string& line, bool wait) = 0;
};

// The jobs of one item in queueing order: none for codes 0 (current) and 7
// (not detected yet); the first installer alone when there is one; else one
// job per file entry, whether or not that entry passed its check.
std::vector<InstallJob> QueueItemJobs(const ComponentItem& item);

// `templ` with every "%1" replaced by `commandFile` in double quotes; a
// placeholder already inside double quotes takes those quotes with it. One
// pass from the left: inserted text is never searched again.
std::string BuildInstallCommand(const std::string& templ, const std::string& commandFile);

// The command line a job runs after its download: the installer's template,
// or regsvr32 for a file whose `install` is exactly "regserver"; none when
// the job runs nothing.
std::optional<std::string> JobCommandLine(const InstallJob& job);

// Whether a digest of the file matches the document's. Hex digits are
// compared without regard to case: the same bytes, written either way.
bool Md5Matches(const std::string& fileDigest, const std::string& expected);

// The worker's thread function. Takes the front job under installLock until
// the queue is empty after a job or the user chose to stop; installBusy is
// set for the whole run, and installThread is cleared in the same critical
// section that finds the queue empty (or stops), so a job appended at that
// moment is either taken here or starts a new worker.
void RunInstallWorker(InstallShared& shared, InstallSystem& system, InstallHost& host);

}  // namespace wayfarer
