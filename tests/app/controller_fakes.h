// A host on a virtual clock and check operations with fixed answers, for
// driving WayfarerController step by step. Page calls and operation calls go
// into one event log, so tests see their interleaving.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/controller.h"
#include "tests/config/fake_environment.h"

namespace wayfarer::test {

inline std::string FormatCall(const std::string& function, const std::vector<ScriptArg>& args) {
    std::string out = function + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i != 0) out += ",";
        out += args[i].isText ? "\"" + args[i].text + "\"" : std::to_string(args[i].number);
    }
    return out + ")";
}

struct PageCall {
    uint64_t time;
    std::string function;
    std::vector<ScriptArg> args;
};

class VirtualHost : public ControllerHost {
public:
    struct PendingWorker {
        WorkerKind kind;
        uint64_t due;
        uint64_t order;
        std::function<void()> body;
    };
    struct Fired {
        uint64_t time;
        int id;
    };

    explicit VirtualHost(std::vector<std::string>& events) : events_(events) {}

    WayfarerController* controller = nullptr;
    uint64_t now = 0;
    std::map<int, uint64_t> armed;            // step -> due time
    std::vector<std::pair<int, uint32_t>> arms;  // every ArmStep, in order
    std::vector<Fired> fired;
    std::vector<PageCall> page;
    std::vector<PendingWorker> workers;
    std::map<WorkerKind, uint64_t> workerDuration;  // virtual run time per kind
    std::map<WorkerKind, bool> refuseStart;
    std::map<WorkerKind, int> started;
    std::vector<int> promptAnswers;  // consumed front first; 6 when empty
    std::vector<std::string> messages;
    bool quitRequested = false;
    int sequencesEnded = 0;

    void ArmStep(int id, uint32_t delayMs) override {
        armed[id] = now + delayMs;
        arms.emplace_back(id, delayMs);
    }
    void KillStep(int id) override { armed.erase(id); }
    void CallScript(const char* function, const std::vector<ScriptArg>& args) override {
        page.push_back({now, function, args});
        events_.push_back(FormatCall(function, args));
    }
    bool StartWorker(WorkerKind kind, std::function<void()> body) override {
        if (refuseStart[kind]) return false;
        ++started[kind];
        workers.push_back({kind, now + workerDuration[kind], order_++, std::move(body)});
        return true;
    }
    void RequestQuit() override { quitRequested = true; }
    void SequenceEnded() override { ++sequencesEnded; }
    int Prompt(int textId, int headingId, int firstChoiceId) override {
        messages.push_back("Prompt(" + std::to_string(textId) + "," + std::to_string(headingId) + "," +
                           std::to_string(firstChoiceId) + ")");
        if (promptAnswers.empty()) return kIdYes;
        const int answer = promptAnswers.front();
        promptAnswers.erase(promptAnswers.begin());
        return answer;
    }
    int Notice(int textId, int headingId) override {
        messages.push_back("Notice(" + std::to_string(textId) + "," + std::to_string(headingId) + ")");
        events_.push_back(messages.back());
        return 1;
    }

