// The executable swap on a simulated file system: every situation of the
// swap, what lies at the target, the moved-aside file and the download
// afterwards, and what is registered for the next start of Windows.
#include "app/update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace wayfarer {
namespace {

using ::testing::ElementsAreArray;

const std::wstring kTarget = L"C:\\Lunmar\\wayfarer.exe";
const std::wstring kOld = L"C:\\Lunmar\\wayfarer.exe.old";
const std::wstring kDownload = L"C:\\Temp\\DownTmp\\wayfarer.exe";

struct SimFile {
    std::string content;
    // A running image: Windows renames it but refuses to delete it, and the
    // mapping goes with the file to its new name.
    bool mapped = false;
};

// Files by path; each operation can be made to fail on one path.
class SimulatedFiles final : public ProgramFiles {
public:
    std::map<std::wstring, SimFile> files;
    std::set<std::wstring> undeletable;
    std::set<std::wstring> unmovable;   // refused as a move's source
    std::set<std::wstring> uncopyable;  // refused as a copy's destination
    bool rebootRefused = false;         // no administrator rights
    std::function<void()> afterCopy;
    std::vector<std::pair<std::wstring, std::wstring>> reboot;

    bool Exists(const std::wstring& path) override { return files.count(path) != 0; }

    bool Delete(const std::wstring& path) override {
        const auto it = files.find(path);
        if (it == files.end() || it->second.mapped || undeletable.count(path) != 0) {
            return false;
        }
        files.erase(it);
        return true;
    }

    bool Move(const std::wstring& from, const std::wstring& to) override {
        const auto it = files.find(from);
        if (it == files.end() || files.count(to) != 0 || unmovable.count(from) != 0) {
            return false;
        }
        SimFile file = it->second;
        files.erase(it);
        files[to] = file;
        return true;
    }

    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        const auto it = files.find(from);
        if (it == files.end() || uncopyable.count(to) != 0) {
            return false;
        }
        const auto existing = files.find(to);
        if (existing != files.end() && (failIfExists || existing->second.mapped)) {
            return false;
        }
        files[to] = SimFile{it->second.content, false};
        if (afterCopy) {
            afterCopy();
        }
        return true;
    }

    bool ScheduleAtReboot(const std::wstring& from, const std::wstring& to) override {
        if (rebootRefused) {
            return false;
        }
        reboot.emplace_back(from, to);
        return true;
    }

    // The content at `path`, or "-" when there is no file.
    std::string At(const std::wstring& path) const {
        const auto it = files.find(path);
        return it == files.end() ? "-" : it->second.content;
    }
};

using Reboot = std::vector<std::pair<std::wstring, std::wstring>>;

