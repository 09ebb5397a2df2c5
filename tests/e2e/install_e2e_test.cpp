// The installation queue under Wine against the fake bank server, with the
// real worker: downloads over HTTPS, md5 checks, installers started and
// waited for, regsvr32. run_install_e2e.sh starts the server and passes, as
// environment variables, WAYFARER_E2E_PORT, WAYFARER_E2E_ROOT (the served
// folder), WAYFARER_E2E_LOG (the request log) and WAYFARER_E2E_CA (the test
// CA, DER), all paths as Windows sees them. The fixtures fake_setup.exe and
// fake_control.dll are served from that folder under the names the cases use.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/controller.h"
#include "app/windows_checks.h"
#include "common/handles.h"
#include "common/text.h"
#include "components/detection_windows.h"
#include "components/install.h"
#include "components/install_windows.h"
#include "config/windows_environment.h"
#include "tests/e2e/e2e_support.h"

namespace wayfarer {
namespace {

using e2e::Env;
using e2e::Exists;
using e2e::ReadFile;
using testing::ElementsAre;
using testing::IsEmpty;

// The class the fake installer registers, and the one fake_control.dll
// registers through regsvr32.
const wchar_t kInstallerClass[] = L"{5F0D7C1E-7A54-4C1B-9E43-3A1D2B6E8F01}";
const wchar_t kControlClass[] = L"{5F0D7C1E-7A54-4C1B-9E43-3A1D2B6E8F02}";

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The registered in-process server of `clsid` under HKCU; empty when none.
std::wstring RegisteredServer(const wchar_t* clsid) {
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return value;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void RemoveClass(const wchar_t* clsid) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Classes\\CLSID\\") + clsid).c_str());
}

// The worker's view of the dialog: every step armed and every prompt, with
// scripted answers (6 when none is left). Any thread.
class RecordingHost : public InstallHost {
public:
    std::vector<int> answers;

    void ArmStep(int id, uint32_t delayMs) override {
        std::lock_guard<std::mutex> lock(lock_);
        arms_.push_back("Arm(" + std::to_string(id) + "," + std::to_string(delayMs) + ")");
    }
    int Prompt(int textId, int headingId, int firstChoiceId) override {
        std::lock_guard<std::mutex> lock(lock_);
        prompts_.push_back(std::to_string(textId) + "," + std::to_string(headingId) + "," +
                           std::to_string(firstChoiceId));
        if (answers.empty()) return kIdYes;
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    std::vector<std::string> Prompts() {
        std::lock_guard<std::mutex> lock(lock_);
        return prompts_;
    }
    size_t Count(const std::string& arm) {
        std::lock_guard<std::mutex> lock(lock_);
        size_t n = 0;
        for (const std::string& a : arms_) n += a == arm ? 1 : 0;
        return n;
    }

private:
    std::mutex lock_;
    std::vector<std::string> arms_;
    std::vector<std::string> prompts_;
};

// The dialog for the controller: workers on real threads, steps recorded
// (step 4 with the number of jobs queued at that moment), prompts answered
// with the first choice.
class ThreadHost : public ControllerHost {
public:
    ~ThreadHost() override { JoinAll(); }

    InstallShared* shared = nullptr;

