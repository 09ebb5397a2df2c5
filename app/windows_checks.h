// The check operations of both hosts, the window and the console checker.
// The environment checks and the system information are the real ones. Every
// operation that does not exist yet says so once (through the `unavailable`
// callback) and answers "not in order" / "nothing done": no host ever
// reports a check that did not run as passed. Windows only.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "app/controller.h"
#include "checks/certificates_windows.h"

namespace wayfarer {

class WindowsChecks final : public CheckOperations {
public:
    // `configFile`: a document to load instead of the built-in one (tests);
    // `unavailable` receives the name of each missing operation once.
    WindowsChecks(std::wstring configFile, std::function<void(const std::string&)> unavailable);

    bool CheckRegistry(CheckItems& checks, bool repair) override;
    bool CheckHostsFile(CheckItems& checks, bool repair) override;
    int32_t CheckRootCertificates() override;
    int32_t InstallRootCertificates() override;
    bool InternetConnected() override;
    DnsResult CheckDns(CheckItems& checks) override;
    bool ProbeService(const std::vector<ConfigGroup>& groups) override;
    bool CheckHomePagePolicy(CheckItems& checks, bool repair) override;
    bool CheckSecurityLevel(CheckItems& checks, bool repair) override;
    bool CheckTrustedSites(CheckItems& checks, bool repair) override;
    bool ClearSslCache() override;
    bool ClearBrowserCache() override;
    std::string GetSystemDescription() override;
    std::string GetBrowserVersion() override;
    void DetectComponents(const CheckItems& checks, std::vector<ComponentItem>& list) override;
    bool CheckAddonDisabled(const std::string& clsid, bool reenable) override;
    void ReadUsbKeys(const std::vector<ComponentItem>& items, PageReports& page) override;
    std::vector<InstallJob> QueueItemJobs(const ComponentItem& item) override;
    void InstallWorker(InstallShared& shared, ControllerHost& host) override;
    ConfigFetch FetchConfiguration(CheckItems& fresh, Messages& messages) override;
    UpdateCheck CheckForUpdate(const AppInfo& app) override;
    bool ApplyUpdate(const AppInfo& app) override;

private:
    void Unavailable(const char* operation);

    std::wstring configFile_;
    std::function<void(const std::string&)> unavailable_;
    std::mutex lock_;
    std::set<std::string> told_;
    // The executable's own "CER" resources: a build without certificates
    // has none, and its repair fails.
    ResourceCertificateBlobs certificateBlobs_;
    SystemCertificateStores certificateStores_{certificateBlobs_};
};

}  // namespace wayfarer
