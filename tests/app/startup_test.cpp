// Start-up before the window: the "/update" argument, the wait for the
// previous executable, the single-instance lock, also across processes and
// through wayfarer.exe itself.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/process_runner.h"

namespace wayfarer {
namespace {

using test::StartProgram;
using test::WaitForExit;
using test::Widen;

TEST(IsUpdateStart, OnlyTheExactFirstArgument) {
    const struct {
        const wchar_t* commandLine;
        bool update;
    } cases[] = {
        {L"wayfarer.exe /update", true},
        {L"\"C:\\Program Files\\Lunmar\\wayfarer.exe\" /update", true},
        {L"wayfarer.exe \"/update\"", true},
        {L"wayfarer.exe /update more", true},
        {L"wayfarer.exe", false},
        {L"wayfarer.exe /UPDATE", false},
        {L"wayfarer.exe /Update", false},
        {L"wayfarer.exe update", false},
        {L"wayfarer.exe /updates", false},
        {L"wayfarer.exe other /update", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUpdateStart(c.commandLine), c.update) << "command line: [" << c.commandLine << "]";
    }
    EXPECT_FALSE(IsUpdateStart(nullptr));
}

TEST(OldExecutablePath, IsTheModulePathWithOldAppended) {
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(OldExecutablePath(), std::wstring(module, length) + L".old");
}

class OldFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
        path = std::wstring(folder) + L"wayfarer-startup-" +
               Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               L".exe.old";
        DeleteFileW(path.c_str());
    }
    void TearDown() override {
        held.reset();
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
    void Create() {
        unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
    }
    // Open without delete sharing: as the previous instance's mapped image.
    void Hold() {
        held.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
    }
    bool Exists() const { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::wstring path;
    unique_hfile held;
    int pauses = 0;
};

TEST_F(OldFileTest, NoFileMeansNoWait) {
    EXPECT_EQ(RemoveOldExecutable(path, 300, [this] { ++pauses; }), OldFileOutcome::Absent);
    EXPECT_EQ(pauses, 0);
}

TEST_F(OldFileTest, DeletableFileIsDeletedAtOnce) {
    Create();
    EXPECT_EQ(RemoveOldExecutable(path, 300, [this] { ++pauses; }), OldFileOutcome::Deleted);
    EXPECT_EQ(pauses, 0);
    EXPECT_FALSE(Exists());
}

TEST_F(OldFileTest, WaitsWhileTheFileIsHeldAndDeletesItOnRelease) {
    Create();
    Hold();
    // The previous instance ends during the third pause.
    const OldFileOutcome outcome = RemoveOldExecutable(path, 300, [this] {
        if (++pauses == 3) {
            held.reset();
        }
    });
    EXPECT_EQ(outcome, OldFileOutcome::Deleted);
    EXPECT_EQ(pauses, 3) << "it kept trying while the file was held, and stopped when it could delete";
    EXPECT_FALSE(Exists());
}

// Reads PendingFileRenameOperations, the list of moves made at the next boot.
std::wstring PendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return {};
    }
    const unique_hkey owner(key);
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t), L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(value.data()), &size);
    return value;
}

TEST_F(OldFileTest, FileHeldForeverIsLeftForTheNextBootAndStartUpGoesOn) {
    Create();
    Hold();
    const OldFileOutcome outcome = RemoveOldExecutable(path, 4, [this] { ++pauses; });
    EXPECT_EQ(outcome, OldFileOutcome::ScheduledAtReboot);
    EXPECT_EQ(pauses, 3) << "four tries, a pause between each two";
    EXPECT_TRUE(Exists()) << "still held; only the reboot removes it";
    // The system keeps the name in the NT form (\??\C:\...).
    EXPECT_NE(PendingRenames().find(path.substr(2)), std::wstring::npos)
        << "the delete at the next boot is registered";
}

TEST(SingleInstance, SecondLockInTheSameSessionIsRefusedUntilTheFirstEnds) {
    const wchar_t* const name = L"{wayfarer-test-lock-in-process}";
    SingleInstance first = AcquireSingleInstance(name);
    ASSERT_EQ(first.state, InstanceLock::Acquired);
    EXPECT_TRUE(first.mutex);

    const SingleInstance second = AcquireSingleInstance(name);
    EXPECT_EQ(second.state, InstanceLock::AlreadyRunning);
    EXPECT_FALSE(second.mutex) << "the refused instance keeps no handle";

    first.mutex.reset();
    EXPECT_EQ(AcquireSingleInstance(name).state, InstanceLock::Acquired)
        << "the lock lives exactly as long as its holder";
}

TEST(SingleInstance, IsSharedAcrossProcesses) {
    const std::wstring helper = Widen(WAYFARER_LOCK_HELPER);
    const wchar_t* const name = L"{wayfarer-test-lock-across-processes}";

    EXPECT_EQ(WaitForExit(StartProgram(helper, name)), 0) << "free: the helper takes it";
    {
        const SingleInstance held = AcquireSingleInstance(name);
        ASSERT_EQ(held.state, InstanceLock::Acquired);
        EXPECT_EQ(WaitForExit(StartProgram(helper, name)), 1) << "held here: the helper is refused";
    }
    EXPECT_EQ(WaitForExit(StartProgram(helper, name)), 0) << "released: the helper takes it again";
}

// wayfarer.exe itself, with the real lock held by this test so that it never
// gets as far as its window.
TEST(WayfarerStartUp, EndsSilentlyBesideARunningInstanceAndWaitsForTheOldFileFirst) {
    const std::wstring exe = Widen(WAYFARER_EXE);
    const std::wstring old = exe + L".old";
    const SingleInstance running = AcquireSingleInstance();
    ASSERT_EQ(running.state, InstanceLock::Acquired)
        << "another wayfarer.exe is running in this Wine prefix";

    // A plain start ends at once, without a window.
    EXPECT_EQ(WaitForExit(StartProgram(exe, L"")), 0);

    // "/update" in another case, or in second place, leaves the old file alone.
    for (const wchar_t* arguments : {L"/UPDATE", L"x /update"}) {
        unique_hfile file(CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        file.reset();
        EXPECT_EQ(WaitForExit(StartProgram(exe, arguments)), 0);
        EXPECT_NE(GetFileAttributesW(old.c_str()), INVALID_FILE_ATTRIBUTES)
            << "arguments: " << testing::PrintToString(std::wstring(arguments));
    }

    // "/update" with the old file still in use: it cannot end before the
    // file is released (its bound is far off), then it deletes the file and,
    // finding the lock taken, ends.
    unique_hfile held(CreateFileW(old.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    const test::Started updating = StartProgram(exe, L"/update");
    ASSERT_TRUE(updating.ok());
    EXPECT_FALSE(test::HasEnded(updating)) << "it must wait for the previous instance's file";
    held.reset();
    EXPECT_EQ(WaitForExit(updating), 0);
    EXPECT_EQ(GetFileAttributesW(old.c_str()), INVALID_FILE_ATTRIBUTES) << "the old file is deleted";

    // "/update" without an old file goes straight on.
    EXPECT_EQ(WaitForExit(StartProgram(exe, L"/update")), 0);
    DeleteFileW(old.c_str());
}

}  // namespace
}  // namespace wayfarer
