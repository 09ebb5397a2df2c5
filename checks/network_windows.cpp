#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include "checks/network.h"
#include "common/handles.h"
#include "common/text.h"

namespace wayfarer {

namespace {

// One Winsock start-up for the span of a lookup; the library counts them.
class WinsockSession {
public:
    WinsockSession() {
        WSADATA data{};
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (started_) {
            ::WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool started() const { return started_; }

private:
    bool started_ = false;
};

bool HasAlphabetic(const std::string& text) {
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> ResolveHost(const std::string& host) {
    std::vector<std::string> addresses;
    const WinsockSession session;
    if (!session.started()) {
        return addresses;
    }
    const hostent* entry = nullptr;
    if (HasAlphabetic(host)) {
        entry = ::gethostbyname(host.c_str());
    } else {
        const unsigned long address = ::inet_addr(host.c_str());
        if (address == INADDR_NONE) {
            return addresses;
        }
        entry = ::gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    }
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr) {
        return addresses;
    }
    for (char** item = entry->h_addr_list; *item != nullptr; ++item) {
        in_addr address{};
        memcpy(&address, *item, sizeof address);
        // inet_ntoa's buffer is per thread and reused: copy at once.
        const char* dotted = ::inet_ntoa(address);
        if (dotted != nullptr) {
            addresses.emplace_back(dotted);
        }
    }
    return addresses;
}

bool ProbeUrls(const std::vector<std::wstring>& urls) {
    const unique_hinternet root(
        ::InternetOpenW(L"Mozilla/5.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root) {
        return false;
    }
    for (const std::wstring& url : urls) {
        const unique_hinternet request(
            ::InternetOpenUrlW(root.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
        if (!request) {
            return false;
        }
    }
    return true;
}

bool ProbeService(const std::vector<ConfigGroup>& groups) {
    return ProbeServiceGroups(groups, [](const std::vector<std::string>& urls) {
        std::vector<std::wstring> wide;
        wide.reserve(urls.size());
        for (const std::string& url : urls) {
            wide.push_back(Utf8ToWide(url));
        }
        return ProbeUrls(wide);
    });
}

DnsCheck CheckDns(const CheckItems& items) {
    return CheckDnsRule(items, ResolveHost);
}

}  // namespace wayfarer
