// The dialog's brain without the window: the document, every flag of the
// dialog, the timer steps 1-18 and the seven methods of window.external.
// Portable; it reaches the world only through ControllerHost and
// CheckOperations below.
//
// How a host implements ControllerHost (CWayfarerDlg, the console checker,
// the tests' virtual clock):
//   - Own one WayfarerController, constructed with the host itself, the
//     check operations and the document environment. Call Start() where the
//     dialog initialises (OnInitDialog) and OnDocumentComplete() when the
//     page has loaded (the console host calls both at once).
//   - ArmStep(id, ms): a one-shot window timer (SetTimer on the window;
//     re-arming an armed id restarts its delay). It is called from worker
//     threads too, so a host whose timer call must run on the window's thread
//     posts itself a message. When the delay has passed, call OnTimer(id) on
//     the controller's thread; OnTimer calls KillStep(id) first.
//   - CallScript(function, args): "setState"/"clearState" on the page, args in
//     call order (numbers VT_I4, texts UTF-8 -> VT_BSTR). Controller thread
//     only. The result is ignored, so a page that is not there drops it.
//   - StartWorker(kind, body): run body once on a new thread, never joined,
//     and never on the calling thread before returning (the caller may hold
//     installLock). Return false when no thread could be started.
//   - Prompt/Notice: the string-table ids of the message boxes; called from
//     any thread (workers ask too). Prompt returns 6 for the first choice,
//     7 for the second, 1 for the OK of the fallback box, -1 on failure.
//   - RequestQuit(): the quit request after an update was started.
//   - SequenceEnded(): optional; the component step has finished.
//   - The page's methods: forward install, installcom, installmulti, fix,
//     check, installandfix and stop to the controller's methods of the same
//     names, on the controller's thread.
// The host and the operations must outlive every worker: end the process
// rather than destroy them while a worker may still run.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/install.h"
#include "config/check_items.h"

namespace wayfarer {

// One argument of a page call: a signed 32-bit number or a UTF-8 text.
struct ScriptArg {
    bool isText = false;
    int32_t number = 0;
    std::string text;

    ScriptArg(int32_t value) : number(value) {}  // NOLINT(google-explicit-constructor)
    ScriptArg(std::string value) : isText(true), text(std::move(value)) {}  // NOLINT
    ScriptArg(const char* value) : isText(true), text(value) {}  // NOLINT
};

enum class WorkerKind { Config, Update, ServiceProbe, Install };

// Message boxes by string-table id; any thread.
class Messages {
public:
    virtual ~Messages() = default;
    virtual int Prompt(int textId, int headingId, int firstChoiceId) = 0;
    virtual int Notice(int textId, int headingId) = 0;
};

constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class ControllerHost : public Messages {
public:
    virtual void ArmStep(int id, uint32_t delayMs) = 0;
    virtual void KillStep(int id) = 0;
    virtual void CallScript(const char* function, const std::vector<ScriptArg>& args) = 0;
    virtual bool StartWorker(WorkerKind kind, std::function<void()> body) = 0;
    virtual void RequestQuit() = 0;
    virtual void SequenceEnded() {}
};

// The page calls that other modules make (USB keys); the controller
// implements it over CallScript.
class PageReports {
public:
    virtual ~PageReports() = default;
    virtual void ReportState(int32_t category, int32_t item, int32_t value) = 0;
    virtual void ReportState(int32_t category, int32_t item, const std::string& text) = 0;
    virtual void ClearState(int32_t category, int32_t item) = 0;
};

struct DnsResult {
    bool ok = false;
    bool matched = false;   // some configured answer matched; matchName is its label
    std::string matchName;
};

// Stores a DNS check's result: dnsOk always, dnsMatchName only when some
// answer matched (it is never cleared).
void StoreDnsResult(const DnsResult& dns, CheckState& state);

// What the configuration worker obtained. `document` is the freshly parsed
// document; its configLoaded tells whether the parse succeeded.
struct ConfigFetch {
    bool documentObtained = false;  // some text was handed to the parser
    bool fromServer = false;        // that text came from the bank's server
};

enum class UpdateCheck { NotNeeded, Downloaded, DownloadFailed };

// Every operation of the other subsystems that the controller calls. Unless
// marked "worker", a call runs on the controller's thread. Checks return
// their result; the controller stores it in the document's CheckState. A
// check gets the controller's own document, so it may store its field itself
// (the same value) and a hosts repair may refresh the DNS fields.
class CheckOperations {
public:
    virtual ~CheckOperations() = default;

    virtual bool CheckRegistry(CheckItems& checks, bool repair) = 0;
    virtual bool CheckHostsFile(CheckItems& checks, bool repair) = 0;
    // Negative when the chain is incomplete.
    virtual int32_t CheckRootCertificates() = 0;
    virtual int32_t InstallRootCertificates() = 0;
    // InternetGetConnectedState returned non-zero.
    virtual bool InternetConnected() = 0;
    virtual DnsResult CheckDns(CheckItems& checks) = 0;
    // Worker: opens the service addresses of the given groups.
    virtual bool ProbeService(const std::vector<ConfigGroup>& groups) = 0;
    virtual bool CheckHomePagePolicy(CheckItems& checks, bool repair) = 0;
    virtual bool CheckSecurityLevel(CheckItems& checks, bool repair) = 0;
    virtual bool CheckTrustedSites(CheckItems& checks, bool repair) = 0;
    virtual bool ClearSslCache() = 0;
    virtual bool ClearBrowserCache() = 0;
    // Display texts, UTF-8.
    virtual std::string GetSystemDescription() = 0;
    virtual std::string GetBrowserVersion() = 0;

