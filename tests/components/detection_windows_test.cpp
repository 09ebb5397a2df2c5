#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "components/detection.h"
#include "components/detection_windows.h"

namespace wayfarer {
namespace {

const char kMd5Abc[] = "900150983cd24fb0d6963f7d28e17f72";

// The fixture library's path with the separators Windows writes.
std::wstring VersionedFixture() {
    std::wstring path = Utf8ToWide(WAYFARER_VERSIONED_FIXTURE);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The bytes of `text`, with or without its terminating zero, for a registry
// value's size.
DWORD TextBytes(const std::wstring& text, bool withZero = true) {
    const size_t bytes = (text.size() + (withZero ? 1 : 0)) * sizeof(wchar_t);
    return static_cast<DWORD>(bytes);
}

// Every test gets a folder, a registry subtree and clsids of its own, named
// after the test and the process, so that runs side by side never meet; the
// fixture removes all of them afterwards.
class DetectionWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::wstring name = Utf8ToWide(info->name());
        const DWORD pid = ::GetCurrentProcessId();

        wchar_t temp[MAX_PATH];
        const DWORD length = ::GetTempPathW(MAX_PATH, temp);
        ASSERT_GT(length, 0u);
        ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
        dir_ = std::wstring(temp) + L"WayfarerDetection-" + name + L"-" + std::to_wstring(pid);

        base_ = L"Software\\WayfarerTest\\" + name + L"-" + std::to_wstring(pid);
        settings_ = base_ + L"\\Settings";
        uint32_t hash = pid;
        for (const wchar_t c : name) {
            hash = hash * 31 + static_cast<uint32_t>(c);
        }
        for (int i = 0; i < 3; ++i) {
            char clsid[64];
            std::snprintf(clsid, sizeof(clsid), "{7A0F3C52-4B1D-4E8A-9D2C-%04X%08X}", i,
                          static_cast<unsigned>(hash));
            clsids_.emplace_back(clsid);
        }
        Cleanup();
        // Standard keys the tests may bring into being are removed again
        // when they were not there before (and nothing else uses them).
        for (const wchar_t* parent : {L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext", kAddonSettingsKey,
                                      L"Software\\Classes\\CLSID"}) {
            if (!KeyExists(parent)) {
                absentParents_.insert(absentParents_.begin(), parent);
            }
        }
        ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);

        // Windows shows the user's classes in HKEY_CLASSES_ROOT; Wine 8 shows
        // only the machine's, so there the test registers its classes there.
        MakeKey(ClassKey(clsids_[0]));
        unique_hkey merged;
        const std::wstring viewed = L"CLSID\\" + Utf8ToWide(clsids_[0]);
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, viewed.c_str(), 0, KEY_READ, merged.put()) != ERROR_SUCCESS) {
            classesRoot_ = HKEY_LOCAL_MACHINE;
        }
        merged.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, ClassKey(clsids_[0]).c_str());
    }
    void TearDown() override {
        Cleanup();
        for (const std::wstring& parent : absentParents_) {
            ::RegDeleteKeyW(HKEY_CURRENT_USER, parent.c_str());  // only when empty
        }
    }

    void Cleanup() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        for (const std::string& clsid : clsids_) {
            ::RegDeleteTreeW(HKEY_CURRENT_USER, ClassKey(clsid).c_str());
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKey(clsid).c_str());
            ::RegDeleteTreeW(HKEY_CURRENT_USER,
                             (std::wstring(kAddonSettingsKey) + L"\\" + Utf8ToWide(clsid)).c_str());
        }
        for (const std::wstring& file : files_) {
            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(file.c_str());
        }
        files_.clear();
        ::RemoveDirectoryW(dir_.c_str());
    }

    static std::wstring ClassKey(const std::string& clsid) {
        return L"Software\\Classes\\CLSID\\" + Utf8ToWide(clsid);
    }

    // A file of the test's folder holding `bytes`; its full path.
    std::wstring WriteTestFile(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = dir_ + L"\\" + name;
        const unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file) << "cannot create " << WideToUtf8(path);
        files_.push_back(path);
        DWORD written = 0;
        EXPECT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        EXPECT_EQ(written, bytes.size());
        return path;
    }
    std::wstring CopyFixture(const std::wstring& name) {
        const std::wstring path = dir_ + L"\\" + name;
        EXPECT_TRUE(::CopyFileW(VersionedFixture().c_str(), path.c_str(), FALSE));
        files_.push_back(path);
        return path;
    }

    static void SetValue(const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD size,
                         HKEY root = HKEY_CURRENT_USER) {
        unique_hkey handle;
        ASSERT_EQ(::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    handle.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    static void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text,
                        DWORD type = REG_SZ, HKEY root = HKEY_CURRENT_USER) {
        SetValue(key, name, type, text.c_str(), TextBytes(text), root);
    }
    static void SetDword(const std::wstring& key, const wchar_t* name, DWORD value,
                         HKEY root = HKEY_CURRENT_USER) {
        SetValue(key, name, REG_DWORD, &value, sizeof(value), root);
    }
    static void MakeKey(const std::wstring& key, HKEY root = HKEY_CURRENT_USER) {
        unique_hkey handle;
        ASSERT_EQ(::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    handle.put(), nullptr),
                  ERROR_SUCCESS);
    }
    static bool KeyExists(const std::wstring& key) {
        unique_hkey handle;
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
    }

    // Registers `clsid`'s in-process server as `server`.
    void Register(const std::string& clsid, const std::wstring& server, DWORD type = REG_SZ) {
        SetText(ClassKey(clsid) + L"\\InprocServer32", nullptr, server, type, classesRoot_);
    }

    std::wstring dir_;
    std::wstring base_;
    std::wstring settings_;
    std::vector<std::string> clsids_;
    std::vector<std::wstring> files_;
    HKEY classesRoot_ = HKEY_CURRENT_USER;
    std::vector<std::wstring> absentParents_;  // deepest first
};

