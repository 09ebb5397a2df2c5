#include "usbkey/usb_key.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/usbkey/recording_page.h"

namespace wayfarer {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What a scripted library answers for one export, or for one export and
// serial ("GetCertCN K1" before "GetCertCN").
struct Answer {
    uint32_t result = 1;
    uint32_t value = 0;
    std::string bytes;  // copied into the caller's buffer, zeros and all
};

// The script and the record of one library, shared by every load of it.
struct Script {
    std::map<std::string, Answer> answers;
    std::set<std::string> missing;
    std::vector<std::string> calls;
    // Calls whose buffer was not zeroed up to and including the spare byte,
    // or whose count did not start at 0.
    std::vector<std::string> dirty;

    const Answer& Get(const std::string& name, const std::string& serial) const {
        static const Answer kDefault;
        auto found = answers.find(name + " " + serial);
        if (found == answers.end()) {
            found = answers.find(name);
        }
        return found == answers.end() ? kDefault : found->second;
    }
};

size_t AnnouncedSize(const std::string& name) {
    return name == "GetSoftwareVersion" ? kVersionBufferSize : kListBufferSize;
}

class ScriptedLibrary final : public TokenLibrary {
public:
    explicit ScriptedLibrary(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    Call FindCall(const char* name) override {
        if (Missing(name)) {
            return {};
        }
        return [script = script_, n = std::string(name)] {
            script->calls.push_back(n);
            return script->Get(n, "").result;
        };
    }
    BufferCall FindBufferCall(const char* name) override {
        if (Missing(name)) {
            return {};
        }
        return [script = script_, n = std::string(name)](char* buffer) {
            script->calls.push_back(n);
            return Fill(*script, n, n, buffer, script->Get(n, ""));
        };
    }
    ValueCall FindValueCall(const char* name) override {
        if (Missing(name)) {
            return {};
        }
        return [script = script_, n = std::string(name)](uint32_t* value) {
            script->calls.push_back(n);
            return Give(*script, n, value, script->Get(n, ""));
        };
    }
    SerialCall FindSerialCall(const char* name) override {
        if (Missing(name)) {
            return {};
        }
        return [script = script_, n = std::string(name)](const char* serial) {
            script->calls.push_back(n + " " + serial);
            return script->Get(n, serial).result;
        };
    }
    SerialBufferCall FindSerialBufferCall(const char* name) override {
        if (Missing(name)) {
            return {};
        }
        return [script = script_, n = std::string(name)](const char* serial, char* buffer) {
            script->calls.push_back(n + " " + serial);
            return Fill(*script, n + " " + serial, n, buffer, script->Get(n, serial));
        };
    }
    SerialValueCall FindSerialValueCall(const char* name) override {
        if (Missing(name)) {
            return {};
        }
        return [script = script_, n = std::string(name)](const char* serial, uint32_t* value) {
            script->calls.push_back(n + " " + serial);
            return Give(*script, n + " " + serial, value, script->Get(n, serial));
        };
    }

private:
    bool Missing(const char* name) const { return script_->missing.count(name) != 0; }

    static uint32_t Fill(Script& script, const std::string& call, const std::string& name, char* buffer,
                         const Answer& answer) {
        const size_t size = AnnouncedSize(name) + 1;
        if (std::any_of(buffer, buffer + size, [](char c) { return c != '\0'; })) {
            script.dirty.push_back(call);
        }
        std::copy_n(answer.bytes.data(), std::min(answer.bytes.size(), size - 1), buffer);
        return answer.result;
    }
    static uint32_t Give(Script& script, const std::string& call, uint32_t* value, const Answer& answer) {
        if (*value != 0) {
            script.dirty.push_back(call);
        }
        *value = answer.value;
        return answer.result;
    }

    std::shared_ptr<Script> script_;
};

std::string Bytes(const char* text, size_t size) { return std::string(text, size); }

// A library with two keys, K1 and K2, and every export answering.
std::shared_ptr<Script> TwoKeys(bool feitian) {
    auto script = std::make_shared<Script>();
    script->answers["GetSoftwareVersion"].bytes = "3.1.4";
    script->answers["GetKeyCount"].value = 2;
    script->answers["GetKeySN"].bytes = Bytes("K1\0K2\0", 6);
    if (feitian) {
        script->answers["GetCertCN K1"].value = 2;
        script->answers["GetCertCN K2"].value = 1;
    } else {
        script->answers["GetCertCN K1"].bytes = Bytes("Alice\0Bob\0", 10);
        script->answers["GetCertCN K2"].bytes = Bytes("Carol\0", 6);
    }
    script->answers["GetWebURL K1"].bytes = "https://k1.example/";
    script->answers["GetWebURL K2"].bytes = "https://k2.example/";
    script->answers["GetPINRetry K1"].value = 6;
    script->answers["GetPINRetry K2"].value = 5;
    script->answers["GetKeyFile K1"].value = 1;
    script->answers["GetKeyFile K2"].value = 1;
    script->answers["GetKeyDefaultPIN K1"].value = 0;
    script->answers["GetKeyDefaultPIN K2"].value = 0;
    script->answers["ChangePin"].result = 0;
    return script;
}

const UsbKeyClass& Class(const char* name) {
    const UsbKeyClass* type = FindUsbKeyClass(name);
    EXPECT_NE(type, nullptr) << name;
    static const UsbKeyClass kNone{"", 0, ""};
    return type == nullptr ? kNone : *type;
}

std::unique_ptr<CUSBKey> Read(const char* className, const std::shared_ptr<Script>& script) {
    std::unique_ptr<CUSBKey> key = MakeUsbKey(Class(className), std::make_unique<ScriptedLibrary>(script));
    key->ReadKeys();
    return key;
}

std::vector<std::string> ReportOf(const CUSBKey& key, int32_t category) {
    RecordingPage page;
    ReportKeys(key, category, page);
    return page.calls;
}

// ---- the drivers ------------------------------------------------------------

struct OrderCase {
    const char* className;
    std::vector<std::string> calls;
};
void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.className; }

class DriverCallOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(DriverCallOrder, FollowsTheMakersTable) {
    const OrderCase& c = GetParam();
    const auto script = TwoKeys(std::string(c.className).find("Feitian") != std::string::npos);
    const auto key = Read(c.className, script);
    EXPECT_EQ(script->calls, c.calls);
    EXPECT_THAT(script->dirty, IsEmpty())
        << "buffers zeroed (spare byte too) and counts at 0 before each call";
    EXPECT_EQ(key->driverVersion, "3.1.4");
    EXPECT_THAT(key->serials, ElementsAre("K1", "K2"));
}

INSTANTIATE_TEST_SUITE_P(
    Makers, DriverCallOrder,
    ::testing::Values(
        OrderCase{"CHuahongUSBKey",
                  {"CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN K1",
                   "GetCertCN K2", "GetWebURL K1", "GetWebURL K2", "GetPINRetry K1", "GetPINRetry K2",
                   "GetKeyFile K1", "GetKeyFile K2", "GetKeyDefaultPIN K1", "GetKeyDefaultPIN K2"}},
        OrderCase{"CTianchengUSBKey",
                  {"CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN K1",
                   "GetCertCN K2", "GetPINRetry K1", "GetPINRetry K2"}},
        OrderCase{"CFeitianUSBKey",
                  {"load", "CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN K1",
                   "GetCertCN K2", "ChangePin K1", "ChangePin K2", "GetWebURL K1", "GetWebURL K2",
                   "GetPINRetry K1", "GetPINRetry K2"}},
        OrderCase{"CFeitian2USBKey",
                  {"load", "CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN K1",
                   "GetCertCN K2", "ChangePin K1", "ChangePin K2", "GetPINRetry K1", "GetPINRetry K2"}}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.className); });

