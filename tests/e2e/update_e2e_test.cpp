// The console checker updating itself under Wine against the fake bank
// server, which update_e2e.sh starts. It passes, as environment variables:
// WAYFARER_E2E_PORT, WAYFARER_E2E_ROOT (the served folder), WAYFARER_E2E_LOG
// (the request log) and WAYFARER_E2E_CA (the test CA, DER), paths as
// Windows sees them. Each case copies wayfarer-cli.exe (1.0.0.1) into a
// folder of its own, serves a document whose appinfo names 1.0.0.2 and
// serves wayfarer-cli-next.exe (1.0.0.2) as the update, and runs the copy
// with /check /json.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "components/detection_windows.h"
#include "tests/e2e/e2e_support.h"

namespace wayfarer {
namespace {

using e2e::Env;
using e2e::Exists;
using e2e::ReadFile;
using e2e::WriteFile;

const std::wstring kCurrent = L"" WAYFARER_CLI_EXE;   // 1.0.0.1
const std::wstring kNext = L"" WAYFARER_CLI_NEXT_EXE;  // 1.0.0.2
constexpr const char* kCheckDone = "检测完毕";

std::string VersionOf(const std::wstring& path) {
    VS_FIXEDFILEINFO info{};
    if (!ReadFileVersion(path, info)) {
        return "none";
    }
    return std::to_string(HIWORD(info.dwFileVersionMS)) + "." + std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info.dwFileVersionLS)) + "." + std::to_string(LOWORD(info.dwFileVersionLS));
}

// Backstops against a hanging program, not measures.
constexpr ULONGLONG kOutputBackstopMs = 180000;
constexpr DWORD kExitBackstopMs = 60000;

struct CheckerRun {
    long exitCode = -1;
    std::string output;  // the checker's and that of every process it started
    bool hung = false;   // something was still running at a backstop
};

// The checker's stderr goes to a file: the first window under Wine starts
// the desktop process, which keeps the stderr of the process that started
// it and would hold a pipe open for good.
unique_hfile OpenErrorFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return unique_hfile(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The copies of the checker that `parent` started and that are still
// running. (Under Wine the first window also starts the desktop process,
// which is not the checker's to end.)
std::vector<unique_handle> RunningRestarts(DWORD parent) {
    std::vector<unique_handle> children;
    const unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return children;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent &&
            ::lstrcmpiW(entry.szExeFile, L"wayfarer-cli.exe") == 0) {
            unique_handle child(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
            if (child) {
                children.push_back(std::move(child));
            }
        }
    }
    return children;
}

// Runs `exe args` in `folder` with its stdout on a pipe, and reads until
// every process holding the pipe has ended. Then waits for the checker and
// for whatever it started that is still running, so that no process of a
// case outlives it.
CheckerRun RunChecker(const std::wstring& exe, const std::wstring& args, const std::wstring& folder,
                      const std::wstring& errorFile) {
    CheckerRun run;
    const unique_hfile error = OpenErrorFile(errorFile);
    if (!error) {
        return run;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readRaw = nullptr;
    HANDLE writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) {
        return run;
    }
    const unique_handle readEnd(readRaw);
    unique_handle writeEnd(writeRaw);
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring line = L"\"" + exe + L"\" " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = error.get();
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                          &info)) {
        return run;
    }
    const unique_handle process(info.hProcess);
    ::CloseHandle(info.hThread);
    writeEnd.reset();

    const ULONGLONG deadline = ::GetTickCount64() + kOutputBackstopMs;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr)) {
            break;  // every writer has closed it
        }
        if (available == 0) {
            if (::GetTickCount64() > deadline) {
                run.hung = true;
                break;
            }
            ::Sleep(20);
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(readEnd.get(), buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                        nullptr)) {
            break;
        }
        run.output.append(buffer, got);
    }

    if (::WaitForSingleObject(process.get(), kExitBackstopMs) != WAIT_OBJECT_0) {
        run.hung = true;
        ::TerminateProcess(process.get(), 1);
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        run.exitCode = static_cast<long>(code);
    }
    for (const unique_handle& child : RunningRestarts(info.dwProcessId)) {
        if (::WaitForSingleObject(child.get(), kExitBackstopMs) != WAIT_OBJECT_0) {
            run.hung = true;
            ::TerminateProcess(child.get(), 1);
        }
    }
    return run;
}

