#include "checks/registry.h"

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace wayfarer {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RegistryRules, RootKeyNamesIgnoreCaseAndDefaultToTheCurrentUser) {
    const struct {
        const char* name;
        RootKey root;
    } cases[] = {
        {"HKLM", RootKey::LocalMachine},
        {"hkey_local_machine", RootKey::LocalMachine},
        {"HKCU", RootKey::CurrentUser},
        {"Hkey_Current_User", RootKey::CurrentUser},
        {"hkcr", RootKey::ClassesRoot},
        {"HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
        {"HKU", RootKey::CurrentUser},
        {"HKEY_USERS", RootKey::CurrentUser},
        {"", RootKey::CurrentUser},
        {"HKLM ", RootKey::CurrentUser},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseRootKeyName(std::string_view(c.name)), c.root) << '"' << c.name << '"';
    }
    EXPECT_EQ(ParseRootKeyName(std::wstring_view(L"hKlM")), RootKey::LocalMachine);
    // Only ASCII is folded: a dotless i does not make "HKEY_LOCAL_MACHINE".
    EXPECT_EQ(ParseRootKeyName(std::wstring_view(L"hkey_local_mach\u0131ne")), RootKey::CurrentUser);
}

TEST(RegistryRules, HexDecodeTakesPairsAndCountsOtherCharactersAsZero) {
    const struct {
        const char* text;
        Bytes bytes;
    } cases[] = {
        {"", {}},
        {"0aFf", {0x0A, 0xFF}},
        {"abc", {0xAB}},      // the odd digit is dropped
        {"7", {}},
        {"zz", {0x00}},       // neither is a digit
        {"g1", {0x01}},
        {"1 2x", {0x10, 0x20}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexDecode(c.text), c.bytes) << '"' << c.text << '"';
    }
    const Bytes all = {0x00, 0x01, 0x7F, 0x80, 0xAB, 0xFF};
    EXPECT_EQ(HexEncode(all), "00017F80ABFF");
    EXPECT_EQ(HexDecode(HexEncode(all)), all);
}

TEST(RegistryRules, DwordTextReadsLikeAtoiWithinThirtyTwoBits) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"168", 168},          {"  \t42abc", 42},           {"+7", 7},
        {"", 0},               {"x5", 0},                   {"-1", 0xFFFFFFFFu},
        {"- 1", 0},            {"4294967295", 0xFFFFFFFFu}, {"2147483648", 0x80000000u},
        {"99999999999", 0xFFFFFFFFu}, {"-99999999999", 0x80000000u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseDword(c.text), c.value) << '"' << c.text << '"';
    }
}

StoredValue Present(uint32_t type, Bytes data) {
    StoredValue stored;
    stored.status = StoredValue::Status::Present;
    stored.type = type;
    stored.data = std::move(data);
    return stored;
}

StoredValue Absent() {
    StoredValue stored;
    stored.status = StoredValue::Status::Absent;
    return stored;
}

StoredValue Unreadable() { return StoredValue{}; }

