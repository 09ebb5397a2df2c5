#include "components/detection.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace wayfarer {
namespace {

constexpr uint32_t Half(uint32_t high, uint32_t low) { return (high << 16) | low; }

struct VersionCase {
    const char* required;
    uint32_t fileMs;
    uint32_t fileLs;
    bool meets;
};

TEST(FileVersionMeets, ComparesEachHalfOnItsOwn) {
    const VersionCase cases[] = {
        {"1.0.0.2", Half(1, 0), Half(0, 2), true},
        {"1.0.0.5", Half(1, 1), Half(0, 0), false},  // newer high half, lower low half
        {"1.0.0.2", Half(2, 0), Half(0, 0), false},
        {"2", Half(2, 0), Half(0, 0), true},
        {"2.1", Half(2, 0), Half(9, 9), false},
        {"", Half(0, 0), Half(0, 0), true},
        {"beta", Half(0, 0), Half(0, 0), true},  // no digits reads as 0
        {" 3x.-1.0.0", Half(3, 0), Half(0, 0), false},  // atoi pieces; -1 is 0xFFFF
        {"3.65535.0.0", Half(3, 0xFFFF), Half(0, 0), true},
        {"3.65536.0.0", Half(3, 0), Half(0, 0), true},  // only the low 16 bits count
        {"1.2.3.4.5", Half(1, 2), Half(3, 4), true},    // a fifth piece is ignored
        {"1..3", Half(1, 0), Half(3, 0), true},
        {"99999999999.0.0.0", Half(0xFFFF, 0), Half(0, 0), true},  // clamped like a 32-bit int
        {"1.0.0.1", 0xFFFFFFFFu, 0xFFFFFFFFu, true},
    };
    for (const VersionCase& c : cases) {
        EXPECT_EQ(FileVersionMeets(c.required, c.fileMs, c.fileLs), c.meets)
            << "required \"" << c.required << "\" against " << std::hex << c.fileMs << "." << c.fileLs;
    }
}


using Ids = std::vector<uint32_t>;

struct UsbIdCase {
    std::string text;
    Ids ids;
};

TEST(ParseUsbKeyIds, ReadsEachPieceAsStrtolWithBaseZero) {
    const UsbIdCase cases[] = {
        {"", {}},
        {",,,", {}},
        {"abc,0,0x096e0201", {0x096e0201}},
        {"0x096E0201,0X096e0202", {0x096e0201, 0x096e0202}},
        {" \t\n\v\f\r0x10", {0x10}},        // leading white space
        {"0x10 trailing,12abc,1e5", {0x10, 12, 1}},  // reading stops at the first misfit
        {"010,08,09,0", {8}},               // leading 0 is octal: 8 and 9 end it at 0
        {"0x,0xg,0X ,0x 1", {}},            // "0x" without a hex digit reads the 0 alone
        {"+5,- 5,+-5", {5}},                // a sign, then digits at once
        {"1,1,5,", {1, 1, 5}},              // repeats kept, order kept
        {"2147483647,2147483648", {0x7FFFFFFF, 0x7FFFFFFF}},
        {"0xFFFFFFFF,0x1234567890,99999999999999999999999", {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF}},
        // Negative numbers: strtol's long as an identifier.
        {"-1,-0x10,-0", {0xFFFFFFFF, 0xFFFFFFF0}},
        {"-2147483648,-2147483649,-0xFFFFFFFFFFFF", {0x80000000, 0x80000000, 0x80000000}},
        {std::string("7\0" "8,9", 5), {7, 9}},  // a zero byte ends the piece as it ends strtol's
    };
    for (const UsbIdCase& c : cases) {
        EXPECT_EQ(ParseUsbKeyIds(c.text), c.ids) << "text \"" << c.text << "\"";
    }
}

// Every short piece over an alphabet of the characters that matter, against
// the C library: strtoll saturated to 32 bits is strtol with a 32-bit long.
TEST(ParseUsbKeyIds, AgreesWithTheCLibraryOnShortPieces) {
    const std::string alphabet = " \t+-0178afgxXF";
    std::vector<std::string> pieces = {""};
    for (size_t length = 1; length <= 4; ++length) {
        std::vector<std::string> longer;
        for (const std::string& piece : pieces) {
            if (piece.size() + 1 == length) {
                for (const char c : alphabet) {
                    longer.push_back(piece + c);
                }
            }
        }
        pieces.insert(pieces.end(), longer.begin(), longer.end());
    }
    pieces.push_back("0x7fffffff");
    pieces.push_back("0x80000000");
    pieces.push_back("-0x80000000");
    pieces.push_back("-0x80000001");
    pieces.push_back("017777777777");
    pieces.push_back("020000000000");
    for (const std::string& piece : pieces) {
        long long value = std::strtoll(piece.c_str(), nullptr, 0);
        value = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value;
        const Ids expected = value == 0 ? Ids{} : Ids{static_cast<uint32_t>(static_cast<int32_t>(value))};
        ASSERT_EQ(ParseUsbKeyIds(piece), expected) << "piece \"" << piece << "\"";
    }
}

// Answers from fixed sets and records every question in order.
class FakeProbe final : public DetectionProbe {
public:
    std::set<std::string> disabled = {"{DISABLED-REGISTERED}", "{DISABLED-MISSING}"};
    std::set<std::string> registered = {"{REGISTERED}", "{DISABLED-REGISTERED}"};
    std::set<std::string> registryPaths = {"HKCU,Software\\Present,"};
    std::set<std::string> fileRules = {"%windir%\\present.dll"};
    std::set<std::string> goodFiles = {"good.dll", "good2.dll"};
    std::set<uint32_t> plugged = {0x096e0201};
    std::vector<std::string> calls;