TEST(UsbKeyDrivers, HuahongRecordsEveryList) {
    const auto script = TwoKeys(false);
    script->answers["GetKeyFile K2"].value = 0;
    script->answers["GetKeyDefaultPIN K2"].value = 1;
    const auto key = Read("CHuahongUSBKey", script);
    EXPECT_EQ(key->certNames, (std::vector<std::vector<std::string>>{{"Alice", "Bob"}, {"Carol"}}));
    EXPECT_THAT(key->webUrls, ElementsAre("https://k1.example/", "https://k2.example/"));
    EXPECT_THAT(key->pinRetries, ElementsAre(6u, 5u));
    EXPECT_THAT(key->keyComplete, ElementsAre(1u, 1u, 1u, 0u)) << "PIN counts, then the key files";
    EXPECT_THAT(key->defaultPin, ElementsAre(0u, 1u));
    // The key file says K2 is incomplete; the second key's default PIN shows.
    EXPECT_THAT(ReportOf(*key, 800), ElementsAre("800 2 = 'K1'", "800 3 = 1", "800 4 = 0", "800 5 = 1",
                                                 "800 6 = 2", "800 7 = 0"));
}

TEST(UsbKeyDrivers, FeitianReportsCountsAndChangePin) {
    for (const char* className : {"CFeitianUSBKey", "CFeitian2USBKey"}) {
        SCOPED_TRACE(className);
        const auto script = TwoKeys(true);
        script->answers["ChangePin K2"].result = 1;
        script->answers["GetPINRetry K1"].value = 0;
        const auto key = Read(className, script);
        EXPECT_EQ(key->certNames, (std::vector<std::vector<std::string>>{{"", ""}, {""}}));
        EXPECT_THAT(key->defaultPin, ElementsAre(0u, 1u));
        // K1's PIN is locked; a PIN count read makes the key count as complete.
        EXPECT_THAT(ReportOf(*key, 802), ElementsAre("802 2 = 'K1'", "802 3 = 0", "802 4 = 1", "802 5 = 1",
                                                     "802 6 = 2", "802 7 = 0"));
    }
}

