#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "checks/hosts.h"
#include "common/handles.h"
#include "common/text.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

const std::string kHost = "www.lunmarbank.example";

std::optional<std::string> ReadAll(const std::wstring& path) {
    const unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
    const unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                             nullptr) &&
           written == bytes.size();
}

// A hosts file in a folder of the test's own; the DNS re-check is counted.
class HostsWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::wstring(temp) + L"wayfarer-hosts-" + Utf8ToWide(info->name()) + L"-" +
                  std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        options_.path = folder_ + L"\\hosts";
        options_.afterRewrite = [this] { ++dnsChecks_; };
        doc_ = std::make_unique<CheckItems>(env_);
        ConfigGroup hosts;
        hosts.type = "host";
        hosts.entries.push_back(ConfigEntry{"ebank.lunmarbank.example", "", "", "", ""});
        hosts.entries.push_back(ConfigEntry{kHost, "", "", "", ""});
        doc_->groups.push_back(hosts);
    }
    void TearDown() override {
        SetFileAttributesW(options_.path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(options_.path.c_str());
        // Anything else the repair might have left behind fails the test.
        EXPECT_TRUE(RemoveDirectoryW(folder_.c_str())) << "the folder holds only the hosts file";
    }

    bool Check(bool repair) { return CheckHostsFile(*doc_, repair, options_); }

    test::FakeEnvironment env_;
    std::unique_ptr<CheckItems> doc_;
    std::wstring folder_;
    HostsFileOptions options_;
    int dnsChecks_ = 0;
};

