#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/usbkey/recording_page.h"
#include "usbkey/usb_key_windows.h"

namespace wayfarer {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\'));
}

// A fixture library as built, in the build's fixture folder.
std::wstring FixturePath(const std::wstring& name) {
    std::wstring folder = Utf8ToWide(WAYFARER_USBKEY_FIXTURES);
    for (wchar_t& c : folder) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return folder + L"\\" + name;
}

void WriteFile(const std::wstring& path, const std::string& text) {
    std::ofstream file(WideToUtf8(path).c_str(), std::ios::binary | std::ios::trunc);
    file << text;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::ifstream file(WideToUtf8(path).c_str(), std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line);
    }
    return lines;
}

// A library stays loaded once the step has loaded it; the tests let go of it
// so that its file can be removed and the next test starts afresh.
void Unload(const std::wstring& path) {
    for (int i = 0; i < 64; ++i) {
        const HMODULE module = GetModuleHandleW(path.c_str());
        if (module == nullptr || !FreeLibrary(module)) {
            break;
        }
    }
}

// The script and log of a library, and the library too when it is a copy.
void Remove(const std::wstring& library, bool copy = true) {
    Unload(library);
    if (copy) {
        DeleteFileW(library.c_str());
    }
    DeleteFileW((library + L".script").c_str());
    DeleteFileW((library + L".log").c_str());
}

const wchar_t* const kLibraries[] = {L"BHDLL.dll", L"TC_RZ_LR.dll", L"Ftbank_ePass2000Auto.dll",
                                     L"Ftbank_InterPass3000.dll"};

// Fixture libraries copied next to this test program, where the step looks
// for the makers' libraries; removed again after each test.
class UsbKeyWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : kLibraries) {
            Remove(Beside(name));
        }
    }
    void TearDown() override {
        for (const wchar_t* name : kLibraries) {
            Remove(Beside(name));
        }
        Remove(FixturePath(L"Ftbank_ePass2000Auto_nokeycount.dll"), false);
    }

    static std::wstring Beside(const std::wstring& name) { return ExecutableFolder() + L"\\" + name; }

    static void Install(const std::wstring& name, const std::string& script) {
        ASSERT_TRUE(CopyFileW(FixturePath(name).c_str(), Beside(name).c_str(), FALSE))
            << WideToUtf8(FixturePath(name)) << ": " << GetLastError();
        WriteFile(Beside(name) + L".script", script);
    }
};

TEST_F(UsbKeyWindowsTest, LibrariesAreNamedBesideTheExecutable) {
    EXPECT_EQ(PathBesideExecutable("..\\BHDLL.dll"), ExecutableFolder() + L"\\BHDLL.dll");
    EXPECT_EQ(LoadTokenLibrary(Beside(L"BHDLL.dll")), nullptr) << "none there yet";
    EXPECT_EQ(LoadTokenLibrary(L""), nullptr);
}

TEST_F(UsbKeyWindowsTest, WithoutLibrariesEveryKeyIsUnregistered) {
    std::vector<ComponentItem> items(4);
    items[0].className = "CHuahongUSBKey";
    items[1].className = "CTianchengUSBKey";
    items[2].className = "CFeitianUSBKey";
    items[3].className = "CFeitian2USBKey";
    for (ComponentItem& item : items) {
        item.state = 4;  // missing, nothing to install
    }
    RecordingPage page;
    ReadUsbKeys(items, page);
    ASSERT_EQ(page.calls.size(), 32u);
    EXPECT_EQ(page.calls.front(), "clear 800 2");
    EXPECT_EQ(page.calls[23], "clear 803 7");
    EXPECT_THAT(page.Reports(), ElementsAre("800 6 = 0", "800 7 = 1", "801 6 = 0", "801 7 = 1", "802 6 = 0",
                                            "802 7 = 1", "803 6 = 0", "803 7 = 1"));
}

// One maker's library beside the executable, scripted; what the page gets
// and which exports were called, in order.
struct MakerCase {
    const char* label;
    const wchar_t* library;
    const char* className;
    std::string script;
    std::vector<std::string> reports;
    std::vector<std::string> calls;
};

void PrintTo(const MakerCase& c, std::ostream* os) { *os << c.label; }

class MakerLibraries : public UsbKeyWindowsTest, public ::testing::WithParamInterface<MakerCase> {};