TEST(UsbKeyDrivers, TianchengNeverReportsDefaultPin) {
    const auto key = Read("CTianchengUSBKey", TwoKeys(false));
    EXPECT_THAT(key->defaultPin, IsEmpty());
    EXPECT_THAT(key->webUrls, IsEmpty());
    EXPECT_THAT(ReportOf(*key, 801),
                ElementsAre("801 2 = 'K1'", "801 3 = 0", "801 4 = 0", "801 6 = 2", "801 7 = 0"));
}

// Serial lists: exactly `count` strings from the start, the Feitian classes
// cutting each at its first backslash (the rest being the next serial).
struct SerialCase {
    const char* label;
    const char* className;
    uint32_t count;
    std::string bytes;
    std::vector<std::string> serials;
};
void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.label; }

class SerialLists : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialLists, AreTakenFromTheBuffer) {
    const SerialCase& c = GetParam();
    auto script = std::make_shared<Script>();
    script->answers["GetKeyCount"].value = c.count;
    script->answers["GetKeySN"].bytes = c.bytes;
    EXPECT_EQ(Read(c.className, script)->serials, c.serials);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, SerialLists,
    ::testing::Values(
        SerialCase{"feitian_backslash", "CFeitianUSBKey", 2, Bytes("A\\B\0C\0", 6), {"A", "B"}},
        SerialCase{"feitian2_backslash", "CFeitian2USBKey", 2, Bytes("A\\B\0C\0", 6), {"A", "B"}},
        SerialCase{"feitian_two_backslashes", "CFeitianUSBKey", 3, Bytes("A\\B\\C\0", 6), {"A", "B", "C"}},
        SerialCase{"huahong_keeps_backslash", "CHuahongUSBKey", 2, Bytes("A\\B\0C\0", 6), {"A\\B", "C"}},
        SerialCase{"tiancheng_keeps_backslash", "CTianchengUSBKey", 2, Bytes("A\\B\0C\0", 6), {"A\\B", "C"}},
        SerialCase{"count_beyond_the_strings", "CHuahongUSBKey", 3, Bytes("A\0B\0", 4), {"A", "B", ""}},
        SerialCase{"count_below_the_strings", "CHuahongUSBKey", 1, Bytes("A\0B\0", 4), {"A"}},
        // A library that fills the whole buffer leaves no terminator of its
        // own; the serial still ends at the buffer's end.
        SerialCase{"full_buffer_without_terminator", "CHuahongUSBKey", 2, std::string(kListBufferSize, 'S'),
                   {std::string(kListBufferSize, 'S')}},
        SerialCase{"feitian_full_buffer_without_terminator", "CFeitianUSBKey", 1,
                   std::string(kListBufferSize, 'S'), {std::string(kListBufferSize, 'S')}}),
    [](const ::testing::TestParamInfo<SerialCase>& info) { return std::string(info.param.label); });

