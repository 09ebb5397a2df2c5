#include "app/controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/app/controller_fakes.h"

namespace wayfarer::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr uint32_t kDisabled = component_state::kDisabled;

class ControllerTest : public ::testing::Test, public ControllerRig {
protected:
    // Events between the first occurrence of `from` and the next of `to`
    // (both included).
    std::vector<std::string> Between(const std::string& from, const std::string& to) const {
        std::vector<std::string> out;
        bool in = false;
        for (const std::string& e : events) {
            if (!in && e == from) in = true;
            if (in) out.push_back(e);
            if (in && e == to && out.size() > 1) break;
        }
        return out;
    }
    size_t Count(const std::string& event) const {
        return static_cast<size_t>(std::count(events.begin(), events.end(), event));
    }
    // Row values of category 2 reported during the last component step.
    std::vector<int32_t> RowValues(int32_t row) const { return host.Values(2, row); }
};

// ---------------------------------------------------------------- the sequence

TEST_F(ControllerTest, FullSequenceReportsProgressAndStatusInOrderWithTheDelays) {
    ops.nextItems = {Item("driver", "driver")};
    ops.itemStates = {0};
    StartAndRun();

    EXPECT_THAT(host.Values(0, 0), ElementsAre(0, 9, 18, 27, 36, 45, 54, 63, 72, 81, 90, 100));
    EXPECT_THAT(host.Values(0, 2),
                ElementsAre(1000, 1002, 1003, 1004, 1005, 1006, 1007, 1013, 1009, 1010, 1011, 1999));

    // Page loaded before the document: step 1 after 500 ms, the update worker
    // arms step 2 after 100 ms, then 100 ms between steps; the probe is
    // awaited by step 7 after 500 ms.
    EXPECT_THAT(host.FireTimes(1), ElementsAre(500));
    EXPECT_THAT(host.FireTimes(2), ElementsAre(600));
    const std::vector<std::pair<int, uint64_t>> expected = {
        {8, 700},   {9, 800},   {10, 900},  {11, 1000}, {12, 1100}, {13, 1200}, {7, 1700},
        {14, 1800}, {15, 1900}, {16, 2000}, {17, 2100}, {18, 2200}, {4, 2300},
    };
    for (const auto& [id, time] : expected) {
        EXPECT_THAT(host.FireTimes(id), ElementsAre(time)) << "step " << id;
    }
    EXPECT_EQ(host.sequencesEnded, 1);
    EXPECT_FALSE(controller.checkRunning());
    EXPECT_EQ(controller.LastVerdict(), 0);
}

TEST_F(ControllerTest, EachStepReportsProgressThenStatusThenRunsItsCheck) {
    ops.dns = {true, true, "主线路"};
    StartAndRun();

    EXPECT_THAT(Between("setState(0,0,9)", "setState(0,2,1999)"),
                ElementsAreArray(std::vector<std::string>{
                    "setState(0,0,9)", "setState(0,2,1002)", "CheckRegistry(false)", "setState(1,2,0)",
                    "setState(0,0,18)", "setState(0,2,1003)", "CheckHostsFile(false)", "setState(1,3,0)",
                    "CheckDns", "setState(1,6,\"主线路\")",
                    "setState(0,0,27)", "setState(0,2,1004)", "CheckRootCertificates", "setState(1,4,0)",
                    "setState(0,0,36)", "setState(0,2,1005)", "InternetConnected", "setState(1,5,0)",
                    "setState(0,0,45)", "setState(0,2,1006)", "CheckDns", "setState(1,6,\"主线路\")",
                    "setState(0,0,54)", "setState(0,2,1007)", "ProbeService", "setState(1,7,0)",
                    "setState(0,0,63)", "setState(0,2,1013)",
                    "setState(0,0,72)", "setState(0,2,1009)", "CheckHomePagePolicy(false)", "setState(1,9,0)",
                    "setState(0,0,81)", "setState(0,2,1010)", "CheckSecurityLevel(false)", "setState(1,10,0)",
                    "setState(0,0,90)", "setState(0,2,1011)", "CheckTrustedSites(false)", "setState(1,11,0)",
                    "setState(0,0,100)", "setState(0,2,1999)"}));
    EXPECT_THAT(Between("DetectComponents(items)", "setState(0,3,0)"),
                ElementsAre("DetectComponents(items)", "DetectComponents(components)", "ReadUsbKeys",
                            "setState(0,3,0)"));
}