    // Runs every worker of this kind now, whatever its due time.
    void FinishWorkers(WorkerKind kind) {
        for (size_t i = 0; i < workers.size();) {
            if (workers[i].kind == kind) {
                auto body = std::move(workers[i].body);
                workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(i));
                body();
            } else {
                ++i;
            }
        }
    }

    // The next event: a worker due no later than the next timer runs first;
    // otherwise the earliest timer (lowest id on a tie) fires. False when
    // nothing is left before `limit`.
    bool Next(uint64_t limit = UINT64_MAX) {
        size_t worker = workers.size();
        for (size_t i = 0; i < workers.size(); ++i) {
            if (worker == workers.size() || workers[i].due < workers[worker].due ||
                (workers[i].due == workers[worker].due && workers[i].order < workers[worker].order)) {
                worker = i;
            }
        }
        auto timer = armed.end();
        for (auto it = armed.begin(); it != armed.end(); ++it) {
            if (timer == armed.end() || it->second < timer->second) timer = it;
        }
        const bool haveWorker = worker != workers.size();
        const bool haveTimer = timer != armed.end();
        if (haveWorker && (!haveTimer || workers[worker].due <= timer->second)) {
            if (workers[worker].due > limit) return false;
            now = std::max(now, workers[worker].due);
            auto body = std::move(workers[worker].body);
            workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(worker));
            body();
            return true;
        }
        if (!haveTimer || timer->second > limit) return false;
        now = std::max(now, timer->second);
        const int id = timer->first;
        fired.push_back({now, id});
        controller->OnTimer(id);
        return true;
    }

    // Runs until nothing is armed and no worker is left (bounded, so a
    // runaway poll fails the test instead of hanging it).
    void RunUntilIdle(int maxEvents = 10000) {
        while (Next()) {
            if (--maxEvents == 0) {
                ADD_FAILURE() << "still busy after 10000 events";
                return;
            }
        }
    }
    void RunUntil(uint64_t time) {
        while (Next(time)) {
        }
        now = std::max(now, time);
    }

    std::vector<int32_t> Values(int32_t category, int32_t item) const {
        std::vector<int32_t> out;
        for (const PageCall& call : page) {
            if (call.function == "setState" && call.args.size() >= 3 && call.args[0].number == category &&
                call.args[1].number == item && !call.args[2].isText) {
                out.push_back(call.args[2].number);
            }
        }
        return out;
    }
    std::vector<uint64_t> FireTimes(int id) const {
        std::vector<uint64_t> out;
        for (const Fired& f : fired) {
            if (f.id == id) out.push_back(f.time);
        }
        return out;
    }
    void ClearRecords() {
        page.clear();
        fired.clear();
        arms.clear();
        events_.clear();
        messages.clear();
    }

private:
    std::vector<std::string>& events_;
    uint64_t order_ = 0;
};

// Operations with settable answers; every call is logged.
class FakeChecks : public CheckOperations {
public:
    explicit FakeChecks(std::vector<std::string>& events) : events_(events) {}

    // Answers of the checks (the value a check call returns).
    bool registry = true, hosts = true, connected = true, homePage = true, security = true, trusted = true;
    bool service = true;
    int32_t certificates = 0;
    DnsResult dns{true, false, ""};
    bool sslCleared = true, browserCleared = true;
    // A repair call makes its check pass from then on.
    bool repairsWork = true;
    std::vector<uint32_t> itemStates;  // states DetectComponents writes to items
    std::vector<std::string> registryGroupSeen;  // first registry entry seen by each CheckRegistry

    // Configuration the worker delivers.
    std::vector<ComponentItem> nextItems;
    std::vector<ConfigGroup> nextGroups;
    AppInfo nextApp;
    bool nextParses = true;
    bool nextObtained = true;
    bool nextFromServer = true;
    std::function<void()> duringHostsRepair;  // runs inside CheckHostsFile(true)

    UpdateCheck update = UpdateCheck::NotNeeded;
    bool updateStarts = true;

    // Install worker behaviour: run every queued job and succeed.
    std::vector<std::string> installedUrls;

    bool CheckRegistry(CheckItems& checks, bool repair) override {
        Log("CheckRegistry", repair);
        const ConfigGroup* group = checks.FindGroup("registry");
        registryGroupSeen.push_back(group && !group->entries.empty() ? group->entries[0].text : "");
        if (repair && repairsWork) registry = true;
        return registry;
    }
    bool CheckHostsFile(CheckItems&, bool repair) override {
        Log("CheckHostsFile", repair);
        if (repair && duringHostsRepair) duringHostsRepair();
        if (repair && repairsWork) hosts = true;
        return hosts;
    }
    int32_t CheckRootCertificates() override {
        events_.push_back("CheckRootCertificates");
        return certificates;
    }
    int32_t InstallRootCertificates() override {
        events_.push_back("InstallRootCertificates");
        if (repairsWork) certificates = 0;
        return 0;
    }
    bool InternetConnected() override {
        events_.push_back("InternetConnected");
        return connected;
    }
    DnsResult CheckDns(CheckItems&) override {
        events_.push_back("CheckDns");
        return dns;
    }
    bool ProbeService(const std::vector<ConfigGroup>&) override {
        events_.push_back("ProbeService");
        return service;
    }
    bool CheckHomePagePolicy(CheckItems&, bool repair) override {
        Log("CheckHomePagePolicy", repair);
        if (repair && repairsWork) homePage = true;
        return homePage;
    }
    bool CheckSecurityLevel(CheckItems&, bool repair) override {
        Log("CheckSecurityLevel", repair);
        if (repair && repairsWork) security = true;
        return security;
    }
    bool CheckTrustedSites(CheckItems&, bool repair) override {
        Log("CheckTrustedSites", repair);
        if (repair && repairsWork) trusted = true;
        return trusted;
    }
    bool ClearSslCache() override {
        events_.push_back("ClearSslCache");
        return sslCleared;
    }
    bool ClearBrowserCache() override {
        events_.push_back("ClearBrowserCache");
        return browserCleared;
    }
    std::string GetSystemDescription() override { return "Windows 7 Ultimate Service Pack 1"; }
    std::string GetBrowserVersion() override { return "11.0"; }