TEST_F(HostsWindowsTest, RepairsTheListedCasesInTheFile) {
    const std::string H = kHost;
    const struct {
        const char* name;
        std::string file;
        bool bad;
        std::string repaired;
    } cases[] = {
        {"only line", "127.0.0.1 " + H, true, "\r\n"},
        {"upper case with comment", "127.0.0.1 localhost\r\n 1.2.3.4  WWW.LUNMARBANK.EXAMPLE # x\r\n",
         true, "\r\n127.0.0.1 localhost\r\n\r\n"},
        {"commented out", "# 1.2.3.4 " + H + "\r\n", false, "\r\n# 1.2.3.4 " + H + "\r\n\r\n"},
        {"other names on the line", "1.2.3.4 a " + H + "\n1.2.3.4 " + H + " b\n", false,
         "\r\n1.2.3.4 a " + H + "\r\n1.2.3.4 " + H + " b\r\n\r\n"},
        {"hyphens", "1.2.3.4 www-lunmarbank-example\r\n", false,
         "\r\n1.2.3.4 www-lunmarbank-example\r\n\r\n"},
        {"lone CR kept", "\r\na\rb\r\n", false, "\r\na\rb\r\n\r\n"},
        {"empty", "", false, "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteAll(options_.path, c.file));
        dnsChecks_ = 0;
        doc_->hostsOk = c.bad;
        EXPECT_EQ(Check(false), !c.bad);
        EXPECT_EQ(doc_->hostsOk, !c.bad);
        EXPECT_EQ(ReadAll(options_.path), c.file) << "the check writes nothing";
        EXPECT_TRUE(Check(true));
        EXPECT_EQ(ReadAll(options_.path), c.repaired);
        EXPECT_EQ(dnsChecks_, 1) << "the DNS check follows every rewrite";
        EXPECT_TRUE(Check(false));
        EXPECT_TRUE(doc_->hostsOk);
    }
}

TEST_F(HostsWindowsTest, TwoBadLinesInARowTakeTwoRepairs) {
    const std::string file = "1.1.1.1 " + kHost + "\r\n\r\n2.2.2.2 " + kHost + "\r\n";
    ASSERT_TRUE(WriteAll(options_.path, file));
    EXPECT_TRUE(Check(true));
    EXPECT_FALSE(Check(false));
    EXPECT_TRUE(Check(true));
    EXPECT_TRUE(Check(false));
}

TEST_F(HostsWindowsTest, AReadOnlyFileIsLeftUnchanged) {
    const std::string file = "127.0.0.1 " + kHost + "\r\n";
    ASSERT_TRUE(WriteAll(options_.path, file));
    ASSERT_TRUE(SetFileAttributesW(options_.path.c_str(), FILE_ATTRIBUTE_READONLY));
    doc_->hostsOk = true;
    EXPECT_FALSE(Check(true));
    EXPECT_FALSE(doc_->hostsOk);
    EXPECT_EQ(ReadAll(options_.path), file);
    EXPECT_EQ(GetFileAttributesW(options_.path.c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(dnsChecks_, 0);
}

TEST_F(HostsWindowsTest, AFileThatCannotBeReadIsNeverRewritten) {
    const std::string file = "127.0.0.1 " + kHost + "\r\n";
    ASSERT_TRUE(WriteAll(options_.path, file));
    {
        // Held open without sharing: neither read nor write gets in.
        const unique_hfile locked(CreateFileW(options_.path.c_str(), GENERIC_READ, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_TRUE(Check(false)) << "nothing in it is known to be bad";
        EXPECT_FALSE(Check(true)) << "but it cannot be repaired";
    }
    EXPECT_EQ(ReadAll(options_.path), file);
    EXPECT_EQ(dnsChecks_, 0);
}

TEST_F(HostsWindowsTest, AMissingFileIsNotCreated) {
    EXPECT_TRUE(Check(false));
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(GetFileAttributesW(options_.path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(dnsChecks_, 0);
}

TEST_F(HostsWindowsTest, WithoutHostsTheFileIsNotTouched) {
    doc_->groups.clear();
    ASSERT_TRUE(WriteAll(options_.path, "127.0.0.1 " + kHost));
    doc_->hostsOk = false;
    EXPECT_TRUE(Check(true));
    EXPECT_TRUE(doc_->hostsOk);
    EXPECT_EQ(ReadAll(options_.path), "127.0.0.1 " + kHost);
    EXPECT_EQ(dnsChecks_, 0);
}

TEST_F(HostsWindowsTest, TheRewriteKeepsTheFilesAttributes) {
    ASSERT_TRUE(WriteAll(options_.path, "127.0.0.1 " + kHost + "\r\n"));
    ASSERT_TRUE(SetFileAttributesW(options_.path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(Check(true));
    EXPECT_EQ(ReadAll(options_.path), "\r\n");
    EXPECT_EQ(GetFileAttributesW(options_.path.c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(HostsWindowsTest, AMillionBlankLinesAndOneBadLine) {
    std::string file;
    file.reserve(2000100);
    for (int i = 0; i < 1000000; ++i) {
        file += "\r\n";
    }
    file += "127.0.0.1 " + kHost + "\r\n";
    ASSERT_TRUE(WriteAll(options_.path, file));
    EXPECT_FALSE(Check(false));
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(ReadAll(options_.path), "\r\n") << "the blank lines went with the bad line";
    EXPECT_TRUE(Check(false));
}

// The one test on the system's hosts file: its bytes are put back after.
TEST(HostsSystemFile, TheDefaultPathIsTheSystemsHostsFile) {
    const std::wstring path = ExpandPath(L"%windir%\\system32\\drivers\\etc\\hosts");
    ASSERT_FALSE(path.empty());
    const std::optional<std::string> saved = ReadAll(path);
    if (!saved) {
        GTEST_SKIP() << "this prefix has no hosts file";
    }
    struct Restore {
        const std::wstring& path;
        const std::string& bytes;
        ~Restore() { WriteAll(path, bytes); }
    } restore{path, *saved};

    test::FakeEnvironment env;
    CheckItems doc(env);
    ConfigGroup hosts;
    hosts.type = "host";
    hosts.entries.push_back(ConfigEntry{"wayfarer-test.lunmarbank.example", "", "", "", ""});
    doc.groups.push_back(hosts);
    ASSERT_TRUE(WriteAll(path, *saved + "\r\n127.0.0.1 wayfarer-test.lunmarbank.example\r\n"));
    EXPECT_FALSE(CheckHostsFile(doc, false));
    EXPECT_TRUE(CheckHostsFile(doc, true));
    EXPECT_TRUE(CheckHostsFile(doc, false));
    const std::optional<std::string> repaired = ReadAll(path);
    ASSERT_TRUE(repaired);
    EXPECT_EQ(repaired->find("wayfarer-test"), std::string::npos);
}

}  // namespace
}  // namespace wayfarer