TEST_F(ControllerTest, DocumentCompleteShowsSystemBrowserAndConnectionAndWaitsForTheDocument) {
    controller.Start();
    controller.OnDocumentComplete();
    EXPECT_THAT(events, ElementsAre("setState(1,1,\"Windows 7 Ultimate Service Pack 1\")", "setState(1,8,\"11.0\")",
                                    "InternetConnected", "setState(1,5,0)"));
    EXPECT_EQ(host.armed.at(1), 500u);

    // A document already in hand starts the update check at once.
    host.RunUntilIdle();
    host.ClearRecords();
    controller.OnDocumentComplete();
    EXPECT_EQ(host.armed.count(1), 0u);
    EXPECT_EQ(host.started[WorkerKind::Update], 2);
}

TEST_F(ControllerTest, StepOnePollsEvery300MsUntilTheDocumentArrives) {
    host.workerDuration[WorkerKind::Config] = 1000;
    controller.Start();
    controller.OnDocumentComplete();
    host.RunUntil(1500);
    EXPECT_THAT(host.FireTimes(1), ElementsAre(500, 800, 1100));  // the document arrived at 1000
    EXPECT_THAT(host.FireTimes(2), ElementsAre(1200));
}

TEST_F(ControllerTest, WithoutConnectionTheNetworkItemsFailAndTheSequenceStillEnds) {
    ops.connected = false;
    StartAndRun();

    EXPECT_THAT(host.Values(1, 5), ElementsAre(1, 1));  // page loaded, step 11
    EXPECT_THAT(host.Values(1, 6), ElementsAre(1, 1));  // step 9's refresh, step 12
    EXPECT_THAT(host.Values(1, 7), ElementsAre(1));
    EXPECT_EQ(Count("CheckDns"), 0u);
    EXPECT_EQ(host.started[WorkerKind::ServiceProbe], 0);
    EXPECT_THAT(host.FireTimes(7), IsEmpty());
    EXPECT_EQ(host.FireTimes(14).at(0), host.FireTimes(13).at(0) + 100);
    EXPECT_EQ(host.Values(0, 0).back(), 100);
    EXPECT_THAT(host.FireTimes(4), testing::SizeIs(1));
    EXPECT_EQ(controller.LastVerdict(), 1);
}

TEST_F(ControllerTest, DnsItemShowsTheMatchedLabelOnlyWhenTheCheckPassed) {
    StartAndRun();
    const struct {
        DnsResult dns;
        const char* expected;
    } cases[] = {
        {{true, true, "备用线路"}, "setState(1,6,\"备用线路\")"},
        {{true, false, ""}, "setState(1,6,\"备用线路\")"},  // the label is never cleared
        {{false, true, "主线路"}, "setState(1,6,1)"},
        {{true, true, "主线路"}, "setState(1,6,\"主线路\")"},
    };
    for (const auto& c : cases) {
        ops.dns = c.dns;
        events.clear();
        controller.RefreshItem(6);
        EXPECT_THAT(events, ElementsAre("CheckDns", c.expected));
    }
    ControllerRig fresh;
    fresh.ops.dns = {true, false, ""};
    fresh.StartAndRun();
    EXPECT_THAT(fresh.host.Values(1, 6), ElementsAre(0, 0));
}

TEST_F(ControllerTest, ServiceProbeOfTwoSecondsIsPolledEvery300Ms) {
    host.workerDuration[WorkerKind::ServiceProbe] = 2000;
    StartAndRun();

    const uint64_t t13 = host.FireTimes(13).at(0);
    std::vector<uint64_t> polls;
    for (uint64_t offset : {500, 800, 1100, 1400, 1700, 2000}) polls.push_back(t13 + offset);
    EXPECT_THAT(host.FireTimes(7), ElementsAreArray(polls));
    EXPECT_THAT(host.FireTimes(14), ElementsAre(t13 + 2100));
    EXPECT_THAT(host.Values(1, 7), ElementsAre(0));
    EXPECT_FALSE(controller.serviceThread());
}

TEST_F(ControllerTest, ServiceProbeThatCannotStartCountsAsUnreachable) {
    host.refuseStart[WorkerKind::ServiceProbe] = true;
    StartAndRun();
    EXPECT_THAT(host.Values(1, 7), ElementsAre(1));
    EXPECT_EQ(host.FireTimes(14).at(0), host.FireTimes(13).at(0) + 100);
    EXPECT_FALSE(controller.checkRunning());
}

