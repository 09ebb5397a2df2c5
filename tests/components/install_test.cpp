#include "components/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/controller.h"
#include "tests/app/controller_fakes.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

std::string Describe(const InstallJob& job) {
    return "url=" + job.url + " local=" + job.local + " commandFile=" + job.commandFile + " command=" + job.command +
           " install=" + job.install + " installFile=" + job.installFile + " md5=" + job.md5;
}

std::vector<std::string> Describe(const std::vector<InstallJob>& jobs) {
    std::vector<std::string> out;
    for (const InstallJob& job : jobs) out.push_back(Describe(job));
    return out;
}

InstallJob Installer(const std::string& url, const std::string& local, const std::string& command,
                     const std::string& md5 = "") {
    InstallJob job;
    job.url = url;
    job.local = local;
    job.commandFile = local;
    job.command = command;
    job.md5 = md5;
    return job;
}

InstallJob FileJob(const std::string& url, const std::string& local, const std::string& install,
                   const std::string& md5 = "") {
    InstallJob job;
    job.url = url;
    job.local = local;
    job.install = install;
    job.installFile = local;
    job.md5 = md5;
    return job;
}

// ---------------------------------------------------------------- job formation

ComponentItem ItemWith(uint32_t state, std::vector<InstallerRef> installers, std::vector<FileRef> files) {
    ComponentItem item;
    item.name = "item";
    item.state = state;
    item.installers = std::move(installers);
    item.files = std::move(files);
    return item;
}