TEST(UsbKeyDrivers, HugeKeyCountStopsAtTheBufferEnd) {
    auto script = std::make_shared<Script>();
    script->answers["GetKeyCount"].value = 100000;
    script->answers["GetKeySN"].bytes = Bytes("A\0", 2);
    const auto key = Read("CTianchengUSBKey", script);
    ASSERT_FALSE(key->serials.empty());
    EXPECT_EQ(key->serials.front(), "A");
    EXPECT_LE(key->serials.size(), kListBufferSize);
}

TEST(UsbKeyDrivers, TextsFillingTheirBuffersAreReadWithinThem) {
    auto script = TwoKeys(false);
    script->answers["GetSoftwareVersion"].bytes = std::string(kVersionBufferSize, 'v');
    script->answers["GetCertCN K1"].bytes = std::string(kListBufferSize, 'N');
    script->answers["GetWebURL K2"].bytes = std::string(kListBufferSize, 'u');
    const auto key = Read("CHuahongUSBKey", script);
    EXPECT_EQ(key->driverVersion, std::string(kVersionBufferSize, 'v'));
    ASSERT_EQ(key->certNames.size(), 2u);
    EXPECT_THAT(key->certNames[0], ElementsAre(std::string(kListBufferSize, 'N')));
    ASSERT_EQ(key->webUrls.size(), 2u);
    EXPECT_EQ(key->webUrls[1], std::string(kListBufferSize, 'u'));
}

TEST(UsbKeyDrivers, OneKeysNamesNeverShowThroughAnothersShorterAnswer) {
    auto script = TwoKeys(false);
    script->answers["GetCertCN K1"].bytes = Bytes("Alexander\0Beatrice\0", 19);
    script->answers["GetCertCN K2"].bytes = Bytes("X\0", 2);
    script->answers["GetWebURL K1"].bytes = "https://long.example/path";
    script->answers["GetWebURL K2"].bytes = "https://s/";
    const auto key = Read("CHuahongUSBKey", script);
    EXPECT_EQ(key->certNames, (std::vector<std::vector<std::string>>{{"Alexander", "Beatrice"}, {"X"}}));
    EXPECT_THAT(key->webUrls, ElementsAre("https://long.example/path", "https://s/"));
}

TEST(UsbKeyDrivers, FailedCallsLeaveTheirListWithoutAnEntry) {
    // Huahong and Tiancheng append an empty name list on failure, the Feitian
    // classes nothing, so the first list can be the second key's.
    auto huahong = TwoKeys(false);
    huahong->answers["GetCertCN K1"].result = 0;
    huahong->answers["GetWebURL K1"].result = 0;
    huahong->answers["GetPINRetry K2"].result = 0;
    huahong->answers["GetKeyDefaultPIN K1"].result = 0;
    const auto key = Read("CHuahongUSBKey", huahong);
    EXPECT_EQ(key->certNames, (std::vector<std::vector<std::string>>{{}, {"Carol"}}));
    EXPECT_THAT(key->webUrls, ElementsAre("", "https://k2.example/"));
    EXPECT_THAT(key->pinRetries, ElementsAre(6u));
    EXPECT_THAT(key->defaultPin, ElementsAre(0u));
    EXPECT_THAT(ReportOf(*key, 800), ElementsAre("800 2 = 'K1'", "800 3 = 0", "800 4 = 0", "800 5 = 0",
                                                 "800 6 = 0", "800 7 = 1"));

    auto feitian = TwoKeys(true);
    feitian->answers["GetCertCN K1"].result = 0;
    feitian->answers["GetWebURL K2"].result = 0;
    const auto fkey = Read("CFeitianUSBKey", feitian);
    EXPECT_EQ(fkey->certNames, (std::vector<std::vector<std::string>>{{""}}));
    EXPECT_THAT(fkey->webUrls, ElementsAre("https://k1.example/", ""));
    EXPECT_THAT(ReportOf(*fkey, 802), ::testing::Contains("802 6 = 1"));
}

