// The self-update's Windows side on real files: the running executable's
// check against appinfo, the verification of a download, the refusals that
// move nothing, and the file operations on a running image. The two builds
// of the console checker are the executables: 1.0.0.1 and 1.0.0.2.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <string>

#include "app/update_windows.h"
#include "common/handles.h"
#include "common/text.h"
#include "components/detection_windows.h"

namespace wayfarer {
namespace {

const std::wstring kCurrent = L"" WAYFARER_CLI_EXE;   // 1.0.0.1
const std::wstring kNext = L"" WAYFARER_CLI_NEXT_EXE;  // 1.0.0.2

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class UpdateWindowsTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
        work_ = std::wstring(temp) + L"wayfarer-update-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter_);
        ASSERT_TRUE(::CreateDirectoryW(work_.c_str(), nullptr));
        currentMd5_ = FileMd5Hex(kCurrent);
        nextMd5_ = FileMd5Hex(kNext);
        ASSERT_EQ(currentMd5_.size(), 32u);
        ASSERT_EQ(nextMd5_.size(), 32u);
    }

    void TearDown() override {
        for (const wchar_t* name : {L"wayfarer.exe", L"wayfarer.exe.old", L"download.exe", L"probe.exe",
                                         L"probe.exe.old", L"copy.exe"}) {
            ::DeleteFileW((work_ + L"\\" + name).c_str());
        }
        for (std::wstring folder = deepest_; folder.size() > work_.size();
             folder = folder.substr(0, folder.rfind(L'\\'))) {
            ::DeleteFileW((folder + L"\\w.exe").c_str());
            ::DeleteFileW((folder + L"\\w.exe.old").c_str());
            ::DeleteFileW((folder + L"\\d.exe").c_str());
            ::RemoveDirectoryW(folder.c_str());
        }
        ::RemoveDirectoryW(work_.c_str());
    }

    std::wstring Place(const std::wstring& from, const wchar_t* name) const {
        const std::wstring to = work_ + L"\\" + name;
        EXPECT_TRUE(::CopyFileW(from.c_str(), to.c_str(), FALSE));
        return to;
    }

    AppInfo Next(const std::wstring& download) const {
        AppInfo app;
        app.version = "1.0.0.2";
        app.remote = "https://localhost:1/wayfarer.exe";
        app.local = WideToUtf8(download);
        app.md5 = nextMd5_;
        return app;
    }

    static int counter_;
    std::wstring work_;
    std::wstring deepest_;
    std::string currentMd5_;
    std::string nextMd5_;
};

int UpdateWindowsTest::counter_ = 0;

TEST_F(UpdateWindowsTest, UpdateNeededWhenTheExecutableFailsTheFileCheck) {
    const std::wstring exe = Place(kCurrent, L"wayfarer.exe");
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);  // has no version block
    std::string upper = currentMd5_;
    for (char& c : upper) {
        c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    }
    struct Case {
        const char* name;
        std::wstring exe;
        const char* version;
        std::string md5;
        bool needed;
    };
    const Case cases[] = {
        {"no version, no md5", exe, "", "", false},
        {"equal version", exe, "1.0.0.1", "", false},
        {"lower version", exe, "1.0.0.0", "", false},
        {"higher version", exe, "1.0.0.2", "", true},
        {"higher low half only", exe, "0.9.0.2", "", true},
        {"its own md5", exe, "", currentMd5_, false},
        {"another md5, equal version", exe, "1.0.0.1", nextMd5_, true},
        {"its md5 in capitals", exe, "", upper, true},
        {"no version block", self, "1.0.0.0", "", true},
        {"unknown path", L"", "1.0.0.2", "", false},
    };
    for (const Case& c : cases) {
        AppInfo app;
        app.version = c.version;
        app.md5 = c.md5;
        EXPECT_EQ(UpdateNeeded(app, c.exe), c.needed) << c.name;
    }
}

TEST_F(UpdateWindowsTest, ADownloadMustHaveTheMd5AndMeetTheVersion) {
    const std::wstring download = Place(kNext, L"download.exe");
    struct Case {
        const char* name;
        const char* version;
        std::string md5;
        bool matches;
    };
    const Case cases[] = {
        {"both given and met", "1.0.0.2", nextMd5_, true},
        {"version only", "1.0.0.2", "", true},
        {"md5 only", "", nextMd5_, true},
        {"another md5", "1.0.0.2", currentMd5_, false},
        {"older than required", "1.0.0.3", nextMd5_, false},
    };
    for (const Case& c : cases) {
        AppInfo app = Next(download);
        app.version = c.version;
        app.md5 = c.md5;
        EXPECT_EQ(DownloadMatches(app, download), c.matches) << c.name;
    }
    EXPECT_FALSE(DownloadMatches(Next(work_ + L"\\absent.exe"), work_ + L"\\absent.exe"));
}