TEST(SwapProgramFileTest, EverySituationEndsWithAnExecutableOrItsReplacementAtReboot) {
    struct Case {
        const char* name;
        std::function<void(SimulatedFiles&)> setUp;
        SwapOutcome outcome;
        const char* target;    // content afterwards, "-" for none
        const char* old;       // at target.old
        const char* download;  // at the download path
        Reboot reboot;
    };
    const auto running = [](SimulatedFiles& fs) { fs.files[kTarget] = SimFile{"old", true}; };
    const auto plain = [](SimulatedFiles& fs) { fs.files[kTarget] = SimFile{"old", false}; };
    const Reboot newAtReboot = {{kDownload, kTarget}};
    const Reboot deleteOld = {{kOld, L""}};
    const Case cases[] = {
        {"target missing: a plain copy", [](SimulatedFiles&) {}, SwapOutcome::Replaced, "new", "-", "-", {}},
        {"target missing, the download stays",
         [](SimulatedFiles& fs) { fs.undeletable.insert(kDownload); },
         SwapOutcome::ReplacedDownloadLeft, "new", "-", "new", {}},
        {"target missing, the copy fails",
         [](SimulatedFiles& fs) { fs.uncopyable.insert(kTarget); },
         SwapOutcome::Missing, "-", "-", "new", {}},
        {"target deletable (not running)", plain, SwapOutcome::Replaced, "new", "-", "-", {}},
        {"target deletable, the copy fails, the download is moved instead",
         [&](SimulatedFiles& fs) {
             plain(fs);
             fs.uncopyable.insert(kTarget);
         },
         SwapOutcome::Replaced, "new", "-", "-", {}},
        {"target deletable, neither copy nor move",
         [&](SimulatedFiles& fs) {
             plain(fs);
             fs.uncopyable.insert(kTarget);
             fs.unmovable.insert(kDownload);
         },
         SwapOutcome::Missing, "-", "-", "new", newAtReboot},
        {"target deletable, the download cannot be deleted",
         [&](SimulatedFiles& fs) {
             plain(fs);
             fs.undeletable.insert(kDownload);
         },
         SwapOutcome::ReplacedDownloadLeft, "new", "-", "new", newAtReboot},
        {"running target: renamed aside, old one deleted at reboot", running, SwapOutcome::Replaced, "new", "old",
         "-", deleteOld},
        {"running target with a leftover .old",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.files[kOld] = SimFile{"older", false};
         },
         SwapOutcome::Replaced, "new", "old", "-", deleteOld},
        {"running target, leftover .old still running",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.files[kOld] = SimFile{"older", true};
         },
         SwapOutcome::Unchanged, "old", "older", "new", newAtReboot},
        {"running target, the rename is refused",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.unmovable.insert(kTarget);
         },
         SwapOutcome::Unchanged, "old", "-", "new", newAtReboot},
        {"running target, the copy fails: the old one is renamed back",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.uncopyable.insert(kTarget);
         },
         SwapOutcome::Unchanged, "old", "-", "new", newAtReboot},
        {"running target, the copy fails and so does the rename back",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.uncopyable.insert(kTarget);
             fs.unmovable.insert(kOld);
         },
         SwapOutcome::Missing, "-", "old", "new", newAtReboot},
        {"running target, the download cannot be deleted",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.undeletable.insert(kDownload);
         },
         SwapOutcome::ReplacedDownloadLeft, "new", "old", "new", Reboot{{kOld, L""}, {kDownload, kTarget}}},
        {"the old process ends during the swap: .old deleted at once",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.afterCopy = [&fs] { fs.files[kOld].mapped = false; };
         },
         SwapOutcome::Replaced, "new", "-", "-", {}},
        {"no administrator rights: the registrations fail, nothing else changes",
         [&](SimulatedFiles& fs) {
             running(fs);
             fs.unmovable.insert(kTarget);
             fs.rebootRefused = true;
         },
         SwapOutcome::Unchanged, "old", "-", "new", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedFiles fs;
        fs.files[kDownload] = SimFile{"new", false};
        c.setUp(fs);
        EXPECT_EQ(SwapProgramFile(fs, kTarget, kDownload), c.outcome);
        EXPECT_EQ(fs.At(kTarget), c.target);
        EXPECT_EQ(fs.At(kOld), c.old);
        EXPECT_EQ(fs.At(kDownload), c.download);
        EXPECT_THAT(fs.reboot, ElementsAreArray(c.reboot));
        // The old executable is never what the next start of Windows puts back.
        for (const auto& [from, to] : fs.reboot) {
            EXPECT_TRUE(to.empty() ? from == kOld : from == kDownload && to == kTarget);
        }
    }
}

TEST(SwapProgramFileTest, ARenameBackKeepsTheRunningImageUndeletable) {
    // The copy failed after the rename: the file put back is the running one,
    // so the next update still finds it undeletable and renames it aside.
    SimulatedFiles fs;
    fs.files[kTarget] = SimFile{"old", true};
    fs.files[kDownload] = SimFile{"new", false};
    fs.uncopyable.insert(kTarget);
    ASSERT_EQ(SwapProgramFile(fs, kTarget, kDownload), SwapOutcome::Unchanged);
    EXPECT_TRUE(fs.files[kTarget].mapped);
    EXPECT_FALSE(fs.Delete(kTarget));
}

TEST(RestartCommandLineTest, QuotesTheTargetAndRefusesWhatTheBufferCannotHold) {
    EXPECT_EQ(RestartCommandLine(L"C:\\Program Files\\Lunmar\\wayfarer.exe"),
              L"\"C:\\Program Files\\Lunmar\\wayfarer.exe\" /update");
    EXPECT_EQ(RestartCommandLine(L""), L"");
    EXPECT_EQ(RestartCommandLine(std::wstring(L"C:\\a\0b.exe", 10)), L"");

    // Quotes and " /update" take 10 units; 259 units fit the buffer with its
    // terminator.
    const auto pathOf = [](size_t units) { return L"C:\\" + std::wstring(units - 3, L'x'); };
    EXPECT_EQ(RestartCommandLine(pathOf(249)).size(), 259u);
    EXPECT_EQ(RestartCommandLine(pathOf(250)), L"");
    EXPECT_EQ(RestartCommandLine(pathOf(259)), L"");
}

TEST(OldProgramPathTest, AppendsOld) { EXPECT_EQ(OldProgramPath(kTarget), kOld); }

}  // namespace
}  // namespace wayfarer