TEST_F(ControllerTest, DownloadProgressStepShowsOnlyValuesUpTo100) {
    const struct {
        int32_t progress;
        std::vector<int32_t> shown;
        bool rearmed;
    } cases[] = {
        {0, {0}, true}, {50, {50}, true}, {100, {100}, false}, {101, {}, false}, {-1, {}, false},
    };
    for (const auto& c : cases) {
        host.ClearRecords();
        host.armed.clear();
        controller.Install().downloadProgress = c.progress;
        controller.OnTimer(3);
        EXPECT_EQ(host.Values(0, 1), c.shown) << c.progress;
        EXPECT_EQ(host.armed.count(3) == 1 && host.armed[3] == host.now + 500, c.rearmed) << c.progress;
    }
}

TEST_F(ControllerTest, InstallationStatusStepShowsTheWorkersCode) {
    for (int32_t code : {2, 3, 1}) {
        controller.Install().installStatus = code;
        controller.OnTimer(6);
    }
    EXPECT_THAT(host.Values(0, 2), ElementsAre(2, 3, 1));
}

TEST_F(ControllerTest, StepsAreOneShotAndUnknownIdsDoNothing) {
    StartAndRun();
    host.ClearRecords();
    for (int id : {0, 19, -1, 1000}) controller.OnTimer(id);
    EXPECT_THAT(host.page, IsEmpty());
    EXPECT_THAT(host.armed, IsEmpty());
}

// ---------------------------------------------------------------- components

TEST_F(ControllerTest, DisabledControlEndsTheComponentStepWithCode8) {
    ops.nextItems = {Item("pwd", "SafeActiveX")};
    ops.itemStates = {kDisabled | 5};
    StartAndRun();
    EXPECT_THAT(RowValues(1), ElementsAre(static_cast<int32_t>(kDisabled | 5), 8));
}

