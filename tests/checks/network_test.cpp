#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "checks/network.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

using Addresses = std::vector<std::string>;

// A resolver over a fixed table that records the hosts it was asked for.
struct FakeResolver {
    std::map<std::string, Addresses> answers;
    std::vector<std::string> asked;

    HostResolver Function() {
        return [this](const std::string& host) {
            asked.push_back(host);
            const auto found = answers.find(host);
            return found == answers.end() ? Addresses{} : found->second;
        };
    }
};

ConfigEntry DnsEntry(std::string host, std::string ip, std::string name = "") {
    ConfigEntry entry;
    entry.text = std::move(host);
    entry.value = std::move(ip);
    entry.name = std::move(name);
    return entry;
}

class DnsRuleTest : public ::testing::Test {
protected:
    void AddDns(std::vector<ConfigEntry> entries) {
        ConfigGroup group;
        group.type = "dns";
        group.entries = std::move(entries);
        items_.groups.push_back(std::move(group));
    }
    DnsCheck Run() { return CheckDnsRule(items_, resolver_.Function()); }

    test::FakeEnvironment env_;
    CheckItems items_{env_};
    FakeResolver resolver_;
};

TEST_F(DnsRuleTest, WithoutEntriesPassesWithoutLookups) {
    const DnsCheck missing = Run();
    EXPECT_TRUE(missing.ok);
    EXPECT_FALSE(missing.matched);
    AddDns({});
    EXPECT_TRUE(Run().ok);
    EXPECT_TRUE(resolver_.asked.empty());
}

struct DnsCase {
    const char* name;
    Addresses answer;  // for ebank.example, expected 10.0.0.1 or 10.0.0.2
    bool ok;
};
void PrintTo(const DnsCase& c, std::ostream* os) { *os << c.name; }


class DnsAnswerTest : public DnsRuleTest, public ::testing::WithParamInterface<DnsCase> {};

TEST_P(DnsAnswerTest, EveryAnswerMustBeExpected) {
    AddDns({DnsEntry("ebank.example", "10.0.0.1"), DnsEntry("ebank.example", "10.0.0.2")});
    resolver_.answers["ebank.example"] = GetParam().answer;
    EXPECT_EQ(Run().ok, GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DnsAnswerTest,
    ::testing::Values(DnsCase{"OneOfTwoExpected", {"10.0.0.1"}, true},
                      DnsCase{"BothExpected", {"10.0.0.2", "10.0.0.1"}, true},
                      DnsCase{"OneUnexpected", {"10.0.0.1", "10.0.0.3"}, false},
                      DnsCase{"OnlyUnexpected", {"10.0.0.3"}, false},
                      DnsCase{"NoAnswer", {}, false},
                      // Compared as strings, as the document writes them.
                      DnsCase{"SameAddressOtherSpelling", {"10.0.0.01"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DnsRuleTest, HostsAreAskedInByteOrderAndTheFirstFailureStops) {
    AddDns({DnsEntry("b.example", "10.0.0.2"), DnsEntry("B.example", "10.0.0.3"),
            DnsEntry("a.example", "10.0.0.1")});
    resolver_.answers = {{"a.example", {"10.0.0.1"}}, {"b.example", {"10.0.0.2"}}};
    EXPECT_FALSE(Run().ok);  // "B.example" sorts first and does not resolve
    EXPECT_EQ(resolver_.asked, (std::vector<std::string>{"B.example"}));

    resolver_.asked.clear();
    resolver_.answers["B.example"] = {"10.0.0.3"};
    EXPECT_TRUE(Run().ok);
    EXPECT_EQ(resolver_.asked, (std::vector<std::string>{"B.example", "a.example", "b.example"}));
}

TEST_F(DnsRuleTest, TheLabelIsThatOfTheLastMatchingEntryOfAnyHost) {
    // 10.0.0.1 is listed for two hosts with two labels; the walk over the
    // whole group leaves the later one.
    AddDns({DnsEntry("a.example", "10.0.0.1", "first"), DnsEntry("a.example", "10.0.0.9", "unused"),
            DnsEntry("b.example", "10.0.0.1", "second"), DnsEntry("b.example", "10.0.0.2")});
    resolver_.answers = {{"a.example", {"10.0.0.1"}}, {"b.example", {"10.0.0.2"}}};
    const DnsCheck result = Run();
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.matched);
    EXPECT_EQ(result.matchName, "second");
}

TEST_F(DnsRuleTest, ALabelFoundBeforeAFailureIsStillReported) {
    AddDns({DnsEntry("a.example", "10.0.0.1", "bank"), DnsEntry("a.example", "10.0.0.2")});
    resolver_.answers = {{"a.example", {"10.0.0.1", "10.0.0.66"}}};
    const DnsCheck result = Run();
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.matched);
    EXPECT_EQ(result.matchName, "bank");
}

TEST_F(DnsRuleTest, AnAnswerWithoutLabelLeavesNoLabel) {
    AddDns({DnsEntry("a.example", "10.0.0.1", "bank"), DnsEntry("a.example", "10.0.0.2")});
    resolver_.answers = {{"a.example", {"10.0.0.2"}}};
    const DnsCheck result = Run();
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.matched);  // so the label of an earlier call stays
}

std::vector<ConfigGroup> ServiceGroups(std::vector<std::string> urls) {
    ConfigGroup other;
    other.type = "trust";
    other.entries.push_back(ConfigEntry{"https://other.example/", "", "", "", ""});
    ConfigGroup service;
    service.type = "service";
    for (auto& url : urls) {
        service.entries.push_back(ConfigEntry{std::move(url), "", "", "", ""});
    }
    return {other, service};
}

TEST(ServiceProbeTest, HandsTheServiceUrlsInOrderAndReturnsTheProbersAnswer) {
    for (const bool reachable : {true, false}) {
        std::vector<std::vector<std::string>> calls;
        const bool result = ProbeServiceGroups(
            ServiceGroups({"https://b.example/", "https://a.example/x"}),
            [&](const std::vector<std::string>& urls) {
                calls.push_back(urls);
                return reachable;
            });
        EXPECT_EQ(result, reachable);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0], (std::vector<std::string>{"https://b.example/", "https://a.example/x"}));
    }
}

TEST(ServiceProbeTest, NoGroupIsReachableWithoutProbingAnEmptyGroupIsProbed) {
    int calls = 0;
    const UrlProber prober = [&](const std::vector<std::string>& urls) {
        ++calls;
        EXPECT_TRUE(urls.empty());
        return false;  // as when the root handle cannot be opened
    };
    EXPECT_TRUE(ProbeServiceGroups({}, prober));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(ProbeServiceGroups(ServiceGroups({}), prober));
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace wayfarer