    void ArmStep(int id, uint32_t delayMs) override {
        std::string arm = "Arm(" + std::to_string(id) + "," + std::to_string(delayMs) + ")";
        if (id == 4 && shared != nullptr) {
            std::lock_guard<std::mutex> queue(shared->installLock);
            arm += " queued=" + std::to_string(shared->installQueue.size());
        }
        std::lock_guard<std::mutex> lock(lock_);
        arms_.push_back(arm);
    }
    void KillStep(int) override {}
    void CallScript(const char*, const std::vector<ScriptArg>&) override {}
    bool StartWorker(WorkerKind, std::function<void()> body) override {
        std::lock_guard<std::mutex> lock(lock_);
        ++started_;
        threads_.emplace_back(std::move(body));
        return true;
    }
    void RequestQuit() override {}
    int Prompt(int textId, int, int) override {
        std::lock_guard<std::mutex> lock(lock_);
        prompts_.push_back(textId);
        return kIdYes;
    }
    int Notice(int, int) override { return 1; }

    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            threads.swap(threads_);
        }
        for (std::thread& t : threads) t.join();
    }
    int Started() {
        std::lock_guard<std::mutex> lock(lock_);
        return started_;
    }
    std::vector<std::string> Arms(int id) {
        std::lock_guard<std::mutex> lock(lock_);
        std::vector<std::string> out;
        const std::string prefix = "Arm(" + std::to_string(id) + ",";
        for (const std::string& a : arms_) {
            if (a.rfind(prefix, 0) == 0) out.push_back(a);
        }
        return out;
    }
    std::vector<int> Prompts() {
        std::lock_guard<std::mutex> lock(lock_);
        return prompts_;
    }

private:
    std::mutex lock_;
    std::vector<std::thread> threads_;
    std::vector<std::string> arms_;
    std::vector<int> prompts_;
    int started_ = 0;
};

std::vector<std::string> Urls(const std::deque<InstallJob>& queue) {
    std::vector<std::string> out;
    for (const InstallJob& job : queue) out.push_back(job.url);
    return out;
}

class InstallE2E : public testing::Test {
protected:
    static void SetUpTestSuite() {
        port_ = Env(L"WAYFARER_E2E_PORT");
        root_ = Env(L"WAYFARER_E2E_ROOT");
        if (port_.empty() || root_.empty()) {
            return;
        }
        trusted_ = e2e::TrustTestCa();
        const std::wstring setup = Utf8ToWide(WAYFARER_FAKE_SETUP);
        const std::wstring control = Utf8ToWide(WAYFARER_FAKE_CONTROL);
        served_ = true;
        for (const wchar_t* name : {L"setup_reg.exe", L"setup_copy.exe", L"setup_run.exe"}) {
            served_ = served_ && ::CopyFileW(setup.c_str(), (root_ + L"\\" + name).c_str(), FALSE);
        }
        served_ = served_ && ::CopyFileW(control.c_str(), (root_ + L"\\fake_control.dll").c_str(), FALSE);
        setupMd5_ = FileMd5Hex(setup);
        controlMd5_ = FileMd5Hex(control);
    }