Bytes Dword(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

ValueRule Rule(const char* type, const char* value, const char* mask = "",
               std::u16string wide = u"") {
    ConfigEntry entry;
    entry.type = type;
    entry.value = value;
    entry.mask = mask;
    return MakeValueRule(entry, std::move(wide));
}

TEST(RegistryRules, DwordComparesUnderTheMaskAndRepairsOnlyMaskedBits) {
    const struct {
        const char* value;
        const char* mask;
        StoredValue stored;
        Comparison comparison;
        std::optional<uint32_t> repaired;
    } cases[] = {
        {"168", "", Present(kRegDword, Dword(168)), Comparison::Match, std::nullopt},
        {"168", "", Present(kRegDword, Dword(0)), Comparison::Mismatch, 168},
        {"168", "", Absent(), Comparison::Missing, 168},
        {"4", "4", Present(kRegDword, Dword(0xFF)), Comparison::Match, std::nullopt},
        {"4", "4", Present(kRegDword, Dword(0xF0)), Comparison::Mismatch, 0xF4},
        {"5", "4", Absent(), Comparison::Missing, 4},  // only the masked bits are asked for
        {"0", "0", Present(kRegDword, Dword(77)), Comparison::Match, std::nullopt},
        {"1", "", Present(kRegSz, {'1', 0, 0, 0}), Comparison::Failed, std::nullopt},
        {"1", "", Present(kRegDword, {1, 0}), Comparison::Failed, std::nullopt},
        {"1", "", Unreadable(), Comparison::Failed, std::nullopt},
    };
    for (const auto& c : cases) {
        const ValueRule rule = Rule("reg_dword", c.value, c.mask);
        SCOPED_TRACE(std::string(c.value) + " mask '" + c.mask + "'");
        EXPECT_EQ(rule.ReadBufferBytes(), 4u);
        EXPECT_EQ(rule.Compare(c.stored), c.comparison);
        if (c.repaired) {
            EXPECT_EQ(rule.RepairType(), kRegDword);
            EXPECT_EQ(rule.RepairData(c.stored), Dword(*c.repaired));
        }
    }
}

TEST(RegistryRules, BinaryAcceptsAStoredPrefixOfTheExpectedBytes) {
    const ValueRule rule = Rule("reg_binary", "0102030");  // odd: "0" dropped
    ASSERT_EQ(rule.bytes, (Bytes{1, 2, 3}));
    const struct {
        StoredValue stored;
        Comparison comparison;
    } cases[] = {
        {Present(kRegBinary, {}), Comparison::Match},
        {Present(kRegBinary, {1, 2}), Comparison::Match},
        {Present(kRegBinary, {1, 2, 3}), Comparison::Match},
        {Present(kRegBinary, {1, 2, 3, 4}), Comparison::Mismatch},
        {Present(kRegBinary, {1, 9}), Comparison::Mismatch},
        {Present(kRegDword, {1, 2, 3, 0}), Comparison::Failed},
        {Present(kRegBinary, Bytes(513, 1)), Comparison::Failed},
        {Absent(), Comparison::Missing},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rule.Compare(cases[i].stored), cases[i].comparison) << "case " << i;
    }
    EXPECT_EQ(rule.ReadBufferBytes(), 512u);
    EXPECT_EQ(rule.RepairType(), kRegBinary);
    EXPECT_EQ(rule.RepairData(Absent()), (Bytes{1, 2, 3}));
}

Bytes Utf16(std::u16string_view text, bool terminated = true) {
    Bytes bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (terminated) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

TEST(RegistryRules, StringIsComparedExactlyUpToItsTerminator) {
    const ValueRule rule = Rule("reg_sz", "ignored", "", u"Ab\u7F51");
    const struct {
        StoredValue stored;
        Comparison comparison;
    } cases[] = {
        {Present(kRegSz, Utf16(u"Ab\u7F51")), Comparison::Match},
        {Present(kRegExpandSz, Utf16(u"Ab\u7F51")), Comparison::Match},
        {Present(kRegSz, Utf16(u"Ab\u7F51", false)), Comparison::Match},
        {Present(kRegSz, Utf16(std::u16string(u"Ab\u7F51\0zz", 6))), Comparison::Match},
        {Present(kRegSz, Utf16(u"ab\u7F51")), Comparison::Mismatch},
        {Present(kRegSz, Utf16(u"Ab")), Comparison::Mismatch},
        {Present(kRegSz, Utf16(u"Ab\u7F51 ")), Comparison::Mismatch},
        {Present(kRegBinary, Utf16(u"Ab\u7F51")), Comparison::Failed},
        {Present(kRegSz, Bytes(1026, 'a')), Comparison::Failed},
        {Absent(), Comparison::Missing},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rule.Compare(cases[i].stored), cases[i].comparison) << "case " << i;
    }
    EXPECT_EQ(rule.ReadBufferBytes(), 1024u);
    EXPECT_EQ(rule.RepairType(), kRegSz);
    EXPECT_EQ(rule.RepairData(Absent()), Utf16(u"Ab\u7F51"));

    // No name, no value: the key's default value must be an empty string.
    const ValueRule empty = Rule("reg_sz", "");
    EXPECT_EQ(empty.Compare(Present(kRegSz, {0, 0})), Comparison::Match);
    EXPECT_EQ(empty.Compare(Present(kRegSz, {})), Comparison::Match);
    EXPECT_EQ(empty.RepairData(Absent()), (Bytes{0, 0}));
}

TEST(RegistryRules, UnknownTypesNeverMatch) {
    for (const char* type : {"REG_DWORD", "reg_qword", "", "reg_sz "}) {
        const ValueRule rule = Rule(type, "1");
        EXPECT_EQ(rule.kind, ValueRule::Kind::Unknown) << type;
        EXPECT_EQ(rule.Compare(Present(kRegDword, Dword(1))), Comparison::Failed) << type;
    }
}