// ---- FileMd5Hex ------------------------------------------------------------

TEST_F(DetectionWindowsTest, Md5OfKnownContents) {
    struct Case {
        const wchar_t* name;
        std::string bytes;
        const char* md5;
    };
    std::string large;
    for (int i = 0; i < 20000; ++i) {
        large += "0123456789";  // more than one read block
    }
    const Case cases[] = {
        {L"empty.bin", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {L"abc.bin", "abc", kMd5Abc},
        {L"fox.bin", "The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {L"large.bin", large, "bcc4bfca43786497d970f7d3e2fdd455"},
    };
    for (const Case& c : cases) {
        const std::wstring path = WriteTestFile(c.name, c.bytes);
        EXPECT_EQ(FileMd5Hex(path), c.md5) << WideToUtf8(c.name);
    }
}

TEST_F(DetectionWindowsTest, Md5OfWhatCannotBeReadIsEmpty) {
    EXPECT_EQ(FileMd5Hex(dir_ + L"\\missing.bin"), "");
    EXPECT_EQ(FileMd5Hex(dir_), "");  // a folder
    EXPECT_EQ(FileMd5Hex(L""), "");
}

TEST_F(DetectionWindowsTest, Md5OfAFileOpenElsewhere) {
    const std::wstring path = WriteTestFile(L"busy.bin", "abc");
    {
        // Another program writing it, letting others read.
        const unique_hfile writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(FileMd5Hex(path), kMd5Abc);
    }
    {
        // Held exclusively: it cannot be read, so there is no digest.
        const unique_hfile owner(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(owner);
        EXPECT_EQ(FileMd5Hex(path), "");
    }
}

// One name the ANSI code page 936 can spell, one it cannot: both are read
// through their wide names, and a document's UTF-8 path finds them.
TEST_F(DetectionWindowsTest, FilesWithNamesOutsideAscii) {
    const wchar_t* const names[] = {L"\u7ec4\u4ef6.txt", L"\u0e01\u0e02.txt"};
    for (const wchar_t* name : names) {
        const std::wstring path = dir_ + L"\\" + name;
        {
            const unique_hfile probe(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!probe) {
                GTEST_SKIP() << "Wine cannot name a file outside ASCII here (no UTF-8 locale for "
                                "its Unix file names; error "
                             << ::GetLastError() << ")";
            }
        }
        ::DeleteFileW(path.c_str());
        WriteTestFile(name, "abc");
        EXPECT_EQ(FileMd5Hex(path), kMd5Abc) << WideToUtf8(name);
        FileRef file;
        file.local = WideToUtf8(path);
        file.md5 = kMd5Abc;
        EXPECT_TRUE(CheckFileEntry(file)) << WideToUtf8(name);
    }
}

// ---- ReadFileVersion and CheckFileEntry -------------------------------------

TEST_F(DetectionWindowsTest, ReadsTheFixedVersionBlock) {
    VS_FIXEDFILEINFO info{};
    ASSERT_TRUE(ReadFileVersion(VersionedFixture(), info)) << WAYFARER_VERSIONED_FIXTURE;
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(info.dwFileVersionLS, 0x00000000u);

    EXPECT_FALSE(ReadFileVersion(WriteTestFile(L"plain.txt", "abc"), info));
    EXPECT_FALSE(ReadFileVersion(dir_ + L"\\missing.dll", info));
}

TEST_F(DetectionWindowsTest, FileEntryTable) {
    const std::string versioned = WideToUtf8(CopyFixture(L"control.dll"));
    const std::string plain = WideToUtf8(WriteTestFile(L"plain.txt", "abc"));
    const std::string missing = WideToUtf8(dir_ + L"\\missing.dll");
    const std::string upper = "900150983CD24FB0D6963F7D28E17F72";

    struct Case {
        std::string local;
        const char* version;
        std::string md5;
        bool ok;
    };
    const Case cases[] = {
        {missing, "", "", false},
        {"", "", "", false},
        {versioned, "", "", true},
        {versioned, "1.1.0.0", "", true},
        {versioned, "1", "", true},
        {versioned, "1.0.0.5", "", false},  // the low half 0.0 is below 0.5
        {versioned, "1.2", "", false},      // the high half is below 1.2
        {versioned, "1.1.0.1", "", false},
        {versioned, "beta", "", true},      // no digits: any version block meets it
        {plain, "", "", true},
        {plain, "beta", "", false},         // a version is required and there is no block
        {plain, "", kMd5Abc, true},
        {plain, "", upper, false},          // upper case never matches
        {plain, "", "d41d8cd98f00b204e9800998ecf8427e", false},
        {plain, "1", kMd5Abc, false},
        {missing, "", kMd5Abc, false},
        // A zero inside the path must not make it name the file before it.
        {plain + std::string("\0.bak", 5), "", "", false},
    };
    for (const Case& c : cases) {
        FileRef file;
        file.local = c.local;
        file.version = c.version;
        file.md5 = c.md5;
        EXPECT_EQ(CheckFileEntry(file), c.ok)
            << "local \"" << c.local << "\" version \"" << c.version << "\" md5 \"" << c.md5 << "\"";
    }
}

// ---- IsClassRegistered -----------------------------------------------------

TEST_F(DetectionWindowsTest, ClassRegisteredWhenItsServerFileExists) {
    const std::wstring server = CopyFixture(L"control.dll");
    const std::string& clsid = clsids_[0];

    EXPECT_FALSE(IsClassRegistered(clsid));  // no key

    MakeKey(ClassKey(clsid) + L"\\InprocServer32", classesRoot_);
    EXPECT_FALSE(IsClassRegistered(clsid));  // no default value

    Register(clsid, server);
    EXPECT_TRUE(IsClassRegistered(clsid));

    Register(clsid, dir_ + L"\\missing.dll");
    EXPECT_FALSE(IsClassRegistered(clsid));

    Register(clsid, dir_);  // a folder exists as far as PathFileExistsW goes
    EXPECT_TRUE(IsClassRegistered(clsid));

    Register(clsid, server, REG_EXPAND_SZ);
    EXPECT_TRUE(IsClassRegistered(clsid));

    // Not expanded: the reference is taken as written.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"WAYFARER_DETECT_DIR", dir_.c_str()));
    Register(clsid, L"%WAYFARER_DETECT_DIR%\\control.dll", REG_EXPAND_SZ);
    EXPECT_FALSE(IsClassRegistered(clsid));
    ::SetEnvironmentVariableW(L"WAYFARER_DETECT_DIR", nullptr);

    // Other value types are not a server path.
    const std::wstring key = ClassKey(clsid) + L"\\InprocServer32";
    SetValue(key, nullptr, REG_BINARY, server.c_str(), TextBytes(server), classesRoot_);
    EXPECT_FALSE(IsClassRegistered(clsid));
    SetDword(key, nullptr, 1, classesRoot_);
    EXPECT_FALSE(IsClassRegistered(clsid));

    // Stored without its terminating zero.
    SetValue(key, nullptr, REG_SZ, server.c_str(), TextBytes(server, false), classesRoot_);
    EXPECT_TRUE(IsClassRegistered(clsid));

    // Longer than a path buffer: refused, not cut.
    const std::wstring tooLong = server + L"\\" + std::wstring(300, L'a');
    Register(clsid, tooLong);
    EXPECT_FALSE(IsClassRegistered(clsid));
}

// A clsid text is one key name: one that would lead to another key is
// refused, even when that key names an existing server.
TEST_F(DetectionWindowsTest, ClassRegisteredRefusesTextsThatNameAnotherKey) {
    const std::wstring server = CopyFixture(L"control.dll");
    const std::string& clsid = clsids_[0];
    Register(clsid, server);
    Register(clsid + "\\Nested", server);  // CLSID\{..}\Nested\InprocServer32
    ASSERT_TRUE(IsClassRegistered(clsid));

    const std::string refused[] = {
        "",
        clsid + "\\Nested",
        std::string(clsid) + std::string("\0junk", 5),
        std::string(100000, 'A'),
        std::string(256, 'B'),
    };
    for (const std::string& text : refused) {
        EXPECT_FALSE(IsClassRegistered(text)) << "text of " << text.size() << " bytes: " << text.substr(0, 60);
    }
}

// ---- CheckAddonDisabled ----------------------------------------------------

TEST_F(DetectionWindowsTest, AddonDisabledOnlyByTheDwordOne) {
    const std::string& clsid = clsids_[0];
    const std::wstring key = settings_ + L"\\" + Utf8ToWide(clsid);
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
        bool disabled;
    };
    const Case cases[] = {
        {"dword 1", REG_DWORD, {1, 0, 0, 0}, true},
        {"dword 0", REG_DWORD, {0, 0, 0, 0}, false},
        {"dword 2", REG_DWORD, {2, 0, 0, 0}, false},
        {"dword 0x101", REG_DWORD, {1, 1, 0, 0}, false},
        {"binary 1", REG_BINARY, {1, 0, 0, 0}, false},
        {"string 1", REG_SZ, {'1', 0, 0, 0}, false},
        {"qword 1", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SetValue(key, L"Flags", c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_EQ(CheckAddonDisabled(clsid, false, settings_), c.disabled) << c.name;
        EXPECT_TRUE(KeyExists(key)) << c.name << ": detection never deletes";
    }

    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()), ERROR_SUCCESS);
    MakeKey(key);
    EXPECT_FALSE(CheckAddonDisabled(clsid, false, settings_));  // no Flags value
    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(CheckAddonDisabled(clsid, false, settings_));  // no key
    EXPECT_FALSE(CheckAddonDisabled(clsid, true, settings_));
}

TEST_F(DetectionWindowsTest, ReenableDeletesOnlyThatControlsKey) {
    const std::string& clsid = clsids_[0];
    const std::wstring key = settings_ + L"\\" + Utf8ToWide(clsid);
    const std::wstring sibling = settings_ + L"\\" + Utf8ToWide(clsids_[1]);
    SetDword(key, L"Flags", 1);
    SetDword(sibling, L"Flags", 1);
    SetDword(settings_, L"Flags", 1);

    EXPECT_FALSE(CheckAddonDisabled(clsid, true, settings_));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_FALSE(CheckAddonDisabled(clsid, false, settings_));
    EXPECT_TRUE(KeyExists(sibling));
    EXPECT_TRUE(CheckAddonDisabled(clsids_[1], false, settings_));
    EXPECT_TRUE(KeyExists(settings_));

    // An enabled control's key stays.
    SetDword(key, L"Flags", 0);
    EXPECT_FALSE(CheckAddonDisabled(clsid, true, settings_));
    EXPECT_TRUE(KeyExists(key));
}

// Texts that would lead to the settings key itself or to a key below some
// control's own are refused: nothing is reported, nothing deleted.
TEST_F(DetectionWindowsTest, ReenableRefusesTextsThatNameAnotherKey) {
    const std::string& clsid = clsids_[0];
    const std::wstring key = settings_ + L"\\" + Utf8ToWide(clsid);
    SetDword(settings_, L"Flags", 1);
    SetDword(key, L"Flags", 1);
    SetDword(key + L"\\Nested", L"Flags", 1);

    const std::string refused[] = {
        "",
        "\\",
        clsid + "\\Nested",
        std::string("\0", 1),
        clsid + std::string("\0", 1),
        std::string(100000, '{'),
    };
    for (const std::string& text : refused) {
        EXPECT_FALSE(CheckAddonDisabled(text, true, settings_)) << "text of " << text.size() << " bytes";
    }
    EXPECT_TRUE(KeyExists(settings_));
    EXPECT_TRUE(KeyExists(key + L"\\Nested"));
    EXPECT_TRUE(CheckAddonDisabled(clsid, false, settings_));
}

// A key with keys below it does not go: the control stays switched off and
// is reported so.
TEST_F(DetectionWindowsTest, ReenableThatCannotDeleteSaysStillDisabled) {
    const std::string& clsid = clsids_[0];
    const std::wstring key = settings_ + L"\\" + Utf8ToWide(clsid);
    SetDword(key, L"Flags", 1);
    MakeKey(key + L"\\iexplore");

    EXPECT_TRUE(CheckAddonDisabled(clsid, true, settings_));
    EXPECT_TRUE(KeyExists(key + L"\\iexplore"));
}

// The browser's own key, where detection looks by default.
TEST_F(DetectionWindowsTest, AddonSettingsOfTheBrowser) {
    const std::string& clsid = clsids_[0];
    const std::wstring key = std::wstring(kAddonSettingsKey) + L"\\" + Utf8ToWide(clsid);
    SetDword(key, L"Flags", 1);
    EXPECT_TRUE(CheckAddonDisabled(clsid, false));
    EXPECT_FALSE(CheckAddonDisabled(clsid, true));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(KeyExists(kAddonSettingsKey));
}

// ---- Detection on this machine ---------------------------------------------

TEST_F(DetectionWindowsTest, DetectsComponentsOnThisMachine) {
    using namespace component_state;
    const std::wstring server = CopyFixture(L"control.dll");
    const std::string serverUtf8 = WideToUtf8(server);
    WriteTestFile(L"plain.txt", "abc");
    ASSERT_TRUE(::SetEnvironmentVariableW(L"WAYFARER_DETECT_DIR", dir_.c_str()));
    const std::string& registered = clsids_[0];
    const std::string& disabled = clsids_[1];
    const std::string& absent = clsids_[2];
    Register(registered, server);
    Register(disabled, server);
    SetDword(std::wstring(kAddonSettingsKey) + L"\\" + Utf8ToWide(disabled), L"Flags", 1);
    SetDword(base_, L"Present", 7);
    const std::string regBase = "HKCU," + WideToUtf8(base_) + ",";

    struct Case {
        const char* name;
        std::vector<DetectRule> rules;  // {text, type}
        std::vector<FileRef> files;     // {text, local, remote, version, md5, install}
        bool installer;
        uint32_t state;
    };
    const Case cases[] = {
        {"everything present",
         {{registered, "clsid"},
          {"%windir%\\system32\\kernel32.dll", "file"},
          {"%windir%\\system32", "file"},
          {"%WAYFARER_DETECT_DIR%\\plain.txt", "file"},
          {regBase + "Present", "reg"},
          {regBase, "reg"},
          {"WinHttpAutoProxySvc", "service"},
          {"0x096e0201", "usbkey"}},
         {{"", serverUtf8, "", "1.1.0.0", "", ""}},
         false,
         kCurrent},
        {"disabled but registered", {{disabled, "clsid"}}, {}, false, kDisabled | kCurrent},
        {"unregistered control, installable", {{absent, "clsid"}}, {}, true, kInstallable},
        {"missing file rule", {{"%windir%\\system32\\wayfarer-no-such.dll", "file"}}, {}, false, kMissing},
        {"file rule beyond a path buffer",
         {{"%windir%\\" + std::string(300, 'a'), "file"}},
         {},
         false,
         kMissing},
        {"missing registry value", {{regBase + "Absent", "reg"}}, {}, false, kMissing},
        {"missing registry key", {{"HKCU," + WideToUtf8(base_) + "\\Absent,", "reg"}}, {}, false, kMissing},
        {"key not plugged in, stale file with a remote",
         {{"0x12345678", "usbkey"}},
         {{"", serverUtf8, "https://bank.example/control.dll", "1.0.0.5", "", ""}},
         false,
         kKeyAbsent | kUpgradable},
        {"digest mismatch",
         {},
         {{"", WideToUtf8(dir_ + L"\\plain.txt"), "", "", "900150983CD24FB0D6963F7D28E17F72", ""}},
         false,
         kOutdated},
    };

    std::vector<std::vector<uint32_t>> asked;
    WindowsDetectionProbe probe([&asked](const std::vector<uint32_t>& ids) {
        asked.push_back(ids);
        return std::find(ids.begin(), ids.end(), 0x096e0201u) != ids.end();
    });
    for (const Case& c : cases) {
        ComponentItem item;
        item.detects = c.rules;
        item.files = c.files;
        if (c.installer) {
            item.installers.emplace_back();
        }
        std::vector<ComponentItem> list = {item};
        DetectComponents(list, probe);
        EXPECT_EQ(list[0].state, c.state) << c.name << ": 0x" << std::hex << list[0].state;
    }
    EXPECT_EQ(asked, (std::vector<std::vector<uint32_t>>{{0x096e0201}, {0x12345678}}));
    ::SetEnvironmentVariableW(L"WAYFARER_DETECT_DIR", nullptr);

    // Without a USB question no key counts as plugged in.
    WindowsDetectionProbe noUsb(nullptr);
    std::vector<ComponentItem> list(1);
    list[0].detects = {{"0x096e0201", "usbkey"}};
    DetectComponents(list, noUsb);
    EXPECT_EQ(list[0].state, kKeyAbsent);
}

}  // namespace
}  // namespace wayfarer
