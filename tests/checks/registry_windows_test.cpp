#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "checks/registry.h"
#include "common/handles.h"
#include "common/text.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

using Bytes = std::vector<uint8_t>;

// Every test works in a subtree of its own, named after it, so that tests
// running side by side in other processes never meet; it is deleted after.
class RegistryWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        base_ = L"Software\\WayfarerTest\\" + Utf8ToWide(info->name());
        Cleanup();
        places_.browserEmulation = base_ + L"\\BrowserEmulation";
        places_.clearableListData = base_ + L"\\BrowserEmulation\\ClearableListData";
        places_.systemPolicies = base_ + L"\\Policies\\System";
    }
    void TearDown() override { Cleanup(); }

    void Cleanup() {
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, base_.c_str());
    }

    // "HKCU\Software\WayfarerTest\<test>\<sub>"
    std::string Path(const std::string& sub, const char* root = "HKCU") const {
        return std::string(root) + "\\" + WideToUtf8(base_) + (sub.empty() ? "" : "\\" + sub);
    }
    std::wstring Key(const std::string& sub) const {
        return sub.empty() ? base_ : base_ + L"\\" + Utf8ToWide(sub);
    }

    static ConfigEntry Entry(std::string text, std::string name, std::string type,
                             std::string value, std::string mask = "") {
        ConfigEntry entry;
        entry.text = std::move(text);
        entry.name = std::move(name);
        entry.type = std::move(type);
        entry.value = std::move(value);
        entry.mask = std::move(mask);
        return entry;
    }

    void Set(const std::string& sub, const wchar_t* name, DWORD type, const Bytes& data,
             HKEY root = HKEY_CURRENT_USER) {
        unique_hkey key;
        ASSERT_EQ(RegCreateKeyExW(root, Key(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, data.empty() ? nullptr : data.data(),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    void SetDword(const std::string& sub, const wchar_t* name, DWORD value) {
        Set(sub, name, REG_DWORD, Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                        static_cast<uint8_t>(value >> 16),
                                        static_cast<uint8_t>(value >> 24)});
    }
    void SetString(const std::string& sub, const wchar_t* name, const std::wstring& text,
                   DWORD type = REG_SZ) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
        Set(sub, name, type, Bytes(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
    }

    struct Read {
        DWORD type = REG_NONE;
        Bytes data;
    };
    // The value as stored; none when the key or value is absent.
    std::optional<Read> Get(const std::string& sub, const wchar_t* name,
                            HKEY root = HKEY_CURRENT_USER) const {
        unique_hkey key;
        if (RegOpenKeyExW(root, Key(sub).c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        Read read;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &read.type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        read.data.resize(size);
        if (RegQueryValueExW(key.get(), name, nullptr, &read.type,
                             read.data.empty() ? nullptr : read.data.data(), &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        read.data.resize(size);
        return read;
    }
    std::optional<DWORD> GetDword(const std::string& sub, const wchar_t* name) const {
        const auto read = Get(sub, name);
        if (!read || read->type != REG_DWORD || read->data.size() != 4) {
            return std::nullopt;
        }
        return static_cast<DWORD>(read->data[0] | read->data[1] << 8 | read->data[2] << 16 |
                                  static_cast<DWORD>(read->data[3]) << 24);
    }
    bool KeyExists(const std::string& sub, HKEY root = HKEY_CURRENT_USER) const {
        unique_hkey key;
        return RegOpenKeyExW(root, Key(sub).c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

    test::FakeEnvironment env_;
    std::wstring base_;
    RegistryPlaces places_;
};

TEST_F(RegistryWindowsTest, DwordValuesCompareUnderTheirMaskAndRepairOnce) {
    const struct {
        const char* value;
        const char* mask;
        std::optional<DWORD> stored;
        bool matches;
        DWORD repaired;
    } cases[] = {
        {"168", "", 168, true, 168},
        {"168", "", 0, false, 168},
        {"168", "", std::nullopt, false, 168},
        {"4", "4", 0xFF, true, 0xFF},
        {"4", "4", 0xF0, false, 0xF4},
        {"-1", "", 5, false, 0xFFFFFFFF},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string sub = "dword" + std::to_string(n++);
        SCOPED_TRACE(sub);
        if (c.stored) {
            SetDword(sub, L"Value", *c.stored);
        }
        const ConfigEntry entry = Entry(Path(sub), "Value", "reg_dword", c.value, c.mask);
        EXPECT_EQ(CheckRegistryEntry(entry, false), c.matches);
        EXPECT_EQ(GetDword(sub, L"Value"), c.stored) << "the check writes nothing";
        EXPECT_TRUE(CheckRegistryEntry(entry, true));
        EXPECT_EQ(GetDword(sub, L"Value"), c.repaired);
        EXPECT_TRUE(CheckRegistryEntry(entry, false));
    }
}

TEST_F(RegistryWindowsTest, AValueOfAnotherTypeFailsAndIsLeftAlone) {
    SetString("k", L"Value", L"168");
    SetDword("k", L"Number", 1);
    SetDword("k", L"Blob", 1);
    const ConfigEntry entries[] = {
        Entry(Path("k"), "Value", "reg_dword", "168"),
        Entry(Path("k"), "Number", "reg_sz", "1"),
        Entry(Path("k"), "Blob", "reg_binary", "01000000"),
    };
    for (const auto& entry : entries) {
        const auto before = Get("k", Utf8ToWide(entry.name).c_str());
        EXPECT_FALSE(CheckRegistryEntry(entry, false)) << entry.name;
        EXPECT_FALSE(CheckRegistryEntry(entry, true)) << entry.name;
        const auto after = Get("k", Utf8ToWide(entry.name).c_str());
        ASSERT_TRUE(after);
        EXPECT_EQ(after->type, before->type) << entry.name;
        EXPECT_EQ(after->data, before->data) << entry.name;
    }
}

TEST_F(RegistryWindowsTest, StringsCompareExactlyAndAcceptExpandableOnes) {
    SetString("k", L"Same", L"C:\\\x7F51\x94F6");
    SetString("k", L"Expand", L"%windir%", REG_EXPAND_SZ);
    SetString("k", L"Case", L"abc");
    EXPECT_TRUE(CheckRegistryEntry(Entry(Path("k"), "Same", "reg_sz", "C:\\\xE7\xBD\x91\xE9\x93\xB6"), false));
    EXPECT_TRUE(CheckRegistryEntry(Entry(Path("k"), "Expand", "reg_sz", "%windir%"), false));
    const ConfigEntry upper = Entry(Path("k"), "Case", "reg_sz", "ABC");
    EXPECT_FALSE(CheckRegistryEntry(upper, false));
    EXPECT_TRUE(CheckRegistryEntry(upper, true));
    const auto written = Get("k", L"Case");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(written->data, (Bytes{'A', 0, 'B', 0, 'C', 0, 0, 0})) << "written with its terminator";

    // Too long for the 512-unit buffer: a failure, not a rewrite.
    const std::wstring longText(600, L'x');
    SetString("k", L"Long", longText);
    const ConfigEntry longEntry = Entry(Path("k"), "Long", "reg_sz", "x");
    EXPECT_FALSE(CheckRegistryEntry(longEntry, true));
    EXPECT_EQ(Get("k", L"Long")->data.size(), (longText.size() + 1) * sizeof(wchar_t));
}

TEST_F(RegistryWindowsTest, AnEmptyStringEntryAsksForTheKeyAndItsDefaultValue) {
    const ConfigEntry entry = Entry(Path("Ext\\PreApproved\\{00000000-0000-0000-0000-000000000001}"),
                                    "", "reg_sz", "");
    EXPECT_FALSE(CheckRegistryEntry(entry, false));
    EXPECT_FALSE(KeyExists("Ext")) << "the check creates nothing";
    EXPECT_TRUE(CheckRegistryEntry(entry, true));
    const auto value = Get("Ext\\PreApproved\\{00000000-0000-0000-0000-000000000001}", nullptr);
    ASSERT_TRUE(value) << "key and default value created";
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->data, (Bytes{0, 0}));
    EXPECT_TRUE(CheckRegistryEntry(entry, false));
}

TEST_F(RegistryWindowsTest, BinaryValuesMayBeAPrefixButNotLonger) {
    Set("k", L"Prefix", REG_BINARY, {0x01, 0x02});
    Set("k", L"Longer", REG_BINARY, {0x01, 0x02, 0x03, 0x04});
    Set("k", L"Huge", REG_BINARY, Bytes(600, 0x01));
    EXPECT_TRUE(CheckRegistryEntry(Entry(Path("k"), "Prefix", "reg_binary", "010203"), false));
    const ConfigEntry longer = Entry(Path("k"), "Longer", "reg_binary", "010203");
    EXPECT_FALSE(CheckRegistryEntry(longer, false));
    EXPECT_TRUE(CheckRegistryEntry(longer, true));
    EXPECT_EQ(Get("k", L"Longer")->data, (Bytes{1, 2, 3}));
    EXPECT_EQ(Get("k", L"Longer")->type, static_cast<DWORD>(REG_BINARY));
    // Over the 512-byte buffer: fails and stays.
    EXPECT_FALSE(CheckRegistryEntry(Entry(Path("k"), "Huge", "reg_binary", "01"), true));
    EXPECT_EQ(Get("k", L"Huge")->data.size(), 600u);
    // Odd digit dropped, non-digits as 0.
    const ConfigEntry odd = Entry(Path("k"), "Odd", "reg_binary", "zz0A7");
    EXPECT_TRUE(CheckRegistryEntry(odd, true));
    EXPECT_EQ(Get("k", L"Odd")->data, (Bytes{0x00, 0x0A}));
}

TEST_F(RegistryWindowsTest, EntriesWithoutARootSeparatorOrAKnownTypeFail) {
    EXPECT_FALSE(CheckRegistryEntry(Entry("WayfarerTestNoSeparator", "V", "reg_dword", "1"), true));
    unique_hkey key;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"WayfarerTestNoSeparator", 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    EXPECT_FALSE(CheckRegistryEntry(Entry(Path("k"), "V", "REG_DWORD", "1"), true));
    EXPECT_FALSE(Get("k", L"V"));
}

TEST_F(RegistryWindowsTest, RootNamesSelectTheirHive) {
    // A 32-bit process sees HKLM\Software through Wow6432Node, as the
    // reader of this key below does too.
    const ConfigEntry machine =
        Entry(Path("m", "hkey_local_machine"), "V", "reg_dword", "7");
    ASSERT_TRUE(CheckRegistryEntry(machine, true));
    unique_hkey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key("m").c_str(), 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists("m")) << "not under the current user";

    const ConfigEntry users = Entry(Path("u", "HKU"), "V", "reg_dword", "7");
    ASSERT_TRUE(CheckRegistryEntry(users, true));
    EXPECT_EQ(GetDword("u", L"V"), 7u) << "an unknown root is the current user's";
}

TEST_F(RegistryWindowsTest, ProbesAskForAKeyOrOneOfItsValues) {
    SetDword("probe", L"Installed", 1);
    const std::wstring key = base_ + L"\\probe";
    EXPECT_TRUE(ProbeRegistryPath(L"HKCU," + key + L","));
    EXPECT_TRUE(ProbeRegistryPath(L"hkey_current_user," + key + L",Installed"));
    EXPECT_TRUE(ProbeRegistryPath(L"HKU," + key + L",Installed"));
    EXPECT_FALSE(ProbeRegistryPath(L"HKCU," + key + L",Missing"));
    EXPECT_FALSE(ProbeRegistryPath(L"HKCU," + key + L"\\none,"));
    EXPECT_FALSE(ProbeRegistryPath(L"HKLM," + key + L","));
    EXPECT_FALSE(ProbeRegistryPath(L"HKCU," + key));
}

class CompatibilityListTest : public RegistryWindowsTest {
protected:
    void SetUp() override {
        RegistryWindowsTest::SetUp();
        doc_ = std::make_unique<CheckItems>(env_);
    }
    void Sites(std::vector<std::string> sites) {
        ConfigGroup group;
        group.type = "compatibility";
        for (auto& site : sites) {
            ConfigEntry entry;
            entry.text = std::move(site);
            group.entries.push_back(std::move(entry));
        }
        doc_->groups.push_back(std::move(group));
    }
    std::optional<Bytes> UserFilter() const {
        const auto read = Get("BrowserEmulation\\ClearableListData", L"UserFilter");
        if (!read || read->type != REG_BINARY) {
            return std::nullopt;
        }
        return read->data;
    }
    std::unique_ptr<CheckItems> doc_;
};

TEST_F(CompatibilityListTest, WithoutTheGroupNothingIsOpened) {
    doc_->registryOk = false;
    EXPECT_TRUE(CheckCompatibilityList(*doc_, true, places_));
    EXPECT_TRUE(doc_->registryOk);
    EXPECT_FALSE(KeyExists("BrowserEmulation"));
}

TEST_F(CompatibilityListTest, AllSitesModeMakesTheListIrrelevant) {
    Sites({"lunmarbank.example"});
    SetDword("BrowserEmulation", L"AllSitesCompatibilityMode", 1);
    EXPECT_TRUE(CheckCompatibilityList(*doc_, false, places_));
    EXPECT_FALSE(KeyExists("BrowserEmulation\\ClearableListData"));
}

TEST_F(CompatibilityListTest, AMissingListKeyIsCreatedEvenByTheCheck) {
    Sites({"lunmarbank.example"});
    doc_->registryOk = true;
    EXPECT_FALSE(CheckCompatibilityList(*doc_, false, places_));
    EXPECT_FALSE(doc_->registryOk);
    EXPECT_TRUE(KeyExists("BrowserEmulation\\ClearableListData"));
    EXPECT_FALSE(UserFilter());
}

TEST_F(CompatibilityListTest, AnEmptyGroupRepairsToTheBareHeader) {
    Sites({});
    EXPECT_TRUE(CheckCompatibilityList(*doc_, true, places_));
    EXPECT_EQ(UserFilter(), user_filter::NewValue());
}

TEST_F(CompatibilityListTest, RepairAppendsMissingSitesAndTheCheckThenPasses) {
    Sites({"lunmarbank.example", "ebank.lunmarbank.example"});
    EXPECT_FALSE(CheckCompatibilityList(*doc_, false, places_));
    EXPECT_TRUE(CheckCompatibilityList(*doc_, true, places_));
    const auto first = UserFilter();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), 24u + 18 + 2 * 18 + 18 + 2 * 24);
    EXPECT_TRUE(CheckCompatibilityList(*doc_, false, places_));
    EXPECT_TRUE(doc_->registryOk);

    // One more site: appended to what is there, the others kept byte for byte.
    doc_->groups.front().entries.push_back(ConfigEntry{"www.lunmarbank.example", "", "", "", ""});
    EXPECT_FALSE(CheckCompatibilityList(*doc_, false, places_));
    EXPECT_TRUE(CheckCompatibilityList(*doc_, true, places_));
    const auto second = UserFilter();
    ASSERT_TRUE(second);
    ASSERT_EQ(second->size(), first->size() + 18 + 2 * 22);
    EXPECT_TRUE(std::equal(first->begin() + 24, first->end(), second->begin() + 24));
    EXPECT_EQ((*second)[8], 3);
    EXPECT_EQ((*second)[20], 3);
}

TEST_F(CompatibilityListTest, AListOfAnotherTypeIsReplacedByTheRepair) {
    Sites({"lunmarbank.example"});
    SetString("BrowserEmulation\\ClearableListData", L"UserFilter", L"junk");
    EXPECT_FALSE(CheckCompatibilityList(*doc_, false, places_));
    EXPECT_TRUE(CheckCompatibilityList(*doc_, true, places_));
    const auto value = UserFilter();
    ASSERT_TRUE(value);
    EXPECT_TRUE(user_filter::HasSite(*value, "lunmarbank.example"));
}

TEST_F(CompatibilityListTest, RegistryStepStopsAtTheFirstFailingPiece) {
    Sites({"lunmarbank.example"});
    ConfigGroup registry;
    registry.type = "registry";
    registry.entries.push_back(Entry(Path("first"), "V", "reg_dword", "1"));
    registry.entries.push_back(Entry("NoSeparator", "V", "reg_dword", "1"));
    registry.entries.push_back(Entry(Path("third"), "V", "reg_dword", "1"));
    doc_->groups.push_back(registry);
    SetDword("Policies\\System", L"Disableregistrytools", 1);

    EXPECT_FALSE(CheckRegistry(*doc_, true, places_));
    EXPECT_FALSE(doc_->registryOk);
    EXPECT_TRUE(UserFilter()) << "the list was repaired first";
    EXPECT_EQ(GetDword("first", L"V"), 1u);
    EXPECT_FALSE(KeyExists("third")) << "later entries are left alone";
    EXPECT_EQ(GetDword("Policies\\System", L"Disableregistrytools"), 1u) << "and so is the policy";

    doc_->groups.back().entries.erase(doc_->groups.back().entries.begin() + 1);
    EXPECT_FALSE(CheckRegistry(*doc_, false, places_)) << "third is missing";
    EXPECT_TRUE(CheckRegistry(*doc_, true, places_));
    EXPECT_FALSE(Get("Policies\\System", L"Disableregistrytools")) << "the policy value is deleted";
    EXPECT_TRUE(CheckRegistry(*doc_, false, places_));
    EXPECT_TRUE(doc_->registryOk);
}

TEST_F(CompatibilityListTest, OnlyANonZeroPolicyDwordLocksTheRegistryTools) {
    const struct {
        std::optional<DWORD> dword;
        bool asString;
        bool ok;
    } cases[] = {
        {std::nullopt, false, true},
        {0, false, true},
        {1, true, true},  // "1" as text is not a DWORD
        {1, false, false},
        {0x100, false, false},
    };
    for (const auto& c : cases) {
        RegDeleteTreeW(HKEY_CURRENT_USER, (base_ + L"\\Policies").c_str());
        if (c.dword && c.asString) {
            SetString("Policies\\System", L"Disableregistrytools", L"1");
        } else if (c.dword) {
            SetDword("Policies\\System", L"Disableregistrytools", *c.dword);
        }
        EXPECT_EQ(CheckRegistry(*doc_, false, places_), c.ok);
        EXPECT_EQ(doc_->registryOk, c.ok);
    }
}

// The one test on the browser's own keys: what it changes it puts back.
class SavedValue {
public:
    SavedValue(const wchar_t* key, const wchar_t* name) : key_(key), name_(name) {
        unique_hkey opened;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) {
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExW(opened.get(), name, nullptr, &type_, nullptr, &size) != ERROR_SUCCESS) {
            return;
        }
        data_.resize(size);
        present_ = RegQueryValueExW(opened.get(), name, nullptr, &type_,
                                    data_.empty() ? nullptr : data_.data(), &size) == ERROR_SUCCESS;
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;
    ~SavedValue() {
        unique_hkey opened;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            opened.put(), nullptr) != ERROR_SUCCESS) {
            return;
        }
        if (present_) {
            RegSetValueExW(opened.get(), name_, 0, type_, data_.empty() ? nullptr : data_.data(),
                           static_cast<DWORD>(data_.size()));
        } else {
            RegDeleteValueW(opened.get(), name_);
        }
    }

private:
    const wchar_t* key_;
    const wchar_t* name_;
    bool present_ = false;
    DWORD type_ = REG_NONE;
    Bytes data_;
};

TEST_F(CompatibilityListTest, TheFixedPlacesAreTheBrowsersAndTheSystemPolicy) {
    const RegistryPlaces real;
    const SavedValue allSites(real.browserEmulation.c_str(), L"AllSitesCompatibilityMode");
    const SavedValue list(real.clearableListData.c_str(), L"UserFilter");
    const SavedValue policy(real.systemPolicies.c_str(), L"Disableregistrytools");
    {
        unique_hkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, real.browserEmulation.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        RegDeleteValueW(key.get(), L"AllSitesCompatibilityMode");
        unique_hkey policies;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, real.systemPolicies.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, policies.put(), nullptr),
                  ERROR_SUCCESS);
        const DWORD locked = 1;
        ASSERT_EQ(RegSetValueExW(policies.get(), L"Disableregistrytools", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&locked), sizeof(locked)),
                  ERROR_SUCCESS);
    }
    Sites({"wayfarer-test.example"});
    EXPECT_FALSE(CheckRegistry(*doc_, false));
    EXPECT_TRUE(CheckRegistry(*doc_, true));
    EXPECT_TRUE(CheckRegistry(*doc_, false));
    EXPECT_TRUE(ProbeRegistryPath(L"HKCU," + real.clearableListData + L",UserFilter"));
    unique_hkey policies;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, real.systemPolicies.c_str(), 0, KEY_READ,
                            policies.put()),
              ERROR_SUCCESS);
    EXPECT_NE(RegQueryValueExW(policies.get(), L"Disableregistrytools", nullptr, nullptr, nullptr,
                               nullptr),
              ERROR_SUCCESS);
}

}  // namespace
}  // namespace wayfarer