    // Writes the state word of every item of `list` (a list of `checks`).
    virtual void DetectComponents(const CheckItems& checks, std::vector<ComponentItem>& list) = 0;
    virtual bool CheckAddonDisabled(const std::string& clsid, bool reenable) = 0;
    virtual void ReadUsbKeys(const std::vector<ComponentItem>& items, PageReports& page) = 0;

    // The jobs of one item, in queueing order (none for codes 0 and 7).
    virtual std::vector<InstallJob> QueueItemJobs(const ComponentItem& item) = 0;
    // Worker: takes jobs until the queue is empty or the user stops; arms
    // steps 3, 4 and 6 through the host; clears installThread under the lock.
    virtual void InstallWorker(InstallShared& shared, ControllerHost& host) = 0;

    // Worker: fetch (server, local copy, built-in default) and parse into
    // `fresh`; shows its own notice through `messages`.
    virtual ConfigFetch FetchConfiguration(CheckItems& fresh, Messages& messages) = 0;
    // Worker: compares the running executable with `app` and downloads a
    // newer one.
    virtual UpdateCheck CheckForUpdate(const AppInfo& app) = 0;
    // Puts the downloaded executable in place and starts it with "/update";
    // true when the new process started.
    virtual bool ApplyUpdate(const AppInfo& app) = 0;
};

constexpr int32_t kPending = static_cast<int32_t>(0x8000000A);  // E_PENDING

class WayfarerController : public PageReports {
public:
    WayfarerController(ControllerHost& host, CheckOperations& ops, DocumentEnvironment& env);
    ~WayfarerController() override;
    WayfarerController(const WayfarerController&) = delete;
    WayfarerController& operator=(const WayfarerController&) = delete;

    // OnInitDialog's share: clears advancePending, starts the configuration
    // worker.
    void Start();
    void OnDocumentComplete();
    void OnTimer(int id);

    int32_t StartUpdateCheckIfReady();
    int32_t PollServiceProbe();
    void RefreshItem(int item);

    // Page bridge.
    void ReportState(int32_t category, int32_t item, int32_t value) override;
    void ReportState(int32_t category, int32_t item, const std::string& text) override;
    void ClearState(int32_t category, int32_t item) override;
    void ReportProgress(int32_t item, int32_t percent);
    void ReportStatus(int32_t code);
    void ReportComponent(uint32_t position);
    void ReportSummary();
    void RefreshComponents();

    // window.external, in dispatch order.
    void install(int32_t position);
    void installcom(int32_t row);
    void installmulti(int32_t first, int32_t last);
    void fix(int32_t item);
    void check(int32_t mode);
    void installandfix();
    void stop(int32_t ignored);

    void EnqueueInstallJob(const InstallJob& job);

    // Read access for hosts and tests.
    const CheckItems& Document() const { return checks_; }
    CheckItems& MutableDocument() { return checks_; }
    InstallShared& Install() { return *install_; }
    bool configFromServer() const { return configFromServer_; }
    bool serverConfigParsed() const { return serverConfigParsed_; }
    bool checkRunning() const { return checkRunning_; }
    bool batchInstall() const { return batchInstall_; }
    bool topLevelRepair() const { return topLevelRepair_; }
    bool rowClean(int row) const { return row >= 1 && row <= 4 && rowClean_[row - 1]; }
    bool configThread() const { return shared_->configThread.load(std::memory_order_acquire) > 0; }
    bool updateThread() const { return shared_->updateThread.load(std::memory_order_acquire); }
    bool serviceThread() const { return serviceThread_; }
    // The last verdict sent to the page; -1 before the first.
    int32_t LastVerdict() const { return lastVerdict_; }

private:
    // Fields workers write. Shared so that a late worker never writes into a
    // destroyed controller.
    struct WorkerShared {
        std::atomic<int> configThread{0};  // running configuration workers
        std::atomic<bool> updateThread{false};
        std::atomic<bool> serviceOk{false};
        std::atomic<bool> serviceDone{false};
        std::mutex handOverLock;
        std::unique_ptr<CheckItems> handOver;  // under handOverLock
        ConfigFetch handOverFetch;             // under handOverLock
        bool handOverReady = false;            // under handOverLock
        uint32_t handOverGeneration = 0;       // under handOverLock
    };

    void StartConfigWorker();
    void StartUpdateWorker();
    void AdoptConfiguration();
    void RestartForUpdate();
    void ComponentStep();
    void RunCheckStep(int id);
    void ReportFlag(int32_t item, bool ok);
    void ReportDns();
    void FixOne(int32_t item);
    void Refetch();

    ControllerHost& host_;
    CheckOperations& ops_;
    DocumentEnvironment& env_;
    CheckItems checks_;
    std::shared_ptr<WorkerShared> shared_;
    uint32_t configGeneration_ = 0;
    std::shared_ptr<InstallShared> install_;

    bool serviceThread_ = false;
    bool configFromServer_ = false;
    bool rowClean_[4] = {false, false, false, false};
    bool serverConfigParsed_ = false;
    bool checkRunning_ = false;
    bool advancePending_ = false;
    bool batchInstall_ = false;
    bool topLevelRepair_ = true;
    int32_t lastVerdict_ = -1;
};

}  // namespace wayfarer