TEST(UsbKeyDrivers, FeitianCertificateCountIsBounded) {
    auto script = TwoKeys(true);
    script->answers["GetCertCN K1"].value = 0xFFFFFFFF;
    const auto key = Read("CFeitianUSBKey", script);
    ASSERT_FALSE(key->certNames.empty());
    EXPECT_EQ(key->certNames[0].size(), kMaxCertificateCount);
}

// One-byte results are read from the low byte only (the rest of the register
// is whatever the library left); 32-bit results as a whole.
struct WidthCase {
    const char* label;
    const char* className;
    const char* call;  // export, or "export serial"
    uint32_t result;
    std::vector<std::string> report;
};
void PrintTo(const WidthCase& c, std::ostream* os) { *os << c.label; }

class ResultWidths : public ::testing::TestWithParam<WidthCase> {};

TEST_P(ResultWidths, DecideSuccess) {
    const WidthCase& c = GetParam();
    const bool feitian = std::string(c.className).find("Feitian") != std::string::npos;
    auto script = TwoKeys(feitian);
    script->answers["ChangePin"].result = 0x100;  // low byte 0: false
    script->answers[c.call].result = c.result;
    const auto key = Read(c.className, script);
    EXPECT_EQ(ReportOf(*key, 0), c.report);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ResultWidths,
    ::testing::Values(
        WidthCase{"feitian_count_low_byte_zero", "CFeitianUSBKey", "GetKeyCount", 0x100,
                  {"0 6 = 0", "0 7 = 1"}},
        WidthCase{"feitian_count_low_byte_set", "CFeitianUSBKey", "GetKeyCount", 0xABCD0001,
                  {"0 2 = 'K1'", "0 3 = 0", "0 4 = 0", "0 5 = 0", "0 6 = 2", "0 7 = 0"}},
        WidthCase{"feitian_change_pin_low_byte_set", "CFeitianUSBKey", "ChangePin K2", 0xFF01,
                  {"0 2 = 'K1'", "0 3 = 0", "0 4 = 0", "0 5 = 1", "0 6 = 2", "0 7 = 0"}},
        WidthCase{"feitian2_cert_low_byte_zero", "CFeitian2USBKey", "GetCertCN K1", 0x200,
                  {"0 2 = 'K1'", "0 3 = 0", "0 4 = 0", "0 5 = 0", "0 6 = 1", "0 7 = 0"}},
        WidthCase{"huahong_count_high_bits_only", "CHuahongUSBKey", "GetKeyCount", 0x100,
                  {"0 2 = 'K1'", "0 3 = 0", "0 4 = 0", "0 5 = 0", "0 6 = 2", "0 7 = 0"}},
        WidthCase{"tiancheng_pin_high_bits_only", "CTianchengUSBKey", "GetPINRetry K1", 0x10000,
                  {"0 2 = 'K1'", "0 3 = 0", "0 4 = 0", "0 6 = 2", "0 7 = 0"}}),
    [](const ::testing::TestParamInfo<WidthCase>& info) { return std::string(info.param.label); });