TEST(RegistryRules, ProbePathsSplitAtTheFirstTwoCommas) {
    const auto full = SplitProbePath(L"hklm,Software\\Vendor\\App,Install Dir");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->root, RootKey::LocalMachine);
    EXPECT_EQ(full->subkey, L"Software\\Vendor\\App");
    EXPECT_EQ(full->valueName, L"Install Dir");

    const auto keyOnly = SplitProbePath(L"HKEY_USERS,Software\\X,");
    ASSERT_TRUE(keyOnly);
    EXPECT_EQ(keyOnly->root, RootKey::CurrentUser);
    EXPECT_EQ(keyOnly->valueName, L"");

    const auto commaInName = SplitProbePath(L"HKCR,CLSID,a,b");
    ASSERT_TRUE(commaInName);
    EXPECT_EQ(commaInName->subkey, L"CLSID");
    EXPECT_EQ(commaInName->valueName, L"a,b");

    EXPECT_FALSE(SplitProbePath(L"HKLM,Software"));
    EXPECT_FALSE(SplitProbePath(L"HKLM\\Software\\X"));
    EXPECT_FALSE(SplitProbePath(L""));
}

// --- the compatibility-view list ---

uint32_t Le32(const Bytes& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes.at(offset)) | static_cast<uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(offset + 2)) << 16 |
           static_cast<uint32_t>(bytes.at(offset + 3)) << 24;
}

// Counts at 8 and 20 agree, the length covers everything from offset 12.
void ExpectConsistentHeader(const Bytes& value, uint32_t records) {
    ASSERT_GE(value.size(), user_filter::kHeaderSize);
    EXPECT_EQ(Bytes(value.begin(), value.begin() + 8),
              (Bytes{0x41, 0x1F, 0x00, 0x00, 0x53, 0x08, 0xAD, 0xBA}));
    EXPECT_EQ(Le32(value, 8), records);
    EXPECT_EQ(Le32(value, 12), value.size() - 12);
    EXPECT_EQ(Le32(value, 16), 1u);
    EXPECT_EQ(Le32(value, 20), records);
}

// The record's fixed bytes and name at `offset`; returns the next offset.
size_t ExpectRecord(const Bytes& value, size_t offset, const std::string& site) {
    const size_t size = 18 + 2 * site.size();
    EXPECT_LE(offset + size, value.size());
    if (offset + size > value.size()) {
        return value.size();
    }
    const Bytes record(value.begin() + static_cast<std::ptrdiff_t>(offset),
                       value.begin() + static_cast<std::ptrdiff_t>(offset + size));
    EXPECT_EQ(Le32(record, 0), 12u);
    EXPECT_EQ(Bytes(record.begin() + 9, record.begin() + 12), (Bytes{0x84, 0xCD, 0x01}));
    EXPECT_EQ(Le32(record, 12), 1u);
    EXPECT_EQ(record[16] | record[17] << 8, static_cast<int>(site.size()));
    for (size_t i = 0; i < site.size(); ++i) {
        EXPECT_EQ(record[18 + 2 * i], static_cast<uint8_t>(site[i]));
        EXPECT_EQ(record[19 + 2 * i], 0);
    }
    return offset + size;
}

TEST(UserFilter, ANewValueIsTheBareHeader) {
    EXPECT_EQ(user_filter::NewValue(),
              (Bytes{0x41, 0x1F, 0x00, 0x00, 0x53, 0x08, 0xAD, 0xBA, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0,
                     0, 0, 0, 0, 0, 0}));

    const auto check = user_filter::PlanUpdate(nullptr, {}, false, 0);
    EXPECT_FALSE(check.ok) << "no list is not in order";
    EXPECT_FALSE(check.write);

    const auto repair = user_filter::PlanUpdate(nullptr, {}, true, 0);
    EXPECT_TRUE(repair.ok);
    EXPECT_TRUE(repair.write);
    EXPECT_EQ(repair.value, user_filter::NewValue());
}

TEST(UserFilter, OneNineCharacterSiteMakesSixtyBytes) {
    const auto plan = user_filter::PlanUpdate(nullptr, {"ab.cd.efg"}, true, 1700000000);
    ASSERT_TRUE(plan.ok);
    ASSERT_TRUE(plan.write);
    EXPECT_EQ(plan.value.size(), 60u);
    EXPECT_EQ(Le32(plan.value, 12), 48u);
    ExpectConsistentHeader(plan.value, 1);
    EXPECT_EQ(ExpectRecord(plan.value, 24, "ab.cd.efg"), 60u);
    EXPECT_TRUE(user_filter::HasSite(plan.value, "ab.cd.efg"));
}

