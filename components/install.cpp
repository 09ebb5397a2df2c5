#include "components/install.h"

#include <cstddef>

namespace wayfarer {

namespace {

constexpr int kStepProgress = 3;
constexpr int kStepRedetect = 4;
constexpr int kStepStatus = 6;
constexpr int32_t kStatusFinished = 1;
constexpr int32_t kStatusDownloading = 2;
constexpr int32_t kStatusInstalling = 3;
constexpr int kStopChoice = 7;

char LowerHex(char c) {
    return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Shows a failure prompt; true when the user took the stop choice.
bool AskStop(InstallHost& host, int textId, int headingId, int firstChoiceId) {
    return host.Prompt(textId, headingId, firstChoiceId) == kStopChoice;
}

}  // namespace

std::vector<InstallJob> QueueItemJobs(const ComponentItem& item) {
    std::vector<InstallJob> jobs;
    const uint32_t code = item.state & component_state::kCodeMask;
    if (code == component_state::kCurrent || code == component_state::kNotDetected) {
        return jobs;
    }
    if (!item.installers.empty()) {
        const InstallerRef& installer = item.installers.front();
        InstallJob job;
        job.url = installer.url;
        job.local = installer.local;
        job.commandFile = installer.local;
        job.command = installer.command;
        job.md5 = installer.md5;
        jobs.push_back(std::move(job));
        return jobs;
    }
    for (const FileRef& file : item.files) {
        InstallJob job;
        job.url = file.remote;
        job.local = file.local;
        job.install = file.install;
        job.installFile = file.local;
        job.md5 = file.md5;
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::string BuildInstallCommand(const std::string& templ, const std::string& commandFile) {
    const std::string quoted = "\"" + commandFile + "\"";
    std::string line;
    line.reserve(templ.size() + quoted.size());
    size_t i = 0;
    while (i < templ.size()) {
        if (templ.compare(i, 4, "\"%1\"") == 0) {
            line += quoted;
            i += 4;
        } else if (templ.compare(i, 2, "%1") == 0) {
            line += quoted;
            i += 2;
        } else {
            line.push_back(templ[i]);
            ++i;
        }
    }
    return line;
}

std::optional<std::string> JobCommandLine(const InstallJob& job) {
    if (job.install.empty()) {
        return BuildInstallCommand(job.command, job.commandFile);
    }
    if (!job.installFile.empty() && job.install == "regserver") {
        return "regsvr32 /s \"" + job.installFile + "\"";
    }
    return std::nullopt;
}

bool Md5Matches(const std::string& fileDigest, const std::string& expected) {
    if (fileDigest.empty() || fileDigest.size() != expected.size()) {
        return false;
    }
    for (size_t i = 0; i < fileDigest.size(); ++i) {
        if (LowerHex(fileDigest[i]) != LowerHex(expected[i])) {
            return false;
        }
    }
    return true;
}

void RunInstallWorker(InstallShared& shared, InstallSystem& system, InstallHost& host) {
    shared.installBusy.store(true, std::memory_order_release);
    for (;;) {
        InstallJob job;
        {
            std::lock_guard<std::mutex> lock(shared.installLock);
            if (shared.installQueue.empty()) {
                // Only a worker started without a job gets here.
                shared.installBusy.store(false, std::memory_order_release);
                shared.installThread = false;
                return;
            }
            job = shared.installQueue.front();
        }
        shared.downloadProgress.store(0, std::memory_order_release);
        host.ArmStep(kStepProgress, 500);
        shared.installStatus.store(kStatusDownloading, std::memory_order_release);
        host.ArmStep(kStepStatus, 0);

        bool stop = false;
        bool downloaded = system.Download(job, shared.downloadProgress);
        // A file that is not the one the document names is never run: it
        // counts as a failed download and does not stay behind.
        if (downloaded && !job.md5.empty() && !Md5Matches(system.FileMd5(job.local), job.md5)) {
            system.RemoveFile(job.local);
            downloaded = false;
        }
        if (!downloaded) {
            shared.downloadProgress.store(0, std::memory_order_release);
            stop = AskStop(host, 145, 146, 147);
        } else {
            shared.installStatus.store(kStatusInstalling, std::memory_order_release);
            host.ArmStep(kStepStatus, 0);
            if (const std::optional<std::string> line = JobCommandLine(job)) {
                if (system.Run(*line, true)) {
                    host.ArmStep(kStepRedetect, 0);
                } else {
                    stop = AskStop(host, 149, 150, 151);
                }
            }
        }
        shared.installStatus.store(kStatusFinished, std::memory_order_release);
        host.ArmStep(kStepStatus, 0);

        std::lock_guard<std::mutex> lock(shared.installLock);
        shared.installQueue.pop_front();
        if (shared.installQueue.empty() || stop) {
            // Cleared with installThread, under the lock: a worker started
            // right after this one sets it again and keeps it for its run.
            shared.installBusy.store(false, std::memory_order_release);
            shared.installThread = false;
            return;
        }
    }
}

}  // namespace wayfarer