TEST_F(UpdateWindowsTest, CheckForUpdateDownloadsOnlyWhenNeeded) {
    const std::wstring exe = Place(kCurrent, L"wayfarer.exe");
    const std::wstring download = work_ + L"\\download.exe";

    AppInfo same = Next(download);
    same.version = "1.0.0.1";
    same.md5 = currentMd5_;
    EXPECT_EQ(CheckAndDownloadUpdate(same, exe), UpdateCheck::NotNeeded);

    // Nothing listens on port 1 of loopback.
    EXPECT_EQ(CheckAndDownloadUpdate(Next(download), exe), UpdateCheck::DownloadFailed);
    EXPECT_FALSE(Exists(download));

    AppInfo nowhere = Next(download);
    nowhere.local.clear();  // an address without a file name gives no download path
    EXPECT_EQ(CheckAndDownloadUpdate(nowhere, exe), UpdateCheck::DownloadFailed);
}

TEST_F(UpdateWindowsTest, ABadDownloadMovesNothingAndIsDeleted) {
    struct Case {
        const char* name;
        std::wstring served;
        std::string md5;
    };
    const Case cases[] = {
        {"another md5", kNext, std::string(32, '0')},
        {"version block too old", kCurrent, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring exe = Place(kCurrent, L"wayfarer.exe");
        const std::wstring download = Place(c.served, L"download.exe");
        AppInfo app = Next(download);
        app.md5 = c.md5;
        EXPECT_FALSE(ApplyDownloadedUpdate(app, exe));
        EXPECT_EQ(FileMd5Hex(exe), currentMd5_);
        EXPECT_FALSE(Exists(exe + L".old"));
        EXPECT_FALSE(Exists(download));
    }
    // Without the running executable's path there is nothing to replace.
    const std::wstring download = Place(kNext, L"download.exe");
    EXPECT_FALSE(ApplyDownloadedUpdate(Next(download), L""));
    EXPECT_TRUE(Exists(download));
}

TEST_F(UpdateWindowsTest, APathTooLongToRestartIsSwappedButNotStarted) {
    // Folders below the 248-unit limit of a folder name, and a target whose
    // restart line ("T" /update) no longer fits 260 units.
    std::wstring folder = work_;
    const auto descend = [&](size_t units) {
        folder += L"\\" + std::wstring(units, L'd');
        deepest_ = folder;
        return ::CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
    };
    while (folder.size() + 41 <= 246) {
        ASSERT_TRUE(descend(40)) << folder.size();
    }
    if (folder.size() < 244) {
        ASSERT_TRUE(descend(245 - folder.size())) << folder.size();
    }
    const std::wstring exe = folder + L"\\w.exe";
    ASSERT_GE(exe.size(), 250u);
    ASSERT_LT(exe.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_TRUE(::CopyFileW(kCurrent.c_str(), exe.c_str(), FALSE));
    const std::wstring download = folder + L"\\d.exe";
    ASSERT_TRUE(::CopyFileW(kNext.c_str(), download.c_str(), FALSE));

    EXPECT_FALSE(ApplyDownloadedUpdate(Next(download), exe));
    EXPECT_EQ(FileMd5Hex(exe), nextMd5_);
    EXPECT_FALSE(Exists(download));
}

// What the swap relies on: a running image is renamed, not deleted; the
// file renamed aside stays undeletable while the process runs.
TEST_F(UpdateWindowsTest, ARunningImageIsRenamedButNotDeleted) {
    const std::wstring probe = Place(kNext, L"probe.exe");
    const std::wstring old = probe + L".old";
    std::wstring line = L"\"" + probe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(probe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                 nullptr, &startup, &info));
    const unique_handle process(info.hProcess);
    const unique_handle thread(info.hThread);

    WindowsProgramFiles files;
    EXPECT_TRUE(files.Exists(probe));
    EXPECT_FALSE(files.Delete(probe)) << "the running image was deleted";
    const bool moved = files.Move(probe, old);
    const DWORD moveError = moved ? 0 : ::GetLastError();
    bool oldDeleted = false;
    if (moved) {
        oldDeleted = files.Delete(old);
        EXPECT_FALSE(files.Copy(kCurrent, old, true)) << "a copy replaced an existing file";
        EXPECT_TRUE(files.Move(old, probe));
    }
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), INFINITE);
    if (!moved) {
        GTEST_SKIP() << "this system refuses to rename a running executable (error " << moveError
                     << "); the swap then leaves it in place";
    }
    EXPECT_FALSE(oldDeleted) << "the renamed running image was deleted";
    EXPECT_TRUE(files.Delete(probe)) << "not deletable after its process ended";
}

}  // namespace
}  // namespace wayfarer