TEST(UserFilter, StampsAreTenHexDigitsFromTheSeed) {
    for (const uint64_t seconds : {0ull, 1ull, 1700000000ull, 4102444800ull}) {
        const std::string stamp = user_filter::StampDigits(seconds);
        EXPECT_EQ(stamp.size(), 10u) << seconds;
        EXPECT_EQ(stamp.find_first_not_of("0123456789abcdef"), std::string::npos) << stamp;
        EXPECT_EQ(stamp, user_filter::StampDigits(seconds));
    }
    EXPECT_NE(user_filter::StampDigits(1), user_filter::StampDigits(2));
}

TEST(UserFilter, MissingSitesAreAppendedInOneWrite) {
    const auto first = user_filter::PlanUpdate(nullptr, {"a.example"}, true, 5);
    ASSERT_TRUE(first.write);

    const std::vector<std::string> sites = {"b.example", "a.example", "cc.example"};
    const auto check = user_filter::PlanUpdate(&first.value, sites, false, 6);
    EXPECT_FALSE(check.ok);
    EXPECT_FALSE(check.write);

    const auto repair = user_filter::PlanUpdate(&first.value, sites, true, 6);
    EXPECT_TRUE(repair.ok);
    EXPECT_TRUE(repair.write);
    ExpectConsistentHeader(repair.value, 3);
    size_t offset = ExpectRecord(repair.value, 24, "a.example");
    offset = ExpectRecord(repair.value, offset, "b.example");
    offset = ExpectRecord(repair.value, offset, "cc.example");
    EXPECT_EQ(offset, repair.value.size());

    const auto again = user_filter::PlanUpdate(&repair.value, sites, true, 7);
    EXPECT_TRUE(again.ok);
    EXPECT_FALSE(again.write) << "a list that holds every site is not written";
}

TEST(UserFilter, ASiteIsPresentOnlyAsAWholeRecordName) {
    const auto plan = user_filter::PlanUpdate(nullptr, {"ab.example", "b.example.cn"}, true, 1);
    ASSERT_TRUE(plan.write);
    EXPECT_TRUE(user_filter::HasSite(plan.value, "ab.example"));
    EXPECT_FALSE(user_filter::HasSite(plan.value, "b.example")) << "inside ab.example";
    EXPECT_FALSE(user_filter::HasSite(plan.value, "b.example.c")) << "start of b.example.cn";

    // In hex text "10061000" holds "006100" (the site "a" after its length's
    // high byte) at an odd digit, across two bytes: not a record.
    Bytes straddling = user_filter::NewValue();
    straddling.insert(straddling.end(), {0x10, 0x06, 0x10, 0x00});
    EXPECT_FALSE(user_filter::HasSite(straddling, "a"));
    EXPECT_FALSE(user_filter::PlanUpdate(&straddling, {"a"}, false, 1).ok);

    // A list written by another hand in the same format.
    const Bytes written = HexDecode(
        "411F00005308ADBA010000004200000001000000010000000C000000015D899DDC84CD0101000000"
        "12006C0075006E006D0061007200620061006E006B002E006500780061006D0070006C006500");
    EXPECT_TRUE(user_filter::HasSite(written, "lunmarbank.example"));
    EXPECT_FALSE(user_filter::HasSite(written, "bank.example"));
    EXPECT_FALSE(user_filter::HasSite(written, "Lunmarbank.example")) << "names compare exactly";
}

TEST(UserFilter, ValuesTooShortForAHeaderAreStartedAfresh) {
    const Bytes stub = {0x41, 0x1F, 0x00};
    EXPECT_FALSE(user_filter::PlanUpdate(&stub, {"a.example"}, false, 1).ok);
    const auto repair = user_filter::PlanUpdate(&stub, {"a.example"}, true, 1);
    EXPECT_TRUE(repair.ok);
    ExpectConsistentHeader(repair.value, 1);
    ExpectRecord(repair.value, 24, "a.example");
}

TEST(UserFilter, NamesWithoutARecordFormFailWithoutCorruptingTheList) {
    const std::string tooLong(256, 'a');
    const auto plan = user_filter::PlanUpdate(nullptr, {"a.example", tooLong, "", "b.example"}, true, 1);
    EXPECT_FALSE(plan.ok);
    EXPECT_TRUE(plan.write) << "the sites that fit are still written";
    ExpectConsistentHeader(plan.value, 2);
    const size_t offset = ExpectRecord(plan.value, 24, "a.example");
    EXPECT_EQ(ExpectRecord(plan.value, offset, "b.example"), plan.value.size());

    Bytes value = user_filter::NewValue();
    EXPECT_FALSE(user_filter::AppendSite(value, tooLong, 1));
    EXPECT_TRUE(user_filter::AppendSite(value, std::string(255, 'z'), 1));
    ExpectConsistentHeader(value, 1);
}

}  // namespace
}  // namespace wayfarer