    void SetUp() override {
        if (port_.empty() || root_.empty()) {
            GTEST_SKIP() << "run through tests/e2e/run_install_e2e.sh, which starts the fake bank server";
        }
        ASSERT_TRUE(trusted_) << "the test CA could not be added to the user's ROOT store";
        ASSERT_TRUE(served_) << "the fixtures could not be copied into the served folder";
        ASSERT_EQ(setupMd5_.size(), 32u);
        ASSERT_EQ(controlMd5_.size(), 32u);
        wchar_t temp[MAX_PATH];
        ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
        // Short: the installers' command lines must fit 260 units.
        work_ = std::wstring(temp) + L"wfi" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryW(work_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
        runs_ = work_ + L"\\r.txt";
        RemoveClass(kInstallerClass);
        RemoveClass(kControlClass);
    }

    void TearDown() override {
        RemoveClass(kInstallerClass);
        RemoveClass(kControlClass);
        std::error_code ignored;
        if (!work_.empty()) std::filesystem::remove_all(std::filesystem::path(work_), ignored);
    }

    static std::string Url(const std::string& path) { return "https://localhost:" + WideToUtf8(port_) + path; }
    std::string Work(const std::string& name) const { return WideToUtf8(work_) + "\\" + name; }
    std::string Runs() const { return ReadFile(runs_); }

    // An installer job whose run appends `text` to the run log.
    InstallJob RunJob(const std::string& text, const std::string& md5 = "") const {
        InstallJob job;
        job.url = Url("/setup_run.exe?" + text);
        job.local = Work(text + ".exe");
        job.commandFile = job.local;
        job.command = "\"%1\" /append \"" + WideToUtf8(runs_) + "\" " + text;
        job.md5 = md5;
        return job;
    }

    static void Run(InstallShared& shared, const std::vector<InstallJob>& jobs, InstallHost& host) {
        shared.installQueue.assign(jobs.begin(), jobs.end());
        shared.installThread = true;  // as EnqueueInstallJob leaves it
        InstallWorker(shared, host);
    }

    static std::wstring port_;
    static std::wstring root_;
    static bool trusted_;
    static bool served_;
    static std::string setupMd5_;
    static std::string controlMd5_;
    std::wstring work_;
    std::wstring runs_;
};

std::wstring InstallE2E::port_;
std::wstring InstallE2E::root_;
bool InstallE2E::trusted_ = false;
bool InstallE2E::served_ = false;
std::string InstallE2E::setupMd5_;
std::string InstallE2E::controlMd5_;

// Four components of a served document, installed the way the page's
// install method does it: jobs from the check operations, queued on the
// controller, taken by the application's worker.
TEST_F(InstallE2E, ComponentsInstallThroughTheControllerAndPassTheirChecksAfterwards) {
    const std::string work = WideToUtf8(work_);
    const std::string document =
        "<checkitems base=\"" + Url("/") + "\">"
        "<item name=\"control\" type=\"SafeActiveX\">"
        "<installer command=\"&quot;%1&quot; /register " + WideToUtf8(kInstallerClass) + " &quot;" + work +
        "\\ctl.dll&quot;\">setup_reg.exe</installer>"
        "</item>"
        "<item name=\"versioned\" type=\"other\">"
        "<installer command=\"&quot;%1&quot; /copyself &quot;" + work + "\\v.exe&quot;\" md5=\"" + Upper(setupMd5_) +
        "\">setup_copy.exe</installer>"
        "<file local=\"" + work + "\\v.exe\" version=\"1.2.3.4\" md5=\"" + setupMd5_ + "\"/>"
        "</item>"
        "<item name=\"registered\" type=\"SafeActiveX\">"
        "<file local=\"" + work + "\\fake_control.dll\" remote=\"fake_control.dll\" install=\"regserver\" md5=\"" +
        controlMd5_ + "\"/>"
        "</item>"
        // The built-in document's template; the fake installer does not know
        // these switches and ends at once with exit code 1, which nobody reads.
        "<item name=\"silent\" type=\"driver\">"
        "<installer command=\"&quot;%1&quot; /sp- /verysilent /norestart\">setup_run.exe</installer>"
        "</item>"
        "</checkitems>";
    WindowsEnvironment env;
    CheckItems checks(env);
    ASSERT_TRUE(checks.LoadFromText(document));
    ASSERT_EQ(checks.items.size(), 4u);
    const FileRef versioned = checks.items[1].files.at(0);
    const FileRef registered = checks.items[2].files.at(0);
    EXPECT_FALSE(CheckFileEntry(versioned));
    EXPECT_FALSE(CheckFileEntry(registered));

    WindowsChecks ops;
    ThreadHost host;
    WayfarerController controller(host, ops, env);
    host.shared = &controller.Install();
    std::vector<std::string> localFiles;
    for (ComponentItem& item : checks.items) {
        item.state = component_state::kMissing;
        for (const InstallJob& job : ops.QueueItemJobs(item)) {
            localFiles.push_back(job.local);
            controller.EnqueueInstallJob(job);
        }
    }
    host.JoinAll();

    EXPECT_THAT(host.Prompts(), IsEmpty());
    EXPECT_EQ(host.Arms(4).size(), 4u) << "re-detection after each run";
    const std::wstring control = RegisteredServer(kInstallerClass);
    EXPECT_TRUE(SamePath(control, work_ + L"\\ctl.dll")) << WideToUtf8(control);
    EXPECT_TRUE(Exists(control));
    EXPECT_TRUE(CheckFileEntry(versioned)) << "the installed copy does not pass its file check";
    const std::wstring server = RegisteredServer(kControlClass);
    EXPECT_TRUE(SamePath(server, Utf8ToWide(registered.local))) << "regsvr32 did not register the control: ["
                                                                << WideToUtf8(server) << "]";
    EXPECT_TRUE(CheckFileEntry(registered));
    EXPECT_THAT(controller.Install().installQueue, IsEmpty());
    EXPECT_FALSE(controller.Install().installThread);
    EXPECT_FALSE(controller.Install().installBusy);
    EXPECT_EQ(controller.Install().installStatus, 1);
    EXPECT_EQ(controller.Install().downloadProgress, 100);
    for (const std::string& local : localFiles) {
        ::DeleteFileW(Utf8ToWide(local).c_str());  // the installers' downloads in DownTmp
    }
}

TEST_F(InstallE2E, DownloadFailureAsksAndGoesOnOrStops) {
    struct Case {
        const char* name;
        int answer;
        std::string runs;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {"continue", kIdYes, "b\r\nc\r\n", {}},
        {"stop", kIdNo, "", {Url("/setup_run.exe?b"), Url("/setup_run.exe?c")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::DeleteFileW(runs_.c_str());
        InstallJob missing = RunJob("a");
        missing.url = Url("/missing/setup_run.exe");
        InstallShared shared;
        RecordingHost host;
        host.answers = {c.answer};
        Run(shared, {missing, RunJob("b"), RunJob("c")}, host);

        EXPECT_THAT(host.Prompts(), ElementsAre("145,146,147"));
        EXPECT_EQ(Runs(), c.runs);
        EXPECT_FALSE(Exists(Utf8ToWide(missing.local))) << "a failed download left a file";
        EXPECT_EQ(Urls(shared.installQueue), c.left);
        EXPECT_FALSE(shared.installThread);
        EXPECT_FALSE(shared.installBusy);
        EXPECT_EQ(host.Count("Arm(4,0)"), c.left.empty() ? 2u : 0u);
    }
}

// A missing program, the empty line of a file job without `install`, and a
// line longer than the 260-unit buffer: each is a failure to start, asked
// about, and the queue goes on.
TEST_F(InstallE2E, ProgramsThatCannotStartAreAskedAboutAndNothingIsCut) {
    InstallJob missingProgram = RunJob("m");
    missingProgram.command = "\"C:\\no such folder\\setup.exe\" /q";
    InstallJob noInstall = RunJob("n");
    noInstall.commandFile.clear();
    noInstall.command.clear();
    noInstall.installFile = noInstall.local;
    InstallJob tooLong = RunJob("t");
    tooLong.command += " " + std::string(260, 'x');
    ASSERT_GT(BuildInstallCommand(tooLong.command, tooLong.commandFile).size(), 259u);
    InstallShared shared;
    RecordingHost host;
    Run(shared, {missingProgram, noInstall, tooLong, RunJob("after")}, host);

    EXPECT_THAT(host.Prompts(), ElementsAre("149,150,151", "149,150,151", "149,150,151"));
    EXPECT_EQ(Runs(), "after\r\n") << "a line that does not fit was cut and run";
    EXPECT_EQ(host.Count("Arm(4,0)"), 1u) << "re-detection only after the run that started";
    EXPECT_THAT(shared.installQueue, IsEmpty());
}

TEST_F(InstallE2E, Md5MismatchIsAFailedDownloadAndNothingRuns) {
    const std::string wrong = std::string(setupMd5_.rbegin(), setupMd5_.rend());
    ASSERT_NE(wrong, setupMd5_);
    const InstallJob bad = RunJob("bad", wrong);
    const InstallJob good = RunJob("good", Upper(setupMd5_));
    InstallShared shared;
    RecordingHost host;
    Run(shared, {bad, good}, host);

    EXPECT_THAT(host.Prompts(), ElementsAre("145,146,147"));
    EXPECT_EQ(Runs(), "good\r\n");
    EXPECT_FALSE(Exists(Utf8ToWide(bad.local))) << "the file that failed its check stayed";
    EXPECT_TRUE(Exists(Utf8ToWide(good.local)));
    EXPECT_EQ(shared.downloadProgress, 100);
}

// The first installer waits at a gate until two more jobs are queued: the
// queueing is not held up by it, and the same worker takes them in order.
TEST_F(InstallE2E, JobsQueuedWhileAnInstallerRunsAreTakenInOrderByTheSameWorker) {
    const std::wstring id = std::to_wstring(::GetCurrentProcessId());
    const unique_handle started(::CreateEventW(nullptr, TRUE, FALSE, (L"wfiS" + id).c_str()));
    const unique_handle gate(::CreateEventW(nullptr, TRUE, FALSE, (L"wfiG" + id).c_str()));
    ASSERT_TRUE(started && gate);
    WindowsEnvironment env;
    WindowsChecks ops;
    ThreadHost host;
    WayfarerController controller(host, ops, env);
    host.shared = &controller.Install();

    InstallJob first = RunJob("a");
    first.command = "\"%1\" /signal wfiS" + WideToUtf8(id) + " /waitfor wfiG" + WideToUtf8(id) + " /append \"" +
                    WideToUtf8(runs_) + "\" a";
    controller.EnqueueInstallJob(first);
    const bool running = ::WaitForSingleObject(started.get(), 60000) == WAIT_OBJECT_0;
    if (running) {
        controller.EnqueueInstallJob(RunJob("b"));
        controller.EnqueueInstallJob(RunJob("c"));
    }
    ::SetEvent(gate.get());
    host.JoinAll();
    ASSERT_TRUE(running) << "the first installer never started";

    EXPECT_EQ(Runs(), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(host.Started(), 1) << "a second worker was started";
    // Re-detection after the first run, while the later jobs are still queued.
    EXPECT_THAT(host.Arms(4), ElementsAre("Arm(4,0) queued=3", "Arm(4,0) queued=2", "Arm(4,0) queued=1"));
    EXPECT_THAT(host.Prompts(), IsEmpty());
    EXPECT_THAT(controller.Install().installQueue, IsEmpty());
    EXPECT_FALSE(controller.Install().installThread);
}

}  // namespace
}  // namespace wayfarer
