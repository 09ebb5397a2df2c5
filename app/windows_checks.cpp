#include "app/windows_checks.h"

#include <windows.h>
#include <wininet.h>

#include <utility>

#include "app/update_windows.h"
#include "checks/certificates.h"
#include "checks/browser.h"
#include "checks/hosts.h"
#include "checks/network.h"
#include "checks/registry.h"
#include "checks/sysinfo.h"
#include "common/handles.h"
#include "components/detection.h"
#include "components/detection_windows.h"
#include "components/install_windows.h"
#include "config/retrieval_windows.h"
#include "usbkey/usb_key_windows.h"
#include "usbkey/usb_tree_windows.h"

namespace wayfarer {

WindowsChecks::WindowsChecks(std::wstring configFile, std::function<void(ConfigSource)> configured)
    : configFile_(std::move(configFile)), configured_(std::move(configured)) {}

bool WindowsChecks::CheckRegistry(CheckItems& checks, bool repair) {
    return wayfarer::CheckRegistry(checks, repair);
}

bool WindowsChecks::CheckHostsFile(CheckItems& checks, bool repair) {
    HostsFileOptions options;
    // A rewritten file changes what the bank's names resolve to.
    options.afterRewrite = [this, &checks] { StoreDnsResult(CheckDns(checks), checks); };
    return wayfarer::CheckHostsFile(checks, repair, options);
}

int32_t WindowsChecks::CheckRootCertificates() {
    return wayfarer::CheckRootCertificates(certificateStores_);
}

int32_t WindowsChecks::InstallRootCertificates() {
    return wayfarer::InstallRootCertificates(certificateStores_);
}

bool WindowsChecks::InternetConnected() {
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) != FALSE;
}

DnsResult WindowsChecks::CheckDns(CheckItems& checks) {
    const DnsCheck dns = wayfarer::CheckDns(checks);
    DnsResult result;
    result.ok = dns.ok;
    result.matched = dns.matched;
    result.matchName = dns.matchName;
    return result;
}

bool WindowsChecks::ProbeService(const std::vector<ConfigGroup>& groups) {
    return wayfarer::ProbeService(groups);
}

bool WindowsChecks::CheckHomePagePolicy(CheckItems& checks, bool repair) {
    return wayfarer::CheckHomePagePolicy(checks, repair);
}

// The console host has no COM of its own; the window's thread already has it.
bool WindowsChecks::CheckSecurityLevel(CheckItems& checks, bool repair) {
    const ComApartment com;
    return wayfarer::CheckSecurityLevel(checks, repair);
}

bool WindowsChecks::CheckTrustedSites(CheckItems& checks, bool repair) {
    const ComApartment com;
    return wayfarer::CheckTrustedSites(checks, repair);
}

bool WindowsChecks::ClearSslCache() {
    return wayfarer::ClearSslCache();
}

bool WindowsChecks::ClearBrowserCache() {
    return wayfarer::ClearBrowserCache();
}

std::string WindowsChecks::GetSystemDescription() {
    return wayfarer::GetSystemDescription();
}

std::string WindowsChecks::GetBrowserVersion() {
    return wayfarer::GetBrowserVersion();
}

// Every "usbkey" rule walks the USB tree afresh.
void WindowsChecks::DetectComponents(const CheckItems&, std::vector<ComponentItem>& list) {
    WindowsDetectionProbe probe([](const std::vector<uint32_t>& ids) { return IsUsbDevicePresent(ids); });
    wayfarer::DetectComponents(list, probe);
}

bool WindowsChecks::CheckAddonDisabled(const std::string& clsid, bool reenable) {
    return wayfarer::CheckAddonDisabled(clsid, reenable);
}

void WindowsChecks::ReadUsbKeys(const std::vector<ComponentItem>& items, PageReports& page) {
    // The key report speaks to the page through its own small interface.
    class KeyPage final : public UsbKeyPage {
    public:
        explicit KeyPage(PageReports& page) : page_(page) {}
        void ClearState(int32_t category, int32_t item) override { page_.ClearState(category, item); }
        void SetState(int32_t category, int32_t item, int32_t value) override {
            page_.ReportState(category, item, value);
        }
        void SetState(int32_t category, int32_t item, const std::string& text) override {
            page_.ReportState(category, item, text);
        }

    private:
        PageReports& page_;
    };
    KeyPage keyPage(page);
    wayfarer::ReadUsbKeys(items, keyPage);
}

std::vector<InstallJob> WindowsChecks::QueueItemJobs(const ComponentItem& item) {
    return wayfarer::QueueItemJobs(item);
}

void WindowsChecks::InstallWorker(InstallShared& shared, ControllerHost& host) {
    // The worker reaches the dialog only through its timers and prompts.
    class DialogSide final : public InstallHost {
    public:
        explicit DialogSide(ControllerHost& dialog) : dialog_(dialog) {}
        void ArmStep(int id, uint32_t delayMs) override { dialog_.ArmStep(id, delayMs); }
        int Prompt(int textId, int headingId, int firstChoiceId) override {
            return dialog_.Prompt(textId, headingId, firstChoiceId);
        }

    private:
        ControllerHost& dialog_;
    };
    DialogSide dialog(host);
    wayfarer::InstallWorker(shared, dialog);
}

// Server, local copy, built-in document (or the test's file in its place).
ConfigFetch WindowsChecks::FetchConfiguration(CheckItems& fresh, Messages& messages) {
    const ConfigRetrieval retrieval =
        ConfigWorker(fresh, [&messages] { messages.Notice(155, 146); }, configFile_);
    if (configured_) {
        configured_(retrieval.source);
    }
    ConfigFetch fetch;
    fetch.documentObtained = retrieval.documentObtained;
    fetch.fromServer = retrieval.fromServer();
    return fetch;
}

UpdateCheck WindowsChecks::CheckForUpdate(const AppInfo& app) {
    return CheckAndDownloadUpdate(app, RunningExecutablePath());
}

bool WindowsChecks::ApplyUpdate(const AppInfo& app) {
    return ApplyDownloadedUpdate(app, RunningExecutablePath());
}

}  // namespace wayfarer
