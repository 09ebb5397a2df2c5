#include "checks/network.h"

#include <algorithm>
#include <map>

namespace wayfarer {

DnsCheck CheckDnsRule(const CheckItems& items, const HostResolver& resolve) {
    DnsCheck result;
    const ConfigGroup* group = items.FindGroup("dns");
    if (group == nullptr || group->entries.empty()) {
        result.ok = true;
        return result;
    }
    // std::string compares byte-wise, as the table must be ordered.
    std::map<std::string, std::vector<std::string>> expected;
    for (const ConfigEntry& entry : group->entries) {
        expected[entry.text].push_back(entry.value);
    }
    for (const auto& [host, addresses] : expected) {
        const std::vector<std::string> answers = resolve(host);
        if (answers.empty()) {
            return result;
        }
        for (const std::string& answer : answers) {
            if (std::find(addresses.begin(), addresses.end(), answer) == addresses.end()) {
                return result;
            }
            // Any entry with this address lends its label, whatever its host.
            for (const ConfigEntry& entry : group->entries) {
                if (entry.value == answer && !entry.name.empty()) {
                    result.matched = true;
                    result.matchName = entry.name;
                }
            }
        }
    }
    result.ok = true;
    return result;
}

bool ProbeServiceGroups(const std::vector<ConfigGroup>& groups, const UrlProber& probe) {
    const auto group = std::find_if(groups.begin(), groups.end(),
                                    [](const ConfigGroup& g) { return g.type == "service"; });
    if (group == groups.end()) {
        return true;
    }
    std::vector<std::string> urls;
    urls.reserve(group->entries.size());
    for (const ConfigEntry& entry : group->entries) {
        urls.push_back(entry.text);
    }
    return probe(urls);
}

}  // namespace wayfarer
