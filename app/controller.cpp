#include "app/controller.h"

#include <algorithm>
#include <utility>

namespace wayfarer {

namespace {

constexpr uint32_t kStepGap = 100;

// Page row of a component type; 0 for a type the page has no row for.
int RowOfType(const std::string& type) {
    if (type == "SafeActiveX") return 1;
    if (type == "SignActiveX") return 2;
    if (type == "UkeyActiveX") return 3;
    if (type == "driver") return 4;
    return 0;
}

const char* TypeOfRow(int32_t row) {
    switch (row) {
        case 1: return "SafeActiveX";
        case 2: return "SignActiveX";
        case 3: return "UkeyActiveX";
        case 4: return "driver";
        default: return nullptr;
    }
}

bool AppInfoEmpty(const AppInfo& app) {
    return app.version.empty() && app.remote.empty() && app.local.empty() && app.md5.empty();
}

// Restores batchInstall on every way out, so a nested batch (install(0)
// inside installmulti) does not end the outer one early.
class BatchScope {
public:
    explicit BatchScope(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
    ~BatchScope() { flag_ = saved_; }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

private:
    bool& flag_;
    bool saved_;
};

}  // namespace

void StoreDnsResult(const DnsResult& dns, CheckState& state) {
    state.dnsOk = dns.ok;
    if (dns.matched) {
        state.dnsMatchName = dns.matchName;
    }
}

WayfarerController::WayfarerController(ControllerHost& host, CheckOperations& ops, DocumentEnvironment& env)
    : host_(host),
      ops_(ops),
      env_(env),
      checks_(env),
      shared_(std::make_shared<WorkerShared>()),
      install_(std::make_shared<InstallShared>()) {}

WayfarerController::~WayfarerController() = default;

// ---------------------------------------------------------------- start-up

void WayfarerController::Start() {
    advancePending_ = false;
    StartConfigWorker();
}

void WayfarerController::OnDocumentComplete() {
    RefreshItem(1);
    ReportState(1, 8, ops_.GetBrowserVersion());
    checks_.connected = ops_.InternetConnected();
    ReportFlag(5, checks_.connected);
    if (StartUpdateCheckIfReady() == kPending) {
        host_.ArmStep(1, 500);
    }
}

void WayfarerController::StartConfigWorker() {
    const uint32_t generation = ++configGeneration_;
    std::shared_ptr<WorkerShared> shared = shared_;
    CheckOperations* ops = &ops_;
    ControllerHost* host = &host_;
    DocumentEnvironment* env = &env_;
    shared->configThread.fetch_add(1, std::memory_order_acq_rel);
    const bool started = host_.StartWorker(WorkerKind::Config, [shared, ops, host, env, generation] {
        auto fresh = std::make_unique<CheckItems>(*env);
        const ConfigFetch fetch = ops->FetchConfiguration(*fresh, *host);
        {
            std::lock_guard<std::mutex> lock(shared->handOverLock);
            // A later refetch's document wins over an earlier one that ends late.
            if (!shared->handOverReady || generation >= shared->handOverGeneration) {
                shared->handOver = std::move(fresh);
                shared->handOverFetch = fetch;
                shared->handOverGeneration = generation;
                shared->handOverReady = true;
            }
        }
        shared->configThread.fetch_sub(1, std::memory_order_acq_rel);
    });
    if (!started) {
        shared_->configThread.fetch_sub(1, std::memory_order_acq_rel);
    }
}

// The worker parsed into a document of its own; take it over here, on the
// dialog's thread, so that no check or repair ever sees a document change
// under it. The check results stay: they describe the computer.
void WayfarerController::AdoptConfiguration() {
    std::unique_ptr<CheckItems> fresh;
    ConfigFetch fetch;
    uint32_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(shared_->handOverLock);
        if (!shared_->handOverReady) {
            return;
        }
        fresh = std::move(shared_->handOver);
        fetch = shared_->handOverFetch;
        generation = shared_->handOverGeneration;
        shared_->handOverReady = false;
    }
    if (generation != configGeneration_ || !fresh) {
        return;  // superseded by a refetch started since
    }
    if (fetch.documentObtained) {
        serverConfigParsed_ = fetch.fromServer;
    }
    if (!fresh->configLoaded) {
        return;  // nothing parsed: keep the document in hand, keep polling
    }
    checks_.base = std::move(fresh->base);
    checks_.groups = std::move(fresh->groups);
    checks_.items = std::move(fresh->items);
    checks_.components = std::move(fresh->components);
    if (!AppInfoEmpty(fresh->app)) {
        checks_.app = std::move(fresh->app);
    }
    configFromServer_ = fetch.fromServer;
    checks_.configLoaded = true;
}

int32_t WayfarerController::StartUpdateCheckIfReady() {
    AdoptConfiguration();
    if (!checks_.configLoaded) {
        return kPending;
    }
    {
        // installBusy belongs to the install worker for its whole run; only a
        // value left without a worker is cleared here.
        std::lock_guard<std::mutex> lock(install_->installLock);
        if (!install_->installThread) {
            install_->installBusy.store(false, std::memory_order_release);
        }
    }
    batchInstall_ = false;
    checkRunning_ = false;
    StartUpdateWorker();
    return 0;
}

void WayfarerController::StartUpdateWorker() {
    std::shared_ptr<WorkerShared> shared = shared_;
    CheckOperations* ops = &ops_;
    ControllerHost* host = &host_;
    AppInfo app = checks_.app;
    shared->updateThread.store(true, std::memory_order_release);
    const bool started = host_.StartWorker(WorkerKind::Update, [shared, ops, host, app] {
        const UpdateCheck result = ops->CheckForUpdate(app);
        // A failed download starts the checks too, so the page is not left
        // waiting for a sequence that never comes.
        host->ArmStep(result == UpdateCheck::Downloaded ? 5 : 2, kStepGap);
        shared->updateThread.store(false, std::memory_order_release);
    });
    if (!started) {
        shared_->updateThread.store(false, std::memory_order_release);
    }
}

void WayfarerController::RestartForUpdate() {
    if (host_.Prompt(139, 142, 143) == kIdNo) {
        host_.ArmStep(2, kStepGap);
        return;
    }
    if (ops_.ApplyUpdate(checks_.app)) {
        host_.RequestQuit();
        return;
    }
    // An update that could not be applied must not leave the page waiting
    // for a sequence that never comes; it is offered again next time.
    host_.ArmStep(2, kStepGap);
}

// ---------------------------------------------------------------- steps

void WayfarerController::OnTimer(int id) {
    host_.KillStep(id);
    switch (id) {
        case 1:
            if (StartUpdateCheckIfReady() == kPending) {
                host_.ArmStep(1, 300);
            }
            break;
        case 2:
            check(0);
            break;
        case 3: {
            const int32_t v = install_->downloadProgress.load(std::memory_order_acquire);
            if (static_cast<uint32_t>(v) <= 100) {
                ReportProgress(1, v);
                if (install_->downloadProgress.load(std::memory_order_acquire) < 100) {
                    host_.ArmStep(3, 500);
                }
            }
            break;
        }
        case 4:
            ComponentStep();
            break;
        case 5:
            RestartForUpdate();
            break;
        case 6:
            ReportStatus(install_->installStatus.load(std::memory_order_acquire));
            break;
        case 7:
            if (PollServiceProbe() == kPending) {
                host_.ArmStep(7, 300);
            }
            break;
        default:
            if (id >= 8 && id <= 18) {
                RunCheckStep(id);
            }
            break;
    }
}

void WayfarerController::RunCheckStep(int id) {
    switch (id) {
        case 8:
            ReportProgress(0, 9);
            ReportStatus(1002);
            checks_.registryOk = ops_.CheckRegistry(checks_, false);
            ReportFlag(2, checks_.registryOk);
            break;
        case 9:
            ReportProgress(0, 18);
            ReportStatus(1003);
            checks_.hostsOk = ops_.CheckHostsFile(checks_, false);
            ReportFlag(3, checks_.hostsOk);
            RefreshItem(6);
            break;
        case 10:
            ReportProgress(0, 27);
            ReportStatus(1004);
            checks_.certificatesOk = ops_.CheckRootCertificates() >= 0;
            ReportFlag(4, checks_.certificatesOk);
            break;
        case 11:
            ReportProgress(0, 36);
            ReportStatus(1005);
            checks_.connected = ops_.InternetConnected();
            ReportFlag(5, checks_.connected);
            break;
        case 12:
            ReportProgress(0, 45);
            ReportStatus(1006);
            RefreshItem(6);
            break;
        case 13:
            ReportProgress(0, 54);
            ReportStatus(1007);
            if (checks_.connected) {
                checks_.serviceDone = false;
                shared_->serviceDone.store(false, std::memory_order_release);
                std::shared_ptr<WorkerShared> shared = shared_;
                CheckOperations* ops = &ops_;
                std::vector<ConfigGroup> groups = checks_.groups;
                serviceThread_ = host_.StartWorker(WorkerKind::ServiceProbe, [shared, ops, groups] {
                    const bool ok = ops->ProbeService(groups);
                    shared->serviceOk.store(ok, std::memory_order_relaxed);
                    shared->serviceDone.store(true, std::memory_order_release);
                });
                if (!serviceThread_) {
                    // Without a probe the wait would never end and the
                    // sequence (and checkRunning) would hang: count it as
                    // not reachable.
                    shared_->serviceOk.store(false, std::memory_order_relaxed);
                    shared_->serviceDone.store(true, std::memory_order_release);
                }
                if (PollServiceProbe() == kPending) {
                    host_.ArmStep(7, 500);
                }
            } else {
                checks_.serviceOk = false;
                ReportFlag(7, false);
                advancePending_ = true;
            }
            if (advancePending_) {
                host_.ArmStep(14, kStepGap);
                advancePending_ = false;
            }
            return;
        case 14:
            ReportProgress(0, 63);
            ReportStatus(1013);
            break;
        case 15:
            ReportProgress(0, 72);
            ReportStatus(1009);
            checks_.homePageOk = ops_.CheckHomePagePolicy(checks_, false);
            ReportFlag(9, checks_.homePageOk);
            break;
        case 16:
            ReportProgress(0, 81);
            ReportStatus(1010);
            checks_.securityLevelOk = ops_.CheckSecurityLevel(checks_, false);
            ReportFlag(10, checks_.securityLevelOk);
            break;
        case 17:
            ReportProgress(0, 90);
            ReportStatus(1011);
            checks_.trustedSitesOk = ops_.CheckTrustedSites(checks_, false);
            ReportFlag(11, checks_.trustedSitesOk);
            break;
        case 18:
            ReportProgress(0, 100);
            host_.ArmStep(4, kStepGap);
            ReportStatus(1999);
            return;
        default:
            return;
    }
    host_.ArmStep(id + 1, kStepGap);
}

int32_t WayfarerController::PollServiceProbe() {
    // serviceDone is stored after serviceOk with release; acquiring it first
    // makes serviceOk's value visible.
    if (!shared_->serviceDone.load(std::memory_order_acquire)) {
        return kPending;
    }
    checks_.serviceOk = shared_->serviceOk.load(std::memory_order_relaxed);
    checks_.serviceDone = true;
    ReportFlag(7, checks_.serviceOk);
    host_.ArmStep(14, kStepGap);
    serviceThread_ = false;
    return 0;
}

void WayfarerController::RefreshItem(int item) {
    if (item == 1) {
        ReportState(1, 1, ops_.GetSystemDescription());
    } else if (item == 6) {
        if (checks_.connected) {
            StoreDnsResult(ops_.CheckDns(checks_), checks_);
        } else {
            checks_.dnsOk = false;
        }
        if (checks_.dnsOk && !checks_.dnsMatchName.empty()) {
            ReportState(1, 6, checks_.dnsMatchName);
        } else {
            ReportFlag(6, checks_.dnsOk);
        }
    }
}

void WayfarerController::ComponentStep() {
    ops_.DetectComponents(checks_, checks_.items);
    ops_.DetectComponents(checks_, checks_.components);
    for (bool& clean : rowClean_) {
        clean = true;
    }
    for (uint32_t i = 1; i <= checks_.items.size(); ++i) {
        ReportComponent(i);
    }
    ops_.ReadUsbKeys(checks_.items, *this);
    ReportSummary();
    RefreshComponents();
    checkRunning_ = false;
    host_.SequenceEnded();
}

// ---------------------------------------------------------------- reports

void WayfarerController::ReportState(int32_t category, int32_t item, int32_t value) {
    host_.CallScript("setState", {category, item, value});
}

void WayfarerController::ReportState(int32_t category, int32_t item, const std::string& text) {
    host_.CallScript("setState", {category, item, text});
}

void WayfarerController::ClearState(int32_t category, int32_t item) {
    host_.CallScript("clearState", {category, item});
}

void WayfarerController::ReportProgress(int32_t item, int32_t percent) {
    ReportState(0, item, percent);
}

void WayfarerController::ReportStatus(int32_t code) {
    ReportState(0, 2, code);
}

void WayfarerController::ReportFlag(int32_t item, bool ok) {
    ReportState(1, item, ok ? 0 : 1);
}

void WayfarerController::ReportComponent(uint32_t position) {
    if (position < 1 || position > checks_.items.size()) {
        return;
    }
    const ComponentItem& item = checks_.items[position - 1];
    const int row = RowOfType(item.type);
    if (row == 0) {
        return;
    }
    const uint32_t s = item.state;
    const auto value = static_cast<int32_t>(s);
    if (item.type == "SafeActiveX" && !item.tips.empty()) {
        host_.CallScript("setState", {2, row, value, item.tips, item.name});
        return;
    }
    if (s == 0) {
        if (rowClean_[row - 1]) {
            ReportState(2, row, 0);
        }
        return;
    }
    rowClean_[row - 1] = false;
    ReportState(2, row, value);
    if (row <= 2 && s == component_state::kUpgradable && !configFromServer_) {
        ReportState(2, row, 6);
    }
    if (s == component_state::kInstallable && !configFromServer_) {
        ReportState(2, row, 7);
    }
}

void WayfarerController::ReportSummary() {
    const CheckState& c = checks_;
    const bool environmentOk = c.homePageOk && c.registryOk && c.hostsOk && c.connected && c.dnsOk &&
                               c.serviceOk && c.securityLevelOk && c.trustedSitesOk && c.certificatesOk;
    int32_t v = environmentOk ? 0 : 1;
    for (const ComponentItem& item : checks_.items) {
        // A driver's flag bits say nothing about whether it needs installing.
        const uint32_t s = item.type == "driver" ? (item.state & 0x0FFFFFFFu) : item.state;
        if (s != 0) {
            v |= 2;
            break;
        }
    }
    lastVerdict_ = v;
    ReportState(0, 3, v);
}

void WayfarerController::RefreshComponents() {
    for (bool& clean : rowClean_) {
        clean = true;
    }
    for (uint32_t p = 1; p <= checks_.items.size(); ++p) {
        const ComponentItem& item = checks_.items[p - 1];
        if ((item.state & component_state::kDisabled) != 0) {
            const int row = RowOfType(item.type);
            if (row != 0) {
                // 8 is a non-zero state like any other: a later current item
                // of the same type must not cover the repair offer.
                rowClean_[row - 1] = false;
                ReportState(2, row, 8);
            }
        } else {
            ReportComponent(p);
        }
    }
}

// ---------------------------------------------------------------- window.external

void WayfarerController::check(int32_t mode) {
    if (checkRunning_ || install_->installBusy.load(std::memory_order_acquire)) {
        return;
    }
    ReportProgress(0, 0);
    if (mode == 1) {
        Refetch();
        return;
    }
    ReportStatus(1000);
    host_.ArmStep(8, kStepGap);
    checkRunning_ = true;
}

void WayfarerController::Refetch() {
    checks_.configLoaded = false;
    StartConfigWorker();
    if (StartUpdateCheckIfReady() == kPending) {
        host_.ArmStep(1, 500);
    }
}

void WayfarerController::fix(int32_t item) {
    if (!serverConfigParsed_ && item == 0 && !checkRunning_ &&
        !install_->installBusy.load(std::memory_order_acquire)) {
        ReportProgress(0, 0);
        Refetch();
    }
    if (item >= 0 && item <= 16) {
        FixOne(item);
    }
    if (topLevelRepair_) {
        ReportStatus(2999);
        ReportSummary();
    }
}

void WayfarerController::FixOne(int32_t item) {
    CheckItems& c = checks_;
    switch (item) {
        case 0:
            topLevelRepair_ = false;
            if (!c.hostsOk) fix(3);
            if (!c.certificatesOk) fix(4);
            if (!c.homePageOk) fix(9);
            if (!c.securityLevelOk) fix(10);
            if (!c.registryOk) fix(2);
            if (!c.trustedSitesOk) fix(11);
            fix(15);
            topLevelRepair_ = true;
            break;
        case 2:
            ReportStatus(2002);
            c.registryOk = ops_.CheckRegistry(c, true);
            c.registryOk = ops_.CheckRegistry(c, false);
            ReportFlag(2, c.registryOk);
            break;
        case 3:
            ReportStatus(2003);
            c.hostsOk = ops_.CheckHostsFile(c, true);
            c.hostsOk = ops_.CheckHostsFile(c, false);
            ReportFlag(3, c.hostsOk);
            RefreshItem(6);
            break;
        case 4:
            ReportStatus(2004);
            if (ops_.CheckRootCertificates() < 0) {
                ops_.InstallRootCertificates();
            }
            c.certificatesOk = ops_.CheckRootCertificates() >= 0;
            ReportFlag(4, c.certificatesOk);
            break;
        case 9:
            ReportStatus(2009);
            c.homePageOk = ops_.CheckHomePagePolicy(c, true);
            c.homePageOk = ops_.CheckHomePagePolicy(c, false);
            ReportFlag(9, c.homePageOk);
            break;
        case 10:
            ReportStatus(2010);
            c.securityLevelOk = ops_.CheckSecurityLevel(c, true);
            fix(2);
            c.securityLevelOk = ops_.CheckSecurityLevel(c, false);
            ReportFlag(10, c.securityLevelOk);
            break;
        case 11:
            ReportStatus(2011);
            c.trustedSitesOk = ops_.CheckTrustedSites(c, true);
            c.trustedSitesOk = ops_.CheckTrustedSites(c, false);
            ReportFlag(11, c.trustedSitesOk);
            break;
        case 12:
            ReportStatus(2012);
            if (ops_.ClearSslCache()) {
                host_.Notice(141, 0);
            }
            break;
        case 15:
            for (uint32_t p = 1; p <= c.items.size(); ++p) {
                if ((c.items[p - 1].state & component_state::kDisabled) != 0) {
                    install(static_cast<int32_t>(p));
                }
                RefreshComponents();
            }
            break;
        case 16:
            if (ops_.ClearBrowserCache()) {
                host_.Notice(135, 0);
            }
            break;
        default:
            break;
    }
}

void WayfarerController::install(int32_t position) {
    if (install_->installBusy.load(std::memory_order_acquire) && !batchInstall_) {
        return;
    }
    const auto pos = static_cast<uint32_t>(position);
    const size_t count = checks_.items.size();
    if (pos == 0) {
        if (configFromServer_) {
            BatchScope batch(batchInstall_);
            for (uint32_t p = 1; p <= count; ++p) {
                install(static_cast<int32_t>(p));
            }
        }
        return;
    }
    if (pos > count) {
        return;
    }
    ComponentItem& item = checks_.items[pos - 1];
    if ((item.state & component_state::kDisabled) != 0) {
        for (const DetectRule& rule : item.detects) {
            if (rule.type != "clsid") {
                continue;
            }
            ops_.CheckAddonDisabled(rule.text, true);
            item.state &= ~component_state::kDisabled;
            ReportStatus(2999);
            RefreshComponents();
            ReportSummary();
        }
    }
    for (const InstallJob& job : ops_.QueueItemJobs(item)) {
        EnqueueInstallJob(job);
    }
}

void WayfarerController::installcom(int32_t row) {
    const char* type = TypeOfRow(row);
    BatchScope batch(batchInstall_);
    if (type == nullptr) {
        return;
    }
    for (uint32_t p = 1; p <= checks_.items.size(); ++p) {
        if (checks_.items[p - 1].type == type) {
            install(static_cast<int32_t>(p));
        }
    }
}

void WayfarerController::installmulti(int32_t first, int32_t last) {
    BatchScope batch(batchInstall_);
    // Compared as unsigned and bounded by the item count, so a range up to
    // 0xFFFFFFFF ends with the items.
    const uint64_t from = static_cast<uint32_t>(first);
    const uint64_t to = std::min<uint64_t>(static_cast<uint32_t>(last), checks_.items.size());
    for (uint64_t p = from; p <= to; ++p) {
        install(static_cast<int32_t>(static_cast<uint32_t>(p)));
    }
}

void WayfarerController::installandfix() {
    if (checkRunning_) {
        return;
    }
    fix(0);
    install(0);
}

void WayfarerController::stop(int32_t /*ignored*/) {}

void WayfarerController::EnqueueInstallJob(const InstallJob& job) {
    std::lock_guard<std::mutex> lock(install_->installLock);
    install_->installQueue.push_back(job);
    if (!install_->installThread) {
        std::shared_ptr<InstallShared> shared = install_;
        CheckOperations* ops = &ops_;
        ControllerHost* host = &host_;
        install_->installThread =
            host_.StartWorker(WorkerKind::Install, [shared, ops, host] { ops->InstallWorker(*shared, *host); });
        if (install_->installThread) {
            host_.ArmStep(3, 500);
        }
    }
}

}  // namespace wayfarer