// The registrations for the next start of Windows, as the system keeps them.
std::vector<std::wstring> PendingRenames() {
    std::vector<std::wstring> entries;
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                        KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return entries;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return entries;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return entries;
    }
    // Pairs of source and target; an empty target means deletion. The list
    // ends at the first empty source.
    const wchar_t* p = data.data();
    const wchar_t* end = data.data() + size / sizeof(wchar_t);
    while (p < end) {
        const std::wstring entry(p);
        entries.push_back(entry);
        p += entry.size() + 1;
    }
    return entries;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           ::CompareStringOrdinal(text.c_str() + text.size() - tail.size(), static_cast<int>(tail.size()),
                                  tail.c_str(), static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

class UpdateE2eTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        port_ = Env(L"WAYFARER_E2E_PORT");
        root_ = Env(L"WAYFARER_E2E_ROOT");
        log_ = Env(L"WAYFARER_E2E_LOG");
        trusted_ = e2e::TrustTestCa();
    }

    void SetUp() override {
        if (port_.empty() || root_.empty()) {
            GTEST_SKIP() << "run through tests/e2e/update_e2e.sh, which starts the fake bank server";
        }
        ASSERT_TRUE(trusted_) << "the test CA could not be added to the user's ROOT store";
        currentMd5_ = FileMd5Hex(kCurrent);
        nextMd5_ = FileMd5Hex(kNext);
        ASSERT_EQ(VersionOf(kCurrent), "1.0.0.1");
        ASSERT_EQ(VersionOf(kNext), "1.0.0.2");

        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        name_ = Utf8ToWide(test->name());
        wchar_t temp[MAX_PATH];
        ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
        download_ = std::wstring(temp) + L"DownTmp\\wayfarer-cli.exe";
        ::DeleteFileW(download_.c_str());
        folder_ = std::wstring(temp) + L"wayfarer-update-e2e-" + name_;
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        exe_ = folder_ + L"\\wayfarer-cli.exe";
        ASSERT_TRUE(::CopyFileW(kCurrent.c_str(), exe_.c_str(), FALSE));
        ::CreateDirectoryW((root_ + L"\\" + name_).c_str(), nullptr);
    }

    void TearDown() override {
        ::SetEnvironmentVariableW(L"WAYFARER_TEST_CONFIG_URL", nullptr);
        ::DeleteFileW(download_.c_str());
        for (const wchar_t* file : {L"wayfarer-cli.exe", L"wayfarer-cli.exe.old", L"item.xml"}) {
            const std::wstring path = folder_ + L"\\" + file;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
        ::RemoveDirectoryW(folder_.c_str());
    }

    std::wstring Url(const std::wstring& file) const {
        return L"https://localhost:" + port_ + L"/" + name_ + L"/" + file;
    }

    // Serves `update` as the new executable and a document whose appinfo
    // names it with 1.0.0.2 and `md5`, and points the checker at it.
    void ServeUpdate(const std::wstring& update, const std::string& md5) {
        ASSERT_TRUE(::CopyFileW(update.c_str(), (root_ + L"\\" + name_ + L"\\wayfarer-cli.exe").c_str(), FALSE));
        std::string document = "<checkitems><item name=\"x\" type=\"other\"/><appinfo version=\"1.0.0.2\" remote=\"" +
                               WideToUtf8(Url(L"wayfarer-cli.exe")) + "\"";
        if (!md5.empty()) {
            document += " md5=\"" + md5 + "\"";
        }
        document += "/></checkitems>";
        WriteFile(root_ + L"\\" + name_ + L"\\item.xml", document);
        ASSERT_TRUE(::SetEnvironmentVariableW(L"WAYFARER_TEST_CONFIG_URL", Url(L"item.xml").c_str()));
    }

    // Runs the case's copy of the checker; its stderr stays beside the
    // served files.
    CheckerRun RunCopy(const std::wstring& args) const {
        const std::wstring errorFile = root_ + L"\\" + name_ + L"\\checker-" + std::to_wstring(++runs_) + L".err";
        return RunChecker(exe_, args, folder_, errorFile);
    }

    // The request log's lines for this case, in order. Wine's WinINet sends
    // each GET twice in a row; one line stands for both.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        const std::string prefix = "GET /" + WideToUtf8(name_) + "/";
        const std::string log = ReadFile(log_);
        for (size_t start = 0; start < log.size();) {
            size_t end = log.find('\n', start);
            if (end == std::string::npos) {
                end = log.size();
            }
            const std::string line = log.substr(start, end - start);
            if (line.compare(0, prefix.size(), prefix) == 0 &&
                (lines.empty() || lines.back() != line.substr(prefix.size()))) {
                lines.push_back(line.substr(prefix.size()));
            }
            start = end + 1;
        }
        return lines;
    }

    // Wine and Windows rename a running executable; a system that does not
    // leaves nothing for this test to see swapped.
    bool RunningImageRenames() {
        const std::wstring probe = folder_ + L"\\probe.exe";
        if (!::CopyFileW(kNext.c_str(), probe.c_str(), FALSE)) {
            return false;
        }
        std::wstring line = L"\"" + probe + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        bool renamed = false;
        if (::CreateProcessW(probe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &info)) {
            const unique_handle process(info.hProcess);
            const unique_handle thread(info.hThread);
            renamed = ::MoveFileW(probe.c_str(), (probe + L".moved").c_str()) != FALSE;
            ::TerminateProcess(process.get(), 0);
            ::WaitForSingleObject(process.get(), INFINITE);
        }
        ::DeleteFileW(probe.c_str());
        ::DeleteFileW((probe + L".moved").c_str());
        return renamed;
    }

    static std::wstring port_;
    static std::wstring root_;
    static std::wstring log_;
    static bool trusted_;
    std::string currentMd5_;
    std::string nextMd5_;
    std::wstring name_;
    std::wstring folder_;
    std::wstring exe_;
    std::wstring download_;
    mutable int runs_ = 0;
};

