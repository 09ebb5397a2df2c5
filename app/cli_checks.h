// The console checker's check operations. Until the real checks, detection,
// queue and retrieval are wired in, every operation that does not exist yet
// says so on stderr and answers "not in order" / "nothing done": the console
// never reports a check it did not run as passed. Windows only.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "app/controller.h"

namespace wayfarer {

class CliChecks final : public CheckOperations {
public:
    // `configFile`: a document to load instead of the built-in one (tests);
    // `unavailable` receives the name of each missing operation once.
    CliChecks(std::wstring configFile, std::function<void(const std::string&)> unavailable);

    bool CheckRegistry(const CheckItems& checks, bool repair) override;
    bool CheckHostsFile(const CheckItems& checks, bool repair) override;
    int32_t CheckRootCertificates() override;
    int32_t InstallRootCertificates() override;
    bool InternetConnected() override;
    DnsResult CheckDns(const CheckItems& checks) override;
    bool ProbeService(const std::vector<ConfigGroup>& groups) override;
    bool CheckHomePagePolicy(const CheckItems& checks, bool repair) override;
    bool CheckSecurityLevel(const CheckItems& checks, bool repair) override;
    bool CheckTrustedSites(const CheckItems& checks, bool repair) override;
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
};

}  // namespace wayfarer