TEST_P(MakerLibraries, AreReadAndReported) {
    const MakerCase& c = GetParam();
    Install(c.library, c.script);
    std::vector<ComponentItem> items(1);
    items[0].className = c.className;
    items[0].state = 0;
    RecordingPage page;
    ReadUsbKeys(items, page);
    EXPECT_EQ(page.Reports(), c.reports);
    EXPECT_EQ(ReadLines(Beside(c.library) + L".log"), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MakerLibraries,
    ::testing::Values(
        MakerCase{"huahong_two_keys_one_incomplete_one_locked",
                  L"BHDLL.dll",
                  "CHuahongUSBKey",
                  "GetSoftwareVersion bytes 5.2.0.1\n"
                  "GetKeyCount value 2\n"
                  "GetKeySN bytes HH001%00HH002%00\n"
                  "GetCertCN:HH001 bytes Zhang San%00Li Si%00\n"
                  "GetCertCN:HH002 result 0\n"
                  "GetWebURL bytes https://ebank.example/\n"
                  "GetPINRetry:HH001 value 6\n"
                  "GetPINRetry:HH002 value 0\n"
                  "GetKeyFile:HH001 value 1\n"
                  "GetKeyFile:HH002 value 0\n"
                  "GetKeyDefaultPIN:HH001 value 1\n",
                  {"800 2 = 'HH001'", "800 3 = 1", "800 4 = 1", "800 5 = 1", "800 6 = 2", "800 7 = 0",
                   "800 8 = '5.2.0.1'"},
                  {"CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN HH001",
                   "GetCertCN HH002", "GetWebURL HH001", "GetWebURL HH002", "GetPINRetry HH001",
                   "GetPINRetry HH002", "GetKeyFile HH001", "GetKeyFile HH002", "GetKeyDefaultPIN HH001",
                   "GetKeyDefaultPIN HH002"}},
        MakerCase{"tiancheng_one_key_without_certificates",
                  L"TC_RZ_LR.dll",
                  "CTianchengUSBKey",
                  "GetSoftwareVersion bytes TC 1.0\n"
                  "GetKeyCount value 1\n"
                  "GetKeySN bytes \u5929\u8BDA01%00\n"
                  "GetCertCN result 0\n"
                  "GetPINRetry value 3\n",
                  {"801 2 = '\u5929\u8BDA01'", "801 3 = 0", "801 4 = 0", "801 6 = 0",
                   "801 7 = 1", "801 8 = 'TC 1.0'"},
                  {"CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN",
                   "GetCertCN \u5929\u8BDA01", "GetPINRetry \u5929\u8BDA01"}},
        // One-byte results: only the low byte counts, whatever the rest of
        // the register holds.
        MakerCase{"feitian_backslash_and_one_byte_results",
                  L"Ftbank_ePass2000Auto.dll",
                  "CFeitianUSBKey",
                  "load result 0\n"
                  "GetSoftwareVersion bytes 3.0.8\n"
                  "GetKeyCount result 0xFF01\n"
                  "GetKeyCount value 2\n"
                  "GetKeySN bytes FT01\\FT02%00FT03%00\n"
                  "GetCertCN:FT01 value 3\n"
                  "GetCertCN:FT02 value 1\n"
                  "ChangePin result 0x100\n"
                  "ChangePin:FT02 result 0x301\n"
                  "GetPINRetry value 5\n",
                  {"802 2 = 'FT01'", "802 3 = 0", "802 4 = 0", "802 5 = 1", "802 6 = 3", "802 7 = 0",
                   "802 8 = '3.0.8'"},
                  {"load", "CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN FT01",
                   "GetCertCN FT02", "ChangePin FT01", "ChangePin FT02", "GetWebURL FT01", "GetWebURL FT02",
                   "GetPINRetry FT01", "GetPINRetry FT02"}},
        MakerCase{"feitian2_key_count_false_in_its_low_byte",
                  L"Ftbank_InterPass3000.dll",
                  "CFeitian2USBKey",
                  "GetSoftwareVersion bytes 2.1\n"
                  "GetKeyCount result 0x100\n"
                  "GetKeyCount value 1\n"
                  "GetKeySN bytes IP01%00\n",
                  {"803 6 = 0", "803 7 = 1", "803 8 = '2.1'"},
                  {"load", "CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount"}},
        MakerCase{"feitian2_one_key",
                  L"Ftbank_InterPass3000.dll",
                  "CFeitian2USBKey",
                  "GetKeyCount value 1\n"
                  "GetKeySN bytes IP01\\rest%00\n"
                  "GetCertCN value 0\n"
                  "ChangePin result 0\n"
                  "GetPINRetry value 0\n",
                  {"803 2 = 'IP01'", "803 3 = 0", "803 4 = 1", "803 5 = 0", "803 6 = 0", "803 7 = 1"},
                  {"load", "CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN IP01",
                   "ChangePin IP01", "GetPINRetry IP01"}}),
    [](const ::testing::TestParamInfo<MakerCase>& info) { return std::string(info.param.label); });

TEST_F(UsbKeyWindowsTest, KeyAbsentItemGetsOnlyItsDriverVersion) {
    Install(L"BHDLL.dll", "GetSoftwareVersion bytes 5.2.0.1\nGetKeyCount value 1\nGetKeySN bytes HH001%00\n");
    std::vector<ComponentItem> items(2);
    items[0].className = "CHuahongUSBKey";
    items[0].state = 0x80000000;
    items[1].className = "CHuahongUSBKey";
    items[1].state = 5;  // installable: not read at all
    RecordingPage page;
    ReadUsbKeys(items, page);
    EXPECT_THAT(page.Reports(), ElementsAre("800 8 = '5.2.0.1'"));
    EXPECT_EQ(ReadLines(Beside(L"BHDLL.dll") + L".log").size(), 9u) << "one item read, every export called";
}

TEST_F(UsbKeyWindowsTest, MissingExportIsSkipped) {
    const std::wstring library = FixturePath(L"Ftbank_ePass2000Auto_nokeycount.dll");
    WriteFile(library + L".script", "GetSoftwareVersion bytes 9.9\nGetKeySN bytes X%00\n");
    CFeitianUSBKey key(LoadTokenLibrary(library));
    ASSERT_NE(key.module, nullptr);
    key.ReadKeys();
    EXPECT_EQ(key.driverVersion, "9.9");
    EXPECT_THAT(key.serials, IsEmpty());
    EXPECT_THAT(ReadLines(library + L".log"), ElementsAre("load", "CheckKeyEnv", "GetSoftwareVersion"));
}

}  // namespace
}  // namespace wayfarer