    bool AddonDisabled(const std::string& clsid) override {
        calls.push_back("disabled " + clsid);
        return disabled.count(clsid) != 0;
    }
    bool ClassRegistered(const std::string& clsid) override {
        calls.push_back("clsid " + clsid);
        return registered.count(clsid) != 0;
    }
    bool RegistryPathExists(const std::string& text) override {
        calls.push_back("reg " + text);
        return registryPaths.count(text) != 0;
    }
    bool FileRuleExists(const std::string& text) override {
        calls.push_back("file " + text);
        return fileRules.count(text) != 0;
    }
    bool FileEntryOk(const FileRef& file) override {
        calls.push_back("entry " + file.local);
        return goodFiles.count(file.local) != 0;
    }
    bool UsbDevicePresent(const std::vector<uint32_t>& ids) override {
        std::string call = "usb";
        bool present = false;
        for (const uint32_t id : ids) {
            char hex[16];
            std::snprintf(hex, sizeof(hex), " %08x", static_cast<unsigned>(id));
            call += hex;
            present = present || plugged.count(id) != 0;
        }
        calls.push_back(call);
        return present;
    }
};

struct FileSpec {
    const char* local;
    const char* remote;
};

struct DetectCase {
    const char* name;
    std::vector<DetectRule> rules;  // {text, type}
    std::vector<FileSpec> files;
    bool installer;
    uint32_t state;
    std::vector<std::string> calls;
};

ComponentItem MakeItem(const DetectCase& c) {
    ComponentItem item;
    item.detects = c.rules;
    for (const FileSpec& spec : c.files) {
        FileRef file;
        file.local = spec.local;
        file.remote = spec.remote;
        item.files.push_back(file);
    }
    if (c.installer) {
        item.installers.emplace_back();
    }
    // Every run starts from 0: leftovers of an earlier run must not survive.
    item.state = 0xFFFFFFFF;
    return item;
}

constexpr uint32_t kDisabled = component_state::kDisabled;
constexpr uint32_t kKeyAbsent = component_state::kKeyAbsent;

TEST(DetectComponents, RulesInOrderUntilTheFirstFailure) {
    const DetectCase cases[] = {
        {"nothing to detect", {}, {}, false, 0, {}},
        {"nothing to detect, but installable", {}, {}, true, 0, {}},
        {"all rules pass",
         {{"{REGISTERED}", "clsid"}, {"HKCU,Software\\Present,", "reg"}, {"%windir%\\present.dll", "file"},
          {"svc", "service"}, {"0x096e0201", "usbkey"}},
         {{"good.dll", ""}},
         false,
         0,
         {"disabled {REGISTERED}", "clsid {REGISTERED}", "reg HKCU,Software\\Present,",
          "file %windir%\\present.dll", "usb 096e0201", "entry good.dll"}},
        {"later rules do not run after a missing control",
         {{"{MISSING}", "clsid"}, {"0x12345678", "usbkey"}, {"HKCU,Software\\Present,", "reg"}},
         {{"good.dll", ""}},
         false,
         4,
         {"disabled {MISSING}", "clsid {MISSING}"}},
        {"a usbkey rule before the failing rule runs",
         {{"0x12345678", "usbkey"}, {"C:\\absent", "file"}, {"0x096e0201", "usbkey"}},
         {},
         false,
         kKeyAbsent | 4,
         {"usb 12345678", "file C:\\absent"}},
        {"a missing registry path",
         {{"HKCU,Software\\Absent,", "reg"}, {"{REGISTERED}", "clsid"}},
         {},
         true,
         5,
         {"reg HKCU,Software\\Absent,"}},
        {"disabled and unregistered",
         {{"{DISABLED-MISSING}", "clsid"}},
         {},
         false,
         kDisabled | 4,
         {"disabled {DISABLED-MISSING}", "clsid {DISABLED-MISSING}"}},
        {"disabled and unregistered, installable",
         {{"{DISABLED-MISSING}", "clsid"}},
         {},
         true,
         kDisabled | 5,
         {"disabled {DISABLED-MISSING}", "clsid {DISABLED-MISSING}"}},
        {"disabled but registered",
         {{"{DISABLED-REGISTERED}", "clsid"}, {"{REGISTERED}", "clsid"}},
         {},
         true,
         kDisabled | 0,
         {"disabled {DISABLED-REGISTERED}", "clsid {DISABLED-REGISTERED}", "disabled {REGISTERED}",
          "clsid {REGISTERED}"}},
        {"the later usbkey rule sets the bit",
         {{"0x096e0201", "usbkey"}, {"0x12345678", "usbkey"}},
         {},
         false,
         kKeyAbsent,
         {"usb 096e0201", "usb 12345678"}},
        {"the later usbkey rule clears the bit",
         {{"0x12345678", "usbkey"}, {"0x096e0201", "usbkey"}},
         {},
         false,
         0,
         {"usb 12345678", "usb 096e0201"}},
        {"junk and zero pieces are dropped",
         {{"abc,0,0x096e0201", "usbkey"}},
         {},
         false,
         0,
         {"usb 096e0201"}},
        {"an empty list never matches and walks nothing",
         {{"", "usbkey"}, {"abc,0", "usbkey"}},
         {},
         false,
         kKeyAbsent,
         {}},
        {"type names are case-sensitive and whole",
         {{"{MISSING}", "CLSID"}, {"HKCU,Software\\Absent,", "Reg"}, {"C:\\absent", "file "},
          {"0x12345678", "USBKEY"}, {"C:\\absent", ""}, {"x", "service"}},
         {},
         false,
         0,
         {}},
        {"file entries stop at the first failure",
         {},
         {{"good.dll", ""}, {"stale.dll", ""}, {"good2.dll", ""}, {"missing.dll", ""}},
         false,
         1,
         {"entry good.dll", "entry stale.dll"}},
        {"an installer makes an outdated item upgradable",
         {},
         {{"stale.dll", ""}},
         true,
         2,
         {"entry stale.dll"}},
        {"a remote on an entry that passed makes it upgradable",
         {},
         {{"good.dll", "https://bank.example/good.dll"}, {"stale.dll", ""}},
         false,
         2,
         {"entry good.dll", "entry stale.dll"}},
        {"a failed rule leaves the file entries unexamined",
         {{"C:\\absent", "file"}},
         {{"stale.dll", ""}, {"good.dll", ""}},
         false,
         4,
         {"file C:\\absent"}},
        {"one remote among empty ones makes a missing item installable",
         {{"C:\\absent", "file"}},
         {{"stale.dll", ""}, {"good.dll", "https://bank.example/good.dll"}, {"other.dll", ""}},
         false,
         5,
         {"file C:\\absent"}},
        {"flags and code together",
         {{"{DISABLED-REGISTERED}", "clsid"}, {"0x12345678", "usbkey"}},
         {{"stale.dll", "https://bank.example/stale.dll"}},
         false,
         kDisabled | kKeyAbsent | 2,
         {"disabled {DISABLED-REGISTERED}", "clsid {DISABLED-REGISTERED}", "usb 12345678",
          "entry stale.dll"}},
    };
    for (const DetectCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProbe probe;
        std::vector<ComponentItem> list = {MakeItem(c)};
        DetectComponents(list, probe);
        EXPECT_EQ(list[0].state, c.state) << std::hex << list[0].state;
        EXPECT_EQ(probe.calls, c.calls);
    }
}

// Each item is judged on its own, in list order, and a second run follows
// the machine rather than the first run's answer.
TEST(DetectComponents, EachItemAndEachRunStartsAfresh) {
    FakeProbe probe;
    ComponentItem flagged;
    flagged.detects = {{"{DISABLED-MISSING}", "clsid"}};
    ComponentItem keyed;
    keyed.detects = {{"0x12345678", "usbkey"}};
    ComponentItem plain;
    std::vector<ComponentItem> list = {flagged, keyed, plain};

    DetectComponents(list, probe);
    EXPECT_EQ(list[0].state, kDisabled | 4);
    EXPECT_EQ(list[1].state, kKeyAbsent);
    EXPECT_EQ(list[2].state, 0u);
    EXPECT_EQ(probe.calls,
              (std::vector<std::string>{"disabled {DISABLED-MISSING}", "clsid {DISABLED-MISSING}", "usb 12345678"}));

    // The control is re-enabled and installed, the key plugged in.
    probe.disabled.clear();
    probe.registered.insert("{DISABLED-MISSING}");
    probe.plugged.insert(0x12345678);
    DetectComponents(list, probe);
    EXPECT_EQ(list[0].state, 0u);
    EXPECT_EQ(list[1].state, 0u);
    EXPECT_EQ(list[2].state, 0u);
}

}  // namespace
}  // namespace wayfarer