    void DetectComponents(const CheckItems& checks, std::vector<ComponentItem>& list) override {
        const bool isItems = &list == &checks.items;
        events_.push_back(isItems ? "DetectComponents(items)" : "DetectComponents(components)");
        if (!isItems) return;
        for (size_t i = 0; i < list.size() && i < itemStates.size(); ++i) list[i].state = itemStates[i];
    }
    bool CheckAddonDisabled(const std::string& clsid, bool reenable) override {
        events_.push_back("CheckAddonDisabled(" + clsid + "," + (reenable ? "true" : "false") + ")");
        return false;
    }
    void ReadUsbKeys(const std::vector<ComponentItem>&, PageReports&) override {
        events_.push_back("ReadUsbKeys");
    }
    std::vector<InstallJob> QueueItemJobs(const ComponentItem& item) override {
        events_.push_back("QueueItemJobs(" + item.name + ")");
        const uint32_t code = item.state & component_state::kCodeMask;
        if (code == 0 || code == 7) return {};
        InstallJob job;
        job.url = item.name;
        return {job};
    }
    void InstallWorker(InstallShared& shared, ControllerHost& host) override {
        shared.installBusy = true;
        for (;;) {
            InstallJob job;
            {
                std::lock_guard<std::mutex> lock(shared.installLock);
                job = shared.installQueue.front();
            }
            installedUrls.push_back(job.url);
            shared.downloadProgress = 100;
            shared.installStatus = 1;
            host.ArmStep(4, 0);
            host.ArmStep(6, 0);
            std::lock_guard<std::mutex> lock(shared.installLock);
            shared.installQueue.pop_front();
            if (shared.installQueue.empty()) {
                shared.installThread = false;
                break;
            }
        }
        shared.installBusy = false;
    }

    ConfigFetch FetchConfiguration(CheckItems& fresh, Messages&) override {
        events_.push_back("FetchConfiguration");
        ConfigFetch fetch;
        fetch.documentObtained = nextObtained;
        fetch.fromServer = nextFromServer;
        if (nextObtained && nextParses) {
            fresh.items = nextItems;
            fresh.groups = nextGroups;
            fresh.app = nextApp;
            fresh.configLoaded = true;
        }
        return fetch;
    }
    UpdateCheck CheckForUpdate(const AppInfo& app) override {
        events_.push_back("CheckForUpdate(" + app.version + ")");
        return update;
    }
    bool ApplyUpdate(const AppInfo&) override {
        events_.push_back("ApplyUpdate");
        return updateStarts;
    }

private:
    void Log(const char* name, bool repair) { events_.push_back(std::string(name) + (repair ? "(true)" : "(false)")); }
    std::vector<std::string>& events_;
};

inline ComponentItem Item(const std::string& name, const std::string& type, const std::string& tips = "") {
    ComponentItem item;
    item.name = name;
    item.type = type;
    item.tips = tips;
    return item;
}

// The controller with its fakes, started and brought to the idle state after
// a first full sequence.
struct ControllerRig {
    std::vector<std::string> events;
    FakeEnvironment env;
    VirtualHost host{events};
    FakeChecks ops{events};
    WayfarerController controller{host, ops, env};

    ControllerRig() {
        host.controller = &controller;
        ConfigGroup registry;
        registry.type = "registry";
        registry.entries.push_back({"HKCU\\first", "", "", "", ""});
        ops.nextGroups = {registry};
    }

    // Start-up through the end of the first component step.
    void StartAndRun() {
        controller.Start();
        controller.OnDocumentComplete();
        host.RunUntilIdle();
    }
};

}  // namespace wayfarer::test