TEST(UsbKeyDrivers, HuahongKeyFileResultIsOneByte) {
    auto script = TwoKeys(false);
    script->answers["GetKeyFile K1"] = Answer{0x100, 0, ""};  // false: the value is not taken
    script->answers["GetKeyFile K2"] = Answer{0x101, 0, ""};  // true: K2 is incomplete
    const auto key = Read("CHuahongUSBKey", script);
    EXPECT_THAT(key->keyComplete, ElementsAre(1u, 1u, 0u));
}

// Missing exports are skipped; without the key count nothing after the
// version query is called.
struct MissingCase {
    const char* label;
    const char* className;
    std::set<std::string> missing;
    std::vector<std::string> calls;
};
void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.label; }

class MissingExports : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingExports, AreSkipped) {
    const MissingCase& c = GetParam();
    auto script = TwoKeys(std::string(c.className).find("Feitian") != std::string::npos);
    script->missing = c.missing;
    Read(c.className, script);
    EXPECT_EQ(script->calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, MissingExports,
    ::testing::Values(
        MissingCase{"huahong_key_count", "CHuahongUSBKey", {"GetKeyCount"},
                    {"CheckKeyEnv", "GetSoftwareVersion"}},
        MissingCase{"tiancheng_key_count", "CTianchengUSBKey", {"GetKeyCount"},
                    {"CheckKeyEnv", "GetSoftwareVersion"}},
        MissingCase{"feitian_key_count", "CFeitianUSBKey", {"GetKeyCount"},
                    {"load", "CheckKeyEnv", "GetSoftwareVersion"}},
        MissingCase{"feitian2_key_count_and_version", "CFeitian2USBKey",
                    {"GetKeyCount", "GetSoftwareVersion"},
                    {"load", "CheckKeyEnv"}},
        MissingCase{"huahong_serials", "CHuahongUSBKey", {"GetKeySN"},
                    {"CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount"}},
        MissingCase{"feitian_load_and_per_key_calls", "CFeitianUSBKey", {"load", "ChangePin", "GetWebURL"},
                    {"CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN K1",
                     "GetCertCN K2", "GetPINRetry K1", "GetPINRetry K2"}},
        MissingCase{"huahong_key_file", "CHuahongUSBKey", {"GetKeyFile", "CheckKeyEnv"},
                    {"GetSoftwareVersion", "GetKeyCount", "GetKeySN", "GetCertCN K1", "GetCertCN K2",
                     "GetWebURL K1", "GetWebURL K2", "GetPINRetry K1", "GetPINRetry K2",
                     "GetKeyDefaultPIN K1", "GetKeyDefaultPIN K2"}}),
    [](const ::testing::TestParamInfo<MissingCase>& info) { return std::string(info.param.label); });

TEST(UsbKeyDrivers, NoKeysEndsAfterTheCount) {
    for (const uint32_t result : {1u, 0u}) {
        auto script = TwoKeys(false);
        script->answers["GetKeyCount"] = Answer{result, result == 1 ? 0u : 2u, ""};
        const auto key = Read("CHuahongUSBKey", script);
        EXPECT_THAT(script->calls, ElementsAre("CheckKeyEnv", "GetSoftwareVersion", "GetKeyCount"));
        EXPECT_EQ(key->driverVersion, "3.1.4");
    }
}

TEST(UsbKeyDrivers, NoLibraryReadsNothing) {
    const std::unique_ptr<CUSBKey> key = MakeUsbKey(Class("CFeitianUSBKey"), nullptr);
    key->ReadKeys();
    EXPECT_TRUE(key->driverVersion.empty());
    EXPECT_THAT(ReportOf(*key, 802), ElementsAre("802 6 = 0", "802 7 = 1"));
}

// ---- the report of one key ---------------------------------------------------

class RecordKey final : public CUSBKey {
public:
    RecordKey() : CUSBKey(nullptr) {}
    void ReadKeys() override {}
};

TEST(UsbKeyReport, ItemsFollowTheLists) {
    RecordKey key;
    EXPECT_THAT(ReportOf(key, 801), ElementsAre("801 6 = 0", "801 7 = 1"));

    key.serials = {"first", "second"};
    key.keyComplete = {1, 1};
    key.pinRetries = {3, 5};
    key.defaultPin = {0, 0};
    key.certNames = {{}, {"only the second key's"}};
    EXPECT_THAT(ReportOf(key, 801), ElementsAre("801 2 = 'first'", "801 3 = 0", "801 4 = 0", "801 5 = 0",
                                                "801 6 = 0", "801 7 = 1"));

    key.keyComplete = {1, 0};
    key.pinRetries = {0, 5};
    key.defaultPin = {0, 7};
    key.certNames = {{"a", "b", "c"}, {}};
    EXPECT_THAT(ReportOf(key, 801), ElementsAre("801 2 = 'first'", "801 3 = 1", "801 4 = 1", "801 5 = 1",
                                                "801 6 = 3", "801 7 = 0"));
}

// ---- the USB-key step --------------------------------------------------------

ComponentItem Item(std::string className, uint32_t state) {
    ComponentItem item;
    item.className = std::move(className);
    item.state = state;
    return item;
}

class ReportUsbKeysTest : public ::testing::Test {
protected:
    void Run(const std::vector<ComponentItem>& items) {
        const TokenLibraryLoader load = [this](const char* name) -> std::unique_ptr<TokenLibrary> {
            loads.emplace_back(name);
            const auto found = libraries.find(name);
            if (found == libraries.end()) {
                return nullptr;
            }
            return std::make_unique<ScriptedLibrary>(found->second);
        };
        ReportUsbKeys(items, load, page);
    }

