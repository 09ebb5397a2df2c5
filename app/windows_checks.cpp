#include "app/windows_checks.h"

#include <windows.h>
#include <wininet.h>

#include <utility>

#include "checks/certificates.h"
#include "checks/hosts.h"
#include "checks/registry.h"
#include "common/handles.h"

namespace wayfarer {

namespace {

// The default document as built into this executable (RT_HTML "ITEM.XML").
std::string LoadBuiltInDocument() {
    HRSRC found = ::FindResourceW(nullptr, L"ITEM.XML", MAKEINTRESOURCEW(23));
    if (found == nullptr) {
        return {};
    }
    const DWORD size = ::SizeofResource(nullptr, found);
    HGLOBAL loaded = ::LoadResource(nullptr, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) {
        return {};
    }
    return std::string(static_cast<const char*>(data), size);
}

std::string ReadWholeFile(const std::wstring& path) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read != 0) {
        text.append(buffer, read);
    }
    return text;
}

}  // namespace

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

DnsResult WindowsChecks::CheckDns(CheckItems&) {
    Unavailable("CheckDns");
    return {};
}

bool WindowsChecks::ProbeService(const std::vector<ConfigGroup>&) {
    Unavailable("ProbeService");
    return false;
}

bool WindowsChecks::CheckHomePagePolicy(CheckItems&, bool) {
    Unavailable("CheckHomePagePolicy");
    return false;
}

bool WindowsChecks::CheckSecurityLevel(CheckItems&, bool) {
    Unavailable("CheckSecurityLevel");
    return false;
}

bool WindowsChecks::CheckTrustedSites(CheckItems&, bool) {
    Unavailable("CheckTrustedSites");
    return false;
}

bool WindowsChecks::ClearSslCache() {
    Unavailable("ClearSslCache");
    return false;
}

bool WindowsChecks::ClearBrowserCache() {
    Unavailable("ClearBrowserCache");
    return false;
}

std::string WindowsChecks::GetSystemDescription() {
    Unavailable("GetSystemDescription");
    return "(not available yet)";
}

std::string WindowsChecks::GetBrowserVersion() {
    Unavailable("GetBrowserVersion");
    return "(not available yet)";
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

// Retrieval from the bank's server is not wired in yet: the built-in default
// document (or the test's file) is what the checks run on, and it counts as
// not coming from the server.
ConfigFetch WindowsChecks::FetchConfiguration(CheckItems& fresh, Messages& messages) {
    Unavailable("FetchConfigDocument");
    messages.Notice(155, 146);
    const std::string text = configFile_.empty() ? LoadBuiltInDocument() : ReadWholeFile(configFile_);
    ConfigFetch fetch;
    if (!text.empty()) {
        fetch.documentObtained = true;
        fresh.LoadFromText(text);
    }
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
