// Network: the DNS expectation rule, the service probe over the document's
// "service" group, and their Windows resolver and WinINet prober.
// The rules are portable over a resolver and a prober function; the calls
// that touch Winsock and WinINet are Windows only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/check_items.h"

namespace wayfarer {

struct DnsCheck {
    bool ok = false;
    bool matched = false;  // some entry with a label matched an answer
    std::string matchName;  // the label of the last such entry
};

// Host name (UTF-8) -> its IPv4 addresses in dotted form, in the
// resolver's order; empty when it does not resolve.
using HostResolver = std::function<std::vector<std::string>(const std::string& host)>;

// Every host of the "dns" group, in byte-wise ascending order of name, must
// resolve to at least one address, and every address must be one the group
// lists for that host. A label is taken from each matching entry as the walk
// goes, also when a later answer makes the check fail. No group, or one
// without entries: in order, nothing resolved.
DnsCheck CheckDnsRule(const CheckItems& items, const HostResolver& resolve);

// UTF-8 URLs in document order -> whether every one could be opened.
using UrlProber = std::function<bool(const std::vector<std::string>& urls)>;

// The first "service" group's URLs, handed to the prober as one list. No
// such group: reachable, and the prober is not asked. A group without
// entries is still handed over: it counts only when the prober can start.
bool ProbeServiceGroups(const std::vector<ConfigGroup>& groups, const UrlProber& probe);

#ifdef _WIN32
// Winsock is started here for the lookup, never assumed: an alphabetic name
// through gethostbyname, a numeric one through inet_addr and gethostbyaddr
// (255.255.255.255 is INADDR_NONE and resolves to nothing).
std::vector<std::string> ResolveHost(const std::string& host);

// InternetOpenW ("Mozilla/5.0", the system's proxy settings), then
// InternetOpenUrlW with INTERNET_FLAG_RELOAD for each URL in order. Any
// status counts; a URL that gets no response fails the whole probe.
bool ProbeUrls(const std::vector<std::wstring>& urls);

// ProbeServiceGroups over ProbeUrls, the URLs turned into UTF-16.
bool ProbeService(const std::vector<ConfigGroup>& groups);

// CheckDnsRule over ResolveHost.
DnsCheck CheckDns(const CheckItems& items);
#endif

}  // namespace wayfarer