    std::map<std::string, std::shared_ptr<Script>> libraries;
    std::vector<std::string> loads;
    RecordingPage page;
};

TEST_F(ReportUsbKeysTest, StartsWithTwentyFourClears) {
    Run({});
    std::vector<std::string> expected;
    for (int category = 800; category <= 803; ++category) {
        for (int item = 2; item <= 7; ++item) {
            expected.push_back("clear " + std::to_string(category) + " " + std::to_string(item));
        }
    }
    EXPECT_EQ(page.calls, expected);
}

struct SkipCase {
    const char* label;
    const char* className;
    uint32_t state;
    bool read;
};
void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.label; }

class ReportUsbKeysSkips : public ReportUsbKeysTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(ReportUsbKeysSkips, DecideWhetherTheLibraryIsRead) {
    const SkipCase& c = GetParam();
    Run({Item(c.className, c.state)});
    if (c.read) {
        EXPECT_THAT(loads, ElementsAre("..\\Ftbank_ePass2000Auto.dll"));
        // No library beside the executable: no certificates, not registered.
        EXPECT_THAT(page.Reports(), ElementsAre("802 6 = 0", "802 7 = 1"));
    } else {
        EXPECT_THAT(loads, IsEmpty());
        EXPECT_THAT(page.Reports(), IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Items, ReportUsbKeysSkips,
    ::testing::Values(SkipCase{"installable", "CFeitianUSBKey", 5, false},
                      SkipCase{"installable_disabled", "CFeitianUSBKey", 0x40000005, false},
                      SkipCase{"installable_key_absent", "CFeitianUSBKey", 0x80000005, false},
                      SkipCase{"missing_nothing_to_install", "CFeitianUSBKey", 4, true},
                      SkipCase{"current", "CFeitianUSBKey", 0, true},
                      SkipCase{"not_yet_detected", "CFeitianUSBKey", 7, true},
                      SkipCase{"disabled_current", "CFeitianUSBKey", 0x40000000, true},
                      SkipCase{"lower_case", "cfeitianusbkey", 0, false},
                      SkipCase{"upper_case", "CFEITIANUSBKEY", 0, false},
                      SkipCase{"prefix_only", "CFeitian", 0, false},
                      SkipCase{"longer_name", "CFeitianUSBKeyX", 0, false},
                      SkipCase{"empty", "", 0, false},
                      SkipCase{"other_class", "CWatchDataUSBKey", 0, false}),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.label); });