std::wstring UpdateE2eTest::port_;
std::wstring UpdateE2eTest::root_;
std::wstring UpdateE2eTest::log_;
bool UpdateE2eTest::trusted_ = false;

TEST_F(UpdateE2eTest, AcceptedUpdateIsSwappedInAndRestarted) {
    if (!RunningImageRenames()) {
        GTEST_SKIP() << "this system refuses to rename a running executable, so the swap cannot happen";
    }
    ServeUpdate(kNext, nextMd5_);
    const CheckerRun run = RunCopy(L"/check /json");
    ASSERT_FALSE(run.hung) << run.output;

    // The old instance asked, took the first choice and quit without a
    // verdict of its own.
    EXPECT_EQ(run.exitCode, 4) << run.output;
    const size_t prompt = run.output.find("{\"prompt\":139,");
    ASSERT_NE(prompt, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"answer\":6}", prompt), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("{\"prompt\":139,", prompt + 1), std::string::npos) << "offered twice";

    // The folder holds the new executable; the moved-aside one was deleted by
    // the restarted instance once the old one had ended, and the download is
    // gone.
    EXPECT_EQ(VersionOf(exe_), "1.0.0.2");
    EXPECT_EQ(FileMd5Hex(exe_), nextMd5_);
    EXPECT_FALSE(Exists(exe_ + L".old"));
    EXPECT_FALSE(Exists(download_));

    // The old instance could not delete the file it ran from and left it to
    // the next start of Windows, which proves it was there while it ran.
    const std::vector<std::wstring> pending = PendingRenames();
    bool oldScheduled = false;
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        if (EndsWithNoCase(pending[i], exe_ + L".old")) {
            oldScheduled = pending[i + 1].empty();
        }
        EXPECT_FALSE(EndsWithNoCase(pending[i], exe_)) << "the old executable is to come back at reboot";
    }
    EXPECT_TRUE(oldScheduled) << "the moved-aside file was not registered for deletion";

    // The restarted instance (started with "/update" only, so it speaks in
    // the page's words) fetched the document again and ran the sequence.
    EXPECT_NE(run.output.find(kCheckDone, prompt), std::string::npos) << run.output;
    const std::vector<std::string> requests = Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], "item.xml");
    EXPECT_EQ(requests[1], "wayfarer-cli.exe");
    EXPECT_EQ(requests[2], "item.xml");
}

TEST_F(UpdateE2eTest, ACorruptDownloadChangesNothingAndTheChecksRun) {
    struct Case {
        const char* name;
        std::wstring served;
        std::string md5;
    };
    const Case cases[] = {
        {"md5 not that of the served file", kNext, "0123456789abcdef0123456789abcdef"},
        {"served file older than appinfo says", kCurrent, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServeUpdate(c.served, c.md5);
        const size_t before = Requests().size();
        const CheckerRun run = RunCopy(L"/check /json");
        ASSERT_FALSE(run.hung) << run.output;
        EXPECT_GE(run.exitCode, 0) << run.output;
        EXPECT_LE(run.exitCode, 3) << "no verdict: " << run.output;
        EXPECT_EQ(run.output.find("\"prompt\":139"), std::string::npos) << "a corrupt update was offered";
        EXPECT_NE(run.output.find(kCheckDone), std::string::npos) << run.output;
        EXPECT_EQ(FileMd5Hex(exe_), currentMd5_);
        EXPECT_FALSE(Exists(exe_ + L".old"));
        EXPECT_FALSE(Exists(download_)) << "the corrupt download was kept";
        const std::vector<std::string> requests = Requests();
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests[before + 1], "wayfarer-cli.exe") << "nothing was downloaded";
    }
}

TEST_F(UpdateE2eTest, DeclinedUpdateRunsTheChecksAtOnceAndSwapsNothing) {
    ServeUpdate(kNext, nextMd5_);
    const CheckerRun run = RunCopy(L"/check /json /no");
    ASSERT_FALSE(run.hung) << run.output;
    EXPECT_GE(run.exitCode, 0) << run.output;
    EXPECT_LE(run.exitCode, 3) << "no verdict: " << run.output;
    const size_t prompt = run.output.find("{\"prompt\":139,");
    ASSERT_NE(prompt, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"answer\":7}", prompt), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(kCheckDone, prompt), std::string::npos) << run.output;
    EXPECT_EQ(FileMd5Hex(exe_), currentMd5_);
    EXPECT_FALSE(Exists(exe_ + L".old"));
    // Kept for the next offer, which downloads it again over itself.
    EXPECT_EQ(FileMd5Hex(download_), nextMd5_);
    EXPECT_EQ(Requests().size(), 2u);
}

}  // namespace
}  // namespace wayfarer
