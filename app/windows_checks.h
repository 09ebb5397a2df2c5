// The check operations of both hosts, the window and the console checker:
// the environment checks, system information, component detection, USB keys,
// the installation queue, the configuration and the self-update. Windows
// only.
#pragma once

#include <functional>
#include <string>

#include "app/controller.h"
#include "checks/certificates_windows.h"
#include "config/retrieval.h"

namespace wayfarer {

class WindowsChecks final : public CheckOperations {
public:
    // `configFile`: a document to load instead of the built-in one (tests);
    // `configured`, when given, learns where each fetched document came from
    // (on the configuration worker's thread).
    explicit WindowsChecks(std::wstring configFile = {}, std::function<void(ConfigSource)> configured = {});

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
    std::wstring configFile_;
    std::function<void(ConfigSource)> configured_;
    // The executable's own "CER" resources: a build without certificates
    // has none, and its repair fails.
    ResourceCertificateBlobs certificateBlobs_;
    SystemCertificateStores certificateStores_{certificateBlobs_};
};

}  // namespace wayfarer