TEST_F(ReportUsbKeysTest, EachClassReportsInItsCategory) {
    libraries["..\\BHDLL.dll"] = TwoKeys(false);
    libraries["..\\TC_RZ_LR.dll"] = TwoKeys(false);
    libraries["..\\Ftbank_ePass2000Auto.dll"] = TwoKeys(true);
    libraries["..\\Ftbank_InterPass3000.dll"] = TwoKeys(true);
    Run({Item("CFeitian2USBKey", 0), Item("CTianchengUSBKey", 0), Item("CHuahongUSBKey", 0),
         Item("CFeitianUSBKey", 0)});
    EXPECT_THAT(loads, ElementsAre("..\\Ftbank_InterPass3000.dll", "..\\TC_RZ_LR.dll", "..\\BHDLL.dll",
                                   "..\\Ftbank_ePass2000Auto.dll"));
    EXPECT_THAT(page.Reports(),
                ElementsAre("803 2 = 'K1'", "803 3 = 0", "803 4 = 0", "803 5 = 0", "803 6 = 2", "803 7 = 0",
                            "803 8 = '3.1.4'",  //
                            "801 2 = 'K1'", "801 3 = 0", "801 4 = 0", "801 6 = 2", "801 7 = 0",
                            "801 8 = '3.1.4'",  //
                            "800 2 = 'K1'", "800 3 = 0", "800 4 = 0", "800 5 = 0", "800 6 = 2", "800 7 = 0",
                            "800 8 = '3.1.4'",  //
                            "802 2 = 'K1'", "802 3 = 0", "802 4 = 0", "802 5 = 0", "802 6 = 2", "802 7 = 0",
                            "802 8 = '3.1.4'"));
}

TEST_F(ReportUsbKeysTest, KeyAbsentBitLeavesOnlyTheDriverVersion) {
    libraries["..\\BHDLL.dll"] = TwoKeys(false);
    Run({Item("CHuahongUSBKey", 0x80000000)});
    EXPECT_THAT(page.Reports(), ElementsAre("800 8 = '3.1.4'"));
    EXPECT_EQ(libraries["..\\BHDLL.dll"]->calls.size(), 14u) << "the keys are still read";
}

TEST_F(ReportUsbKeysTest, KeyAbsentWithoutLibraryReportsNothing) {
    Run({Item("CTianchengUSBKey", 0x80000004)});
    EXPECT_THAT(loads, ElementsAre("..\\TC_RZ_LR.dll"));
    EXPECT_THAT(page.Reports(), IsEmpty());
}

TEST_F(ReportUsbKeysTest, DriverVersionWithoutKeys) {
    auto script = std::make_shared<Script>();
    script->answers["GetSoftwareVersion"].bytes = "2.0";
    libraries["..\\Ftbank_ePass2000Auto.dll"] = script;
    Run({Item("CFeitianUSBKey", 0)});
    EXPECT_THAT(page.Reports(), ElementsAre("802 6 = 0", "802 7 = 1", "802 8 = '2.0'"));
}

TEST_F(ReportUsbKeysTest, SeveralItemsOfOneClassAreEachReadAndReported) {
    auto script = TwoKeys(false);
    libraries["..\\BHDLL.dll"] = script;
    Run({Item("CHuahongUSBKey", 0), Item("CHuahongUSBKey", 0x80000000)});
    EXPECT_THAT(loads, ElementsAre("..\\BHDLL.dll", "..\\BHDLL.dll"));
    EXPECT_EQ(script->calls.size(), 28u) << "each item makes its own calls";
    EXPECT_THAT(page.Reports(), ElementsAre("800 2 = 'K1'", "800 3 = 0", "800 4 = 0", "800 5 = 0",
                                            "800 6 = 2",
                                            "800 7 = 0", "800 8 = '3.1.4'", "800 8 = '3.1.4'"));
}

}  // namespace
}  // namespace wayfarer