TEST(QueueItemJobs, FormsJobsFromTheFirstInstallerOrEveryFileEntry) {
    const InstallerRef first{"https://d/first.exe", "\"%1\" /sp-", "C:\\T\\DownTmp\\first.exe", "aa"};
    const InstallerRef second{"https://d/second.exe", "%1", "C:\\T\\DownTmp\\second.exe", "bb"};
    const FileRef current{"", "C:\\W\\a.dll", "https://d/a.dll", "1.0.0.1", "cc", "regserver"};
    const FileRef plain{"", "C:\\W\\b.dat", "https://d/b.dat", "", "", ""};
    const FileRef unoffered{"", "C:\\T\\DownTmp", "", "", "", ""};  // the document offered no address
    const InstallJob fromFirst = Installer(first.url, first.local, first.command, "aa");
    const InstallJob fileA = FileJob(current.remote, current.local, "regserver", "cc");
    const InstallJob fileB = FileJob(plain.remote, plain.local, "");
    const InstallJob fileEmpty = FileJob("", "C:\\T\\DownTmp", "");
    struct Case {
        const char* name;
        ComponentItem item;
        std::vector<InstallJob> jobs;
    };
    const Case cases[] = {
        {"current", ItemWith(0, {first}, {current}), {}},
        {"not detected yet", ItemWith(7, {first}, {current}), {}},
        {"current and disabled", ItemWith(component_state::kDisabled, {first}, {}), {}},
        {"not detected, key absent", ItemWith(component_state::kKeyAbsent | 7, {first}, {}), {}},
        {"two installers: the first only", ItemWith(1, {first, second}, {current}), {fromFirst}},
        {"missing with its key absent", ItemWith(component_state::kKeyAbsent | 4, {first}, {}), {fromFirst}},
        {"three file entries, one of them current", ItemWith(4, {}, {current, plain, unoffered}),
         {fileA, fileB, fileEmpty}},
        {"outdated, files without an address", ItemWith(1, {}, {unoffered}), {fileEmpty}},
        {"upgradable, nothing to install", ItemWith(2, {}, {}), {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Describe(QueueItemJobs(c.item)), Describe(c.jobs)) << c.name;
    }
}

// ---------------------------------------------------------------- command lines

TEST(BuildInstallCommand, QuotesThePathOnceInOnePass) {
    const std::string p = "C:\\Users\\u\\Temp\\DownTmp\\setup.exe";
    const std::string q = "\"" + p + "\"";
    struct Case {
        std::string templ;
        std::string file;
        std::string line;
    };
    const Case cases[] = {
        {"\"%1\" /sp- /verysilent /norestart", p, q + " /sp- /verysilent /norestart"},
        {"%1 /log=%1.txt", p, q + " /log=" + q + ".txt"},
        {"msiexec /i x.msi /qn", p, "msiexec /i x.msi /qn"},
        {"/x \"%1\"", p, "/x " + q},
        {"\"%1\"", p, q},
        {"%1", p, q},
        {"%1%1", p, q + q},
        {"\"%1\"\"%1\"", p, q + q},
        {"\"%1 /q", p, "\"" + q + " /q"},  // only a placeholder inside both quotes takes them
        {"%%1", p, "%" + q},
        {"100% done %", p, "100% done %"},
        {"%2 %", p, "%2 %"},
        {"", p, ""},
        {"%1", "", "\"\""},
        // Inserted text is never searched again.
        {"%1 /x", "C:\\a%1b\\s.exe", "\"C:\\a%1b\\s.exe\" /x"},
        {"\"%1\"", "\"%1\"", "\"\"%1\"\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildInstallCommand(c.templ, c.file), c.line) << "template [" << c.templ << "] file [" << c.file
                                                                 << "]";
    }
}

TEST(JobCommandLine, InstallerTemplateOrExactRegserverOrNothing) {
    struct Case {
        const char* name;
        InstallJob job;
        std::optional<std::string> line;
    };
    InstallJob noFile = FileJob("u", "C:\\W\\x.ocx", "regserver");
    noFile.installFile.clear();
    const Case cases[] = {
        {"installer", Installer("u", "C:\\T\\s.exe", "\"%1\" /S"), std::string("\"C:\\T\\s.exe\" /S")},
        {"installer without a template", Installer("u", "C:\\T\\s.exe", ""), std::string()},
        {"file without install", FileJob("u", "C:\\W\\x.ocx", ""), std::string()},
        {"regserver", FileJob("u", "C:\\W\\x.ocx", "regserver"), std::string("regsvr32 /s \"C:\\W\\x.ocx\"")},
        {"RegServer", FileJob("u", "C:\\W\\x.ocx", "RegServer"), std::nullopt},
        {"REGSERVER", FileJob("u", "C:\\W\\x.ocx", "REGSERVER"), std::nullopt},
        {"regserver with a space", FileJob("u", "C:\\W\\x.ocx", "regserver "), std::nullopt},
        {"another word", FileJob("u", "C:\\W\\x.ocx", "copy"), std::nullopt},
        {"regserver without a file", noFile, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JobCommandLine(c.job), c.line) << c.name;
    }
}

TEST(Md5Matches, SameDigestInEitherCaseOnly) {
    const std::string d = "d41d8cd98f00b204e9800998ecf8427e";
    struct Case {
        std::string file;
        std::string expected;
        bool matches;
    };
    const Case cases[] = {
        {d, d, true},
        {d, "D41D8CD98F00B204E9800998ECF8427E", true},
        {d, "d41d8cd98f00b204e9800998ecf8427f", false},
        {d, d.substr(0, 31), false},
        {d, d + "0", false},
        {"", "", false},  // an unreadable file never matches
        {"", d, false},
        {d, "d41d8cd98f00b204e9800998ecf8427e ", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Md5Matches(c.file, c.expected), c.matches) << "[" << c.file << "] vs [" << c.expected << "]";
    }
}

// ---------------------------------------------------------------- the worker

// Records what the worker asks of the machine and the dialog into one log,
// with the shared values as they were at each call. Thread-safe.
class Log {
public:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(lock_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(lock_);
        return events_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> events_;
};

class FakeSystem : public InstallSystem {
public:
    FakeSystem(InstallShared& shared, Log& log) : shared_(&shared), log_(log) {}
    // Before any worker starts.
    void Watch(InstallShared& shared) { shared_ = &shared; }

    std::set<std::string> failingUrls;
    std::map<std::string, std::string> digests;  // path -> FileMd5's answer ("" when absent)
    std::set<std::string> unstartable;            // lines Run refuses besides the empty one
    std::function<void(const InstallJob&)> duringDownload;
    std::atomic<bool> idleSeen{false};  // installBusy was false inside the worker
    std::atomic<int> active{0};
    std::atomic<bool> overlapSeen{false};

    bool Download(const InstallJob& job, std::atomic<int32_t>& progress) override {
        if (active.fetch_add(1) != 0) overlapSeen = true;
        Busy();
        log_.Add("Download(" + job.url + ")");
        if (duringDownload) duringDownload(job);
        const bool ok = failingUrls.count(job.url) == 0;
        progress = ok ? 100 : 37;
        active.fetch_sub(1);
        return ok;
    }
    std::string FileMd5(const std::string& path) override {
        Busy();
        log_.Add("Md5(" + path + ")");
        const auto it = digests.find(path);
        return it == digests.end() ? std::string() : it->second;
    }
    void RemoveFile(const std::string& path) override {
        Busy();
        log_.Add("Remove(" + path + ")");
    }
    bool Run(const std::string& line, bool wait) override {
        Busy();
        log_.Add("Run(" + line + (wait ? ")" : ", no wait)"));
        return !line.empty() && unstartable.count(line) == 0;
    }

private:
    void Busy() {
        if (!shared_->installBusy.load()) idleSeen = true;
    }
    InstallShared* shared_;
    Log& log_;
};

class FakeInstallHost : public InstallHost {
public:
    FakeInstallHost(InstallShared& shared, Log& log) : shared_(shared), log_(log) {}

    std::vector<int> answers;  // consumed front first; 6 when empty

    void ArmStep(int id, uint32_t delayMs) override {
        std::string event = "Arm(" + std::to_string(id) + "," + std::to_string(delayMs) + ")";
        if (id == 3) event += " progress=" + std::to_string(shared_.downloadProgress.load());
        if (id == 6) event += " status=" + std::to_string(shared_.installStatus.load());
        log_.Add(event);
    }
    int Prompt(int textId, int headingId, int firstChoiceId) override {
        log_.Add("Prompt(" + std::to_string(textId) + "," + std::to_string(headingId) + "," +
                 std::to_string(firstChoiceId) + ") progress=" + std::to_string(shared_.downloadProgress.load()));
        if (answers.empty()) return kIdYes;
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }

private:
    InstallShared& shared_;
    Log& log_;
};

std::vector<std::string> Urls(const std::deque<InstallJob>& queue) {
    std::vector<std::string> out;
    for (const InstallJob& job : queue) out.push_back(job.url);
    return out;
}

// The events of one job from its start to its download.
std::vector<std::string> Begin(const std::string& url) {
    return {"Arm(3,500) progress=0", "Arm(6,0) status=2", "Download(" + url + ")"};
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const std::string kDigest = "0123456789abcdef0123456789abcdef";
const std::string kOther = "fedcba9876543210fedcba9876543210";

struct WorkerCase {
    const char* name;
    std::vector<InstallJob> jobs;
    std::set<std::string> failingUrls;
    std::map<std::string, std::string> digests;
    std::set<std::string> unstartable;
    std::vector<int> answers;
    std::vector<std::string> events;
    std::vector<std::string> left;  // still queued when the worker ended
};

TEST(InstallWorker, RunsEachJobAndAsksOnFailure) {
    const std::string finished = "Arm(6,0) status=1";
    const std::string installing = "Arm(6,0) status=3";
    const std::string downloadFailed = "Prompt(145,146,147) progress=0";
    const std::string startFailed = "Prompt(149,150,151) progress=100";
    const InstallJob a = Installer("a", "C:\\T\\a.exe", "\"%1\" /verysilent");
    const InstallJob b = Installer("b", "C:\\T\\b.exe", "%1 /S");
    const InstallJob c = Installer("c", "C:\\T\\c.exe", "%1");
    const std::vector<std::string> runB = Concat({Begin("b"), {installing, "Run(\"C:\\T\\b.exe\" /S)", "Arm(4,0)", finished}});
    const WorkerCase cases[] = {
        {"an installer runs its command, then re-detection",
         {a}, {}, {}, {}, {},
         Concat({Begin("a"), {installing, "Run(\"C:\\T\\a.exe\" /verysilent)", "Arm(4,0)", finished}}), {}},
        {"download failure, go on",
         {a, b}, {"a"}, {}, {}, {},
         Concat({Begin("a"), {downloadFailed, finished}, runB}), {}},
        {"download failure, a prompt that could not be shown goes on",
         {a, b}, {"a"}, {}, {}, {-1},
         Concat({Begin("a"), {downloadFailed, finished}, runB}), {}},
        {"download failure, stop: later jobs stay queued",
         {a, b, c}, {"a"}, {}, {}, {kIdNo},
         Concat({Begin("a"), {downloadFailed, finished}}), {"b", "c"}},
        {"md5 mismatch: removed, nothing run, asked as a failed download",
         {Installer("a", "C:\\T\\a.exe", "%1", kDigest), b}, {}, {{"C:\\T\\a.exe", kOther}}, {}, {},
         Concat({Begin("a"), {"Md5(C:\\T\\a.exe)", "Remove(C:\\T\\a.exe)", downloadFailed, finished}, runB}), {}},
        {"md5 of an unreadable file, stop",
         {Installer("a", "C:\\T\\a.exe", "%1", kDigest), b}, {}, {}, {}, {kIdNo},
         Concat({Begin("a"), {"Md5(C:\\T\\a.exe)", "Remove(C:\\T\\a.exe)", downloadFailed, finished}}), {"b"}},
        {"md5 given in capitals matches",
         {FileJob("a", "C:\\W\\a.ocx", "regserver", "0123456789ABCDEF0123456789ABCDEF")}, {},
         {{"C:\\W\\a.ocx", kDigest}}, {}, {},
         Concat({Begin("a"), {"Md5(C:\\W\\a.ocx)", installing, "Run(regsvr32 /s \"C:\\W\\a.ocx\")", "Arm(4,0)", finished}}),
         {}},
        {"a failed download is not verified",
         {Installer("a", "C:\\T\\a.exe", "%1", kDigest)}, {"a"}, {}, {}, {},
         Concat({Begin("a"), {downloadFailed, finished}}), {}},
        {"file job without install: empty command line, go on",
         {FileJob("a", "C:\\W\\a.dat", ""), b}, {}, {}, {}, {},
         Concat({Begin("a"), {installing, "Run()", startFailed, finished}, runB}), {}},
        {"installer that cannot start, stop",
         {Installer("a", "C:\\T\\a.exe", "C:\\gone.exe /q"), b}, {}, {}, {"C:\\gone.exe /q"}, {kIdNo},
         Concat({Begin("a"), {installing, "Run(C:\\gone.exe /q)", startFailed, finished}}), {"b"}},
        {"install word in other letters: nothing run, nothing said",
         {FileJob("a", "C:\\W\\a.ocx", "RegServer"), b}, {}, {}, {}, {},
         Concat({Begin("a"), {installing, finished}, runB}), {}},
    };
    for (const WorkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        InstallShared shared;
        Log log;
        FakeSystem system(shared, log);
        FakeInstallHost host(shared, log);
        system.failingUrls = c.failingUrls;
        system.digests = c.digests;
        system.unstartable = c.unstartable;
        host.answers = c.answers;
        shared.installQueue.assign(c.jobs.begin(), c.jobs.end());
        shared.installThread = true;  // as EnqueueInstallJob leaves it

        RunInstallWorker(shared, system, host);

        EXPECT_THAT(log.Events(), ElementsAreArray(c.events));
        EXPECT_THAT(Urls(shared.installQueue), ElementsAreArray(c.left));
        EXPECT_FALSE(shared.installThread);
        EXPECT_FALSE(shared.installBusy);
        EXPECT_FALSE(system.idleSeen) << "installBusy was clear while the worker ran";
        EXPECT_EQ(shared.installStatus, 1);
        EXPECT_THAT(host.answers, IsEmpty()) << "fewer prompts than expected";
    }
}

TEST(InstallWorker, ANewWorkerTakesTheJobsLeftAfterAStopFirst) {
    InstallShared shared;
    Log log;
    FakeSystem system(shared, log);
    FakeInstallHost host(shared, log);
    system.failingUrls = {"a"};
    host.answers = {kIdNo};
    shared.installQueue = {Installer("a", "C:\\a", "%1"), Installer("b", "C:\\b", "%1")};
    shared.installThread = true;
    RunInstallWorker(shared, system, host);
    ASSERT_THAT(Urls(shared.installQueue), ElementsAre("b"));

    shared.installQueue.push_back(Installer("c", "C:\\c", "%1"));
    shared.installThread = true;
    RunInstallWorker(shared, system, host);
    std::vector<std::string> downloads;
    for (const std::string& e : log.Events()) {
        if (e.rfind("Download(", 0) == 0) downloads.push_back(e);
    }
    EXPECT_THAT(downloads, ElementsAre("Download(a)", "Download(b)", "Download(c)"));
    EXPECT_THAT(shared.installQueue, IsEmpty());
}

// ---------------------------------------------------------------- with the controller, on threads

// ControllerHost with real threads; the worker's timers and prompts are not
// looked at here.
class ThreadHost : public ControllerHost {
public:
    ~ThreadHost() override { JoinAll(); }
    void ArmStep(int, uint32_t) override {}
    void KillStep(int) override {}
    void CallScript(const char*, const std::vector<ScriptArg>&) override {}
    bool StartWorker(WorkerKind, std::function<void()> body) override {
        std::lock_guard<std::mutex> lock(lock_);
        ++started_;
        threads_.emplace_back(std::move(body));
        return true;
    }
    void RequestQuit() override {}
    int Prompt(int, int, int) override { return kIdYes; }
    int Notice(int, int) override { return 1; }

    int Started() {
        std::lock_guard<std::mutex> lock(lock_);
        return started_;
    }
    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            threads.swap(threads_);
        }
        for (std::thread& t : threads) t.join();
    }

private:
    std::mutex lock_;
    std::vector<std::thread> threads_;
    int started_ = 0;
};

class HostAdapter : public InstallHost {
public:
    explicit HostAdapter(ControllerHost& host) : host_(host) {}
    void ArmStep(int id, uint32_t delayMs) override { host_.ArmStep(id, delayMs); }
    int Prompt(int textId, int headingId, int firstChoiceId) override {
        return host_.Prompt(textId, headingId, firstChoiceId);
    }

private:
    ControllerHost& host_;
};

// The controller's operations with the real worker over a fake system.
class QueueOps : public test::FakeChecks {
public:
    QueueOps(std::vector<std::string>& events, InstallSystem& system) : FakeChecks(events), system_(system) {}
    void InstallWorker(InstallShared& shared, ControllerHost& host) override {
        HostAdapter adapter(host);
        RunInstallWorker(shared, system_, adapter);
    }

private:
    InstallSystem& system_;
};

// A gate a fake download waits at; the waits are backstops against a hang,
// never measures.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(lock_);
        open_ = true;
        changed_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
};

struct ThreadRig {
    std::vector<std::string> events;
    test::FakeEnvironment env;
    Log log;
    InstallShared unused;  // the system watches the controller's fields below
    FakeSystem system{unused, log};
    QueueOps ops{events, system};
    ThreadHost host;
    WayfarerController controller{host, ops, env};

    ThreadRig() { system.Watch(controller.Install()); }
    ~ThreadRig() { host.JoinAll(); }

    std::vector<std::string> Downloads() {
        std::vector<std::string> out;
        for (const std::string& e : log.Events()) {
            if (e.rfind("Download(", 0) == 0) out.push_back(e.substr(9, e.size() - 10));
        }
        return out;
    }
};

TEST(InstallQueue, JobsQueuedWhileTheWorkerRunsAreTakenInOrderByTheSameWorker) {
    Gate started;
    Gate release;
    ThreadRig rig;  // joins its workers before the gates go
    rig.system.duringDownload = [&](const InstallJob& job) {
        if (job.url == "a") {
            started.Open();
            release.Wait();
        }
    };
    rig.controller.EnqueueInstallJob(Installer("a", "C:\\a", "%1"));
    ASSERT_TRUE(started.Wait()) << "the worker never took the first job";
    // Queued while the first job is still downloading: not held up by it.
    rig.controller.EnqueueInstallJob(Installer("b", "C:\\b", "%1"));
    rig.controller.EnqueueInstallJob(Installer("c", "C:\\c", "%1"));
    EXPECT_EQ(rig.host.Started(), 1);
    release.Open();
    rig.host.JoinAll();

    EXPECT_THAT(rig.Downloads(), ElementsAre("a", "b", "c"));
    EXPECT_EQ(rig.host.Started(), 1);
    EXPECT_THAT(rig.controller.Install().installQueue, IsEmpty());
    EXPECT_FALSE(rig.controller.Install().installThread);
    EXPECT_FALSE(rig.controller.Install().installBusy);
    EXPECT_FALSE(rig.system.idleSeen);
}

// Jobs arrive both while a job runs and just as a worker finds the queue
// empty: none is lost or taken twice, workers never overlap, and installBusy
// stays set while any of them runs.
TEST(InstallQueue, OneWorkerAtATimeAndNoJobLostAtAWorkersEnd) {
#ifdef _WIN32
    constexpr int kJobs = 1000;  // threads start slowly under Wine
#else
    constexpr int kJobs = 3000;
#endif
    std::mutex lock;
    std::condition_variable changed;
    int taken = 0;
    ThreadRig rig;
    rig.system.duringDownload = [&](const InstallJob&) {
        std::lock_guard<std::mutex> guard(lock);
        ++taken;
        changed.notify_all();
    };
    std::vector<std::string> expected;
    // Bursts of one to three jobs; each burst is taken before the next is
    // queued, after a varying pause, so that the next one often arrives as
    // the worker is ending. A job stranded without a worker is never taken.
    for (int burst = 0; static_cast<int>(expected.size()) < kJobs; ++burst) {
        for (int k = 0; k <= burst % 3; ++k) {
            expected.push_back(std::to_string(expected.size()));
            rig.controller.EnqueueInstallJob(Installer(expected.back(), "C:\\j", "%1"));
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            const auto all = [&] { return taken == static_cast<int>(expected.size()); };
            ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(60), all))
                << "job " << taken << " of " << expected.size() << " was never taken";
        }
        for (int k = 0; k < burst % 11; ++k) std::this_thread::yield();
    }
    rig.host.JoinAll();

    EXPECT_EQ(rig.Downloads(), expected);
    EXPECT_FALSE(rig.system.overlapSeen) << "two workers ran at once";
    EXPECT_FALSE(rig.system.idleSeen) << "installBusy was clear while a worker ran";
    EXPECT_FALSE(rig.controller.Install().installThread);
    EXPECT_FALSE(rig.controller.Install().installBusy);
    EXPECT_THAT(rig.controller.Install().installQueue, IsEmpty());
}

}  // namespace
}  // namespace wayfarer
