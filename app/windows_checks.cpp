#include "app/windows_checks.h"

#include <windows.h>
#include <wininet.h>

#include <utility>

#include "checks/certificates.h"
#include "checks/browser.h"
#include "checks/hosts.h"
#include "checks/network.h"
#include "checks/registry.h"
#include "checks/sysinfo.h"
#include "common/handles.h"
#include "config/retrieval_windows.h"

namespace wayfarer {

WindowsChecks::WindowsChecks(std::wstring configFile, std::function<void(const std::string&)> unavailable)
    : configFile_(std::move(configFile)), unavailable_(std::move(unavailable)) {}

void WindowsChecks::Unavailable(const char* operation) {
    std::lock_guard<std::mutex> lock(lock_);
    if (told_.insert(operation).second && unavailable_) {
        unavailable_(operation);
    }
}

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

// Without detection every item stays "not detected yet" (7), which the page
// shows as not installed and the verdict counts as needing attention.
void WindowsChecks::DetectComponents(const CheckItems&, std::vector<ComponentItem>&) {
    Unavailable("DetectComponents");
}

bool WindowsChecks::CheckAddonDisabled(const std::string&, bool) {
    Unavailable("CheckAddonDisabled");
    return false;
}

void WindowsChecks::ReadUsbKeys(const std::vector<ComponentItem>&, PageReports&) {
    Unavailable("ReadUsbKeys");
}

std::vector<InstallJob> WindowsChecks::QueueItemJobs(const ComponentItem&) {
    Unavailable("QueueItemJobs");
    return {};
}

// Never started while QueueItemJobs queues nothing; ends cleanly if it is.
void WindowsChecks::InstallWorker(InstallShared& shared, ControllerHost&) {
    Unavailable("InstallWorker");
    std::lock_guard<std::mutex> lock(shared.installLock);
    shared.installThread = false;
}

// Server, local copy, built-in document (or the test's file in its place).
ConfigFetch WindowsChecks::FetchConfiguration(CheckItems& fresh, Messages& messages) {
    const ConfigRetrieval retrieval =
        ConfigWorker(fresh, [&messages] { messages.Notice(155, 146); }, configFile_);
    ConfigFetch fetch;
    fetch.documentObtained = retrieval.documentObtained;
    fetch.fromServer = retrieval.fromServer;
    return fetch;
}

UpdateCheck WindowsChecks::CheckForUpdate(const AppInfo&) {
    Unavailable("UpdateNeeded");
    return UpdateCheck::NotNeeded;
}

bool WindowsChecks::ApplyUpdate(const AppInfo&) {
    Unavailable("RestartForUpdate");
    return false;
}

}  // namespace wayfarer