TEST_F(ControllerTest, RowKeepsTheFirstNonZeroStateOfItsType) {
    const struct {
        std::vector<uint32_t> states;
        std::vector<int32_t> firstPass;
    } cases[] = {
        {{0, 5}, {0, 5}},
        {{5, 0}, {5}},
        {{1, 4}, {1, 4}},
        {{0, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        rig.ops.nextItems = {Item("a", "driver"), Item("b", "driver")};
        rig.ops.itemStates = c.states;
        rig.StartAndRun();
        // The component step reports twice: the pass, then the refresh.
        std::vector<int32_t> both = c.firstPass;
        both.insert(both.end(), c.firstPass.begin(), c.firstPass.end());
        EXPECT_EQ(rig.host.Values(2, 4), both);
    }
}

TEST_F(ControllerTest, DisabledRowIsNotCoveredByALaterCurrentItemOfItsType) {
    ops.nextItems = {Item("a", "SignActiveX"), Item("b", "SignActiveX")};
    ops.itemStates = {kDisabled | 0, 0};
    StartAndRun();
    host.ClearRecords();
    controller.RefreshComponents();
    EXPECT_THAT(host.Values(2, 2), ElementsAre(8));
}

TEST_F(ControllerTest, UpgradableAndInstallableWithoutServerDocumentAddCodes6And7) {
    const struct {
        const char* type;
        uint32_t state;
        bool fromServer;
        std::vector<int32_t> reported;  // one pass
    } cases[] = {
        {"SignActiveX", 2, false, {2, 6}},    {"SignActiveX", 5, false, {5, 7}},
        {"driver", 2, false, {2}},            {"driver", 5, false, {5, 7}},
        {"SignActiveX", 2, true, {2}},        {"SignActiveX", 5, true, {5}},
        {"SignActiveX", kDisabled | 2, false, {static_cast<int32_t>(kDisabled | 2)}},
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        rig.ops.nextItems = {Item("x", c.type)};
        rig.ops.itemStates = {c.state};
        rig.ops.nextFromServer = c.fromServer;
        rig.StartAndRun();
        rig.host.ClearRecords();
        rig.controller.ReportComponent(1);
        const int32_t row = std::string(c.type) == "driver" ? 4 : 2;
        EXPECT_EQ(rig.host.Values(2, row), c.reported) << c.type << " " << c.state;
    }
}

TEST_F(ControllerTest, SafeActiveXWithTipsSendsOneFiveArgumentCall) {
    ops.nextItems = {Item("密码控件", "SafeActiveX", "保护密码"), Item("other", "SafeActiveX")};
    ops.itemStates = {5, 0};
    ops.nextFromServer = false;
    StartAndRun();
    host.ClearRecords();
    controller.RefreshComponents();
    // The tips item leaves rowClean alone, so the current item still reports 0.
    EXPECT_THAT(events, ElementsAre("setState(2,1,5,\"保护密码\",\"密码控件\")", "setState(2,1,0)"));
}

TEST_F(ControllerTest, ReportComponentIgnoresPositionsOutsideTheListAndUnknownTypes) {
    ops.nextItems = {Item("x", "Other"), Item("y", "safeactivex")};
    ops.itemStates = {5, 5};
    StartAndRun();
    host.ClearRecords();
    for (uint32_t p : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) controller.ReportComponent(p);
    EXPECT_THAT(host.page, IsEmpty());
}

TEST_F(ControllerTest, VerdictBits) {
    const struct {
        bool allChecksPass;
        std::vector<std::pair<const char*, uint32_t>> items;
        int32_t verdict;
    } cases[] = {
        {true, {}, 0},
        {false, {}, 1},
        {true, {{"driver", 0x80000000u}}, 0},  // a driver's flag bits do not count
        {true, {{"driver", 0x40000000u}}, 0},
        {true, {{"UkeyActiveX", 0x80000000u}}, 2},
        {true, {{"SafeActiveX", 0}, {"driver", 4}}, 2},
        {false, {{"Other", 1}}, 3},
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        for (const auto& [type, state] : c.items) {
            rig.ops.nextItems.push_back(Item("i", type));
            rig.ops.itemStates.push_back(state);
        }
        rig.ops.homePage = c.allChecksPass;
        rig.StartAndRun();
        EXPECT_EQ(rig.host.Values(0, 3), std::vector<int32_t>{c.verdict});
    }
}

// ---------------------------------------------------------------- check and its guards

TEST_F(ControllerTest, CheckRunningIsSetWhenTheSequenceIsArmedAndRefusesASecondCheck) {
    StartAndRun();
    host.ClearRecords();
    controller.check(0);
    EXPECT_TRUE(controller.checkRunning());
    controller.check(0);
    controller.check(1);
    EXPECT_THAT(events, ElementsAre("setState(0,0,0)", "setState(0,2,1000)"));
    host.RunUntilIdle();
    EXPECT_FALSE(controller.checkRunning());
    EXPECT_THAT(host.FireTimes(8), testing::SizeIs(1));
}

TEST_F(ControllerTest, CheckDuringAnInstallationDoesNothing) {
    StartAndRun();
    host.ClearRecords();
    controller.Install().installBusy = true;
    controller.check(0);
    controller.check(1);
    EXPECT_THAT(host.page, IsEmpty());
    EXPECT_THAT(host.armed, IsEmpty());
    EXPECT_EQ(host.started[WorkerKind::Config], 1);
}

TEST_F(ControllerTest, CheckOneRefetchesThenRunsTheUpdateCheckAndTheSequence) {
    StartAndRun();
    host.ClearRecords();
    controller.check(1);
    EXPECT_FALSE(controller.Document().configLoaded);
    EXPECT_EQ(host.armed.at(1), host.now + 500);
    host.RunUntilIdle();
    EXPECT_EQ(host.started[WorkerKind::Config], 2);
    EXPECT_EQ(host.started[WorkerKind::Update], 2);
    EXPECT_EQ(host.Values(0, 0).front(), 0);
    EXPECT_EQ(host.Values(0, 2).back(), 1999);
}

// ---------------------------------------------------------------- update

TEST_F(ControllerTest, UpdateOutcomesLeadToTheSequenceOrTheRestart) {
    const struct {
        UpdateCheck update;
        std::vector<int> answers;
        bool starts;
        bool sequenceRuns;
        bool quits;
    } cases[] = {
        {UpdateCheck::NotNeeded, {}, true, true, false},
        {UpdateCheck::DownloadFailed, {}, true, true, false},  // not left waiting
        {UpdateCheck::Downloaded, {kIdNo}, true, true, false},
        {UpdateCheck::Downloaded, {kIdYes}, true, false, true},
        {UpdateCheck::Downloaded, {-1}, true, false, true},
        {UpdateCheck::Downloaded, {1}, false, true, false},  // not applied: the checks run
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        rig.ops.update = c.update;
        rig.ops.updateStarts = c.starts;
        rig.host.promptAnswers = c.answers;
        rig.StartAndRun();
        EXPECT_EQ(!rig.host.FireTimes(8).empty(), c.sequenceRuns);
        EXPECT_EQ(rig.host.quitRequested, c.quits);
        if (c.update == UpdateCheck::Downloaded) {
            EXPECT_THAT(rig.host.messages, ElementsAre("Prompt(139,142,143)"));
        }
    }
}

// ---------------------------------------------------------------- configuration hand-over

TEST_F(ControllerTest, NewDocumentKeepsAppInfoWhenItHasNoneAndKeepsTheCheckResults) {
    ops.nextApp.version = "1.0.0.2";
    ops.nextItems = {Item("a", "driver")};
    StartAndRun();
    ASSERT_TRUE(controller.Document().registryOk);

    ops.nextApp = AppInfo{};
    ops.nextItems = {Item("b", "driver"), Item("c", "driver")};
    controller.check(1);
    host.RunUntilIdle();
    EXPECT_EQ(controller.Document().app.version, "1.0.0.2");
    ASSERT_EQ(controller.Document().items.size(), 2u);
    EXPECT_EQ(controller.Document().items[0].name, "b");
    EXPECT_THAT(events, testing::Contains("CheckForUpdate(1.0.0.2)"));
}

TEST_F(ControllerTest, DocumentThatFailsToParseIsNotAdoptedAndStepOneKeepsPolling) {
    ops.nextItems = {Item("a", "driver")};
    ops.nextFromServer = false;
    StartAndRun();

    ops.nextParses = false;
    ops.nextFromServer = true;
    controller.check(1);
    host.RunUntil(host.now + 2000);
    EXPECT_FALSE(controller.Document().configLoaded);
    ASSERT_EQ(controller.Document().items.size(), 1u);
    EXPECT_FALSE(controller.configFromServer());  // still the document in hand
    EXPECT_TRUE(controller.serverConfigParsed());
    EXPECT_EQ(host.armed.count(1), 1u);
}

TEST_F(ControllerTest, ConfigurationFlagsFollowTheAdoptedDocument) {
    const struct {
        bool obtained, fromServer;
        bool configFromServer, serverConfigParsed, loaded;
    } cases[] = {
        {true, true, true, true, true},
        {true, false, false, false, true},
        {false, false, false, false, false},
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        rig.ops.nextObtained = c.obtained;
        rig.ops.nextFromServer = c.fromServer;
        rig.controller.Start();
        rig.controller.OnDocumentComplete();
        rig.host.RunUntil(2000);
        EXPECT_EQ(rig.controller.configFromServer(), c.configFromServer);
        EXPECT_EQ(rig.controller.serverConfigParsed(), c.serverConfigParsed);
        EXPECT_EQ(rig.controller.Document().configLoaded, c.loaded);
    }
}

TEST_F(ControllerTest, RefetchDuringFixZeroDoesNotDisturbTheRunningRepairs) {
    ops.nextFromServer = false;
    ops.registry = ops.hosts = false;
    StartAndRun();

    ConfigGroup other;
    other.type = "registry";
    other.entries.push_back({"HKCU\\second", "", "", "", ""});
    ops.nextGroups = {other};
    ops.nextItems = {Item("new", "driver")};
    // The configuration worker finishes while the hosts file is repaired.
    ops.duringHostsRepair = [this] { host.FinishWorkers(WorkerKind::Config); };
    ops.registryGroupSeen.clear();
    controller.fix(0);

    EXPECT_THAT(ops.registryGroupSeen, ElementsAre("HKCU\\first", "HKCU\\first"));
    EXPECT_TRUE(controller.Document().items.empty());
    EXPECT_TRUE(controller.Document().registryOk);

    host.RunUntilIdle();  // step 1 adopts the new document
    ASSERT_EQ(controller.Document().items.size(), 1u);
    EXPECT_EQ(controller.Document().items[0].name, "new");
    EXPECT_EQ(ops.registryGroupSeen.back(), "HKCU\\second");
}

TEST_F(ControllerTest, LaterRefetchWinsOverAnEarlierOneThatEndsLate) {
    controller.Start();
    controller.check(1);  // a second worker while the first still runs
    ASSERT_EQ(host.workers.size(), 2u);
    auto workers = std::move(host.workers);
    host.workers.clear();
    ops.nextItems = {Item("second", "driver")};
    workers[1].body();
    ops.nextItems = {Item("first", "driver")};
    workers[0].body();
    host.RunUntilIdle();
    ASSERT_EQ(controller.Document().items.size(), 1u);
    EXPECT_EQ(controller.Document().items[0].name, "second");
}

// ---------------------------------------------------------------- fix

TEST_F(ControllerTest, FixZeroRepairsInOrderAndClosesOnce) {
    ops.nextFromServer = true;
    ops.registry = ops.hosts = ops.homePage = ops.security = ops.trusted = false;
    ops.certificates = -1;
    StartAndRun();
    host.ClearRecords();

    controller.fix(0);
    EXPECT_THAT(host.Values(0, 2), ElementsAre(2003, 2004, 2009, 2010, 2002, 2011, 2999));
    EXPECT_THAT(host.Values(0, 3), ElementsAre(0));
    EXPECT_THAT(host.Values(0, 0), IsEmpty());  // server document: no refetch
    EXPECT_TRUE(controller.topLevelRepair());
    EXPECT_EQ(Count("InstallRootCertificates"), 1u);
}

TEST_F(ControllerTest, FixZeroWithEverythingInOrderOnlyReenablesControls) {
    ops.nextFromServer = true;
    ops.nextItems = {Item("pwd", "SafeActiveX")};
    ops.nextItems[0].detects = {{"{CLSID-1}", "clsid"}, {"C:\\f.dll", "file"}};
    ops.itemStates = {kDisabled | 0};
    StartAndRun();
    host.ClearRecords();

    controller.fix(0);
    EXPECT_THAT(host.Values(0, 2), ElementsAre(2999, 2999));  // install's, then fix's own
    EXPECT_EQ(Count("CheckAddonDisabled({CLSID-1},true)"), 1u);
    EXPECT_EQ(controller.Document().items[0].state, 0u);
    EXPECT_EQ(host.Values(0, 3).size(), 2u);
}

TEST_F(ControllerTest, FixZeroWithALocalDocumentRefetchesFirst) {
    ops.nextFromServer = false;
    StartAndRun();
    host.ClearRecords();
    controller.fix(0);
    EXPECT_EQ(host.Values(0, 0), std::vector<int32_t>{0});
    EXPECT_EQ(host.started[WorkerKind::Config], 2);
    EXPECT_EQ(host.armed.at(1), host.now + 500);

    // Not while a sequence or an installation runs.
    host.ClearRecords();
    controller.check(0);
    controller.fix(0);
    controller.Install().installBusy = true;
    controller.fix(0);
    EXPECT_EQ(host.started[WorkerKind::Config], 2);
}

TEST_F(ControllerTest, SingleRepairsRepairThenCheckAgain) {
    const struct {
        int32_t item;
        std::vector<std::string> calls;
    } cases[] = {
        {2, {"setState(0,2,2002)", "CheckRegistry(true)", "CheckRegistry(false)", "setState(1,2,0)"}},
        {3, {"setState(0,2,2003)", "CheckHostsFile(true)", "CheckHostsFile(false)", "setState(1,3,0)", "CheckDns",
             "setState(1,6,0)"}},
        {4, {"setState(0,2,2004)", "CheckRootCertificates", "InstallRootCertificates", "CheckRootCertificates",
             "setState(1,4,0)"}},
        {9, {"setState(0,2,2009)", "CheckHomePagePolicy(true)", "CheckHomePagePolicy(false)", "setState(1,9,0)"}},
        {11, {"setState(0,2,2011)", "CheckTrustedSites(true)", "CheckTrustedSites(false)", "setState(1,11,0)"}},
        {12, {"setState(0,2,2012)", "ClearSslCache", "Notice(141,0)"}},
        {16, {"ClearBrowserCache", "Notice(135,0)"}},
        {1, {}},
        {5, {}},
        {13, {}},
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        rig.StartAndRun();
        rig.ops.certificates = -1;
        rig.events.clear();
        rig.controller.fix(c.item);
        std::vector<std::string> expected = c.calls;
        expected.push_back("setState(0,2,2999)");
        expected.push_back("setState(0,3,0)");
        EXPECT_EQ(rig.events, expected) << "fix(" << c.item << ")";
    }
}

TEST_F(ControllerTest, CertificateRepairInstallsNothingWhenTheChainIsComplete) {
    StartAndRun();
    events.clear();
    controller.fix(4);
    EXPECT_EQ(Count("InstallRootCertificates"), 0u);
    EXPECT_THAT(host.Values(1, 4), testing::Contains(0));
}

TEST_F(ControllerTest, CacheClearingThatFailsShowsNoNotice) {
    ops.sslCleared = ops.browserCleared = false;
    StartAndRun();
    controller.fix(12);
    controller.fix(16);
    EXPECT_THAT(host.messages, IsEmpty());
}

TEST_F(ControllerTest, FixTenEndsTwiceWith2999) {
    ops.security = false;
    StartAndRun();
    events.clear();
    controller.fix(10);
    EXPECT_THAT(events, ElementsAre("setState(0,2,2010)", "CheckSecurityLevel(true)", "setState(0,2,2002)",
                                    "CheckRegistry(true)", "CheckRegistry(false)", "setState(1,2,0)",
                                    "setState(0,2,2999)", "setState(0,3,0)", "CheckSecurityLevel(false)",
                                    "setState(1,10,0)", "setState(0,2,2999)", "setState(0,3,0)"));
}

TEST_F(ControllerTest, FixAboveSixteenOnlyCloses) {
    StartAndRun();
    for (int32_t item : {17, 1000, 0x7FFFFFFF, -1, static_cast<int32_t>(0x80000000)}) {
        events.clear();
        controller.fix(item);
        EXPECT_THAT(events, ElementsAre("setState(0,2,2999)", "setState(0,3,0)")) << item;
    }
}

// ---------------------------------------------------------------- install

class InstallTest : public ControllerTest {
protected:
    void SetUp() override {
        ops.nextItems = {Item("a", "SafeActiveX"), Item("b", "SignActiveX"), Item("c", "driver")};
        ops.itemStates = {5, 2, 5};
        ops.nextFromServer = true;
        StartAndRun();
        events.clear();
        host.ClearRecords();
    }
    std::vector<std::string> Queued() const {
        std::vector<std::string> out;
        for (const std::string& e : events) {
            if (e.rfind("QueueItemJobs", 0) == 0) out.push_back(e);
        }
        return out;
    }
};

TEST_F(InstallTest, InstallZeroQueuesEveryItemAndStartsOneWorker) {
    controller.install(0);
    EXPECT_THAT(Queued(), ElementsAre("QueueItemJobs(a)", "QueueItemJobs(b)", "QueueItemJobs(c)"));
    EXPECT_EQ(controller.Install().installQueue.size(), 3u);
    EXPECT_EQ(host.started[WorkerKind::Install], 1);
    EXPECT_EQ(host.armed.at(3), host.now + 500);
    EXPECT_FALSE(controller.batchInstall());

    host.RunUntilIdle();
    EXPECT_THAT(ops.installedUrls, ElementsAre("a", "b", "c"));
    EXPECT_THAT(host.FireTimes(4), testing::Not(IsEmpty()));  // re-detection after the runs
}

TEST_F(InstallTest, InstallZeroWithALocalDocumentQueuesNothingAndRowsShow6And7) {
    ControllerRig rig;
    rig.ops.nextItems = {Item("a", "SafeActiveX"), Item("b", "SignActiveX")};
    rig.ops.itemStates = {5, 2};
    rig.ops.nextFromServer = false;
    rig.StartAndRun();
    EXPECT_THAT(rig.host.Values(2, 1), ElementsAre(5, 7, 5, 7));
    EXPECT_THAT(rig.host.Values(2, 2), ElementsAre(2, 6, 2, 6));
    rig.events.clear();
    rig.controller.install(0);
    EXPECT_THAT(rig.events, IsEmpty());
    EXPECT_EQ(rig.host.started[WorkerKind::Install], 0);
}

TEST_F(InstallTest, SingleInstallWhileBusyIsDroppedButBatchesQueue) {
    controller.Install().installBusy = true;
    controller.install(1);
    EXPECT_THAT(Queued(), IsEmpty());
    controller.installcom(4);
    EXPECT_THAT(Queued(), ElementsAre("QueueItemJobs(c)"));
}

TEST_F(InstallTest, InstallPositionsOutsideTheListDoNothing) {
    for (int32_t p : {4, 100, -1}) controller.install(p);
    EXPECT_THAT(events, IsEmpty());
}

TEST_F(InstallTest, InstallcomTakesEveryItemOfTheRowsType) {
    const struct {
        int32_t row;
        std::vector<std::string> queued;
    } cases[] = {
        {1, {"QueueItemJobs(a)"}}, {2, {"QueueItemJobs(b)"}}, {4, {"QueueItemJobs(c)"}},
        {3, {}},                   {0, {}},                   {5, {}},
    };
    for (const auto& c : cases) {
        events.clear();
        controller.installcom(c.row);
        EXPECT_EQ(Queued(), c.queued) << c.row;
        EXPECT_FALSE(controller.batchInstall());
    }
}

TEST_F(InstallTest, InstallmultiIsBoundedByTheItemCount) {
    const struct {
        int32_t first, last;
        std::vector<std::string> queued;
    } cases[] = {
        {1, -1, {"QueueItemJobs(a)", "QueueItemJobs(b)", "QueueItemJobs(c)"}},  // up to 0xFFFFFFFF
        {2, 3, {"QueueItemJobs(b)", "QueueItemJobs(c)"}},
        {3, 2, {}},
        {4, -1, {}},
        {0, 1, {"QueueItemJobs(a)", "QueueItemJobs(b)", "QueueItemJobs(c)", "QueueItemJobs(a)"}},
    };
    for (const auto& c : cases) {
        events.clear();
        controller.installmulti(c.first, c.last);
        EXPECT_EQ(Queued(), c.queued) << c.first << ".." << c.last;
        EXPECT_FALSE(controller.batchInstall());
    }
}

TEST_F(InstallTest, NestedInstallZeroKeepsTheOuterBatchGoing) {
    controller.Install().installBusy = true;
    controller.installmulti(0, 2);
    EXPECT_THAT(Queued(), ElementsAre("QueueItemJobs(a)", "QueueItemJobs(b)", "QueueItemJobs(c)",
                                      "QueueItemJobs(a)", "QueueItemJobs(b)"));
}

TEST_F(InstallTest, DisabledControlIsReenabledForEachClsidRuleThenQueued) {
    ControllerRig rig;
    rig.ops.nextItems = {Item("pwd", "SafeActiveX")};
    rig.ops.nextItems[0].detects = {{"{A}", "clsid"}, {"x", "reg"}, {"{B}", "clsid"}, {"{C}", "CLSID"}};
    rig.ops.itemStates = {kDisabled | 5};
    rig.StartAndRun();
    rig.events.clear();
    rig.controller.install(1);
    EXPECT_THAT(rig.events,
                ElementsAre("CheckAddonDisabled({A},true)", "setState(0,2,2999)", "setState(2,1,5)",
                            "setState(0,3,2)", "CheckAddonDisabled({B},true)", "setState(0,2,2999)",
                            "setState(2,1,5)", "setState(0,3,2)", "QueueItemJobs(pwd)"));
}

TEST_F(InstallTest, InstallandfixRepairsThenInstallsUnlessASequenceRuns) {
    controller.check(0);
    controller.installandfix();
    EXPECT_THAT(host.Values(0, 2), ElementsAre(1000));
    host.RunUntilIdle();
    events.clear();
    host.ClearRecords();
    controller.installandfix();
    EXPECT_EQ(host.Values(0, 2).front(), 2999);
    EXPECT_THAT(Queued(), ElementsAre("QueueItemJobs(a)", "QueueItemJobs(b)", "QueueItemJobs(c)"));
}

TEST_F(InstallTest, StopDoesNothing) {
    controller.stop(0);
    controller.stop(-5);
    EXPECT_THAT(events, IsEmpty());
    EXPECT_THAT(host.armed, IsEmpty());
}

TEST_F(InstallTest, UpdateCheckDoesNotClearInstallBusyWhileAWorkerRuns) {
    host.workerDuration[WorkerKind::Install] = 10000;
    controller.install(1);
    controller.Install().installBusy = true;  // as the running worker has it
    controller.StartUpdateCheckIfReady();
    EXPECT_TRUE(controller.Install().installBusy);

    host.RunUntilIdle();
    controller.Install().installBusy = true;  // left over without a worker
    controller.StartUpdateCheckIfReady();
    EXPECT_FALSE(controller.Install().installBusy);
}

TEST_F(InstallTest, JobsQueuedWhileTheWorkerRunsDoNotStartASecondOne) {
    host.workerDuration[WorkerKind::Install] = 10000;
    controller.install(1);
    controller.install(3);
    EXPECT_EQ(host.started[WorkerKind::Install], 1);
    host.RunUntilIdle();
    EXPECT_THAT(ops.installedUrls, ElementsAre("a", "c"));
    controller.install(2);
    EXPECT_EQ(host.started[WorkerKind::Install], 2);
}

}  // namespace
}  // namespace wayfarer::test
