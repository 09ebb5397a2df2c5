// Registry settings: the compatibility-view list, the document's registry
// entries and the registry-tools policy.
// The rules over value bytes are portable; the operations that touch the
// registry are Windows only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/check_items.h"

namespace wayfarer {

// KEY_READ | KEY_WRITE: every key is opened with it, also for reading only.
constexpr uint32_t kRegistryAccess = 0x2001F;

// Value types as the registry numbers them.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

enum class RootKey { CurrentUser, LocalMachine, ClassesRoot };

// HKLM/HKEY_LOCAL_MACHINE, HKCU/HKEY_CURRENT_USER, HKCR/HKEY_CLASSES_ROOT in
// any ASCII case; every other name, the empty one included, is the current
// user's root.
RootKey ParseRootKeyName(std::string_view name);
RootKey ParseRootKeyName(std::wstring_view name);

// Two upper-case digits per byte, high nibble first.
std::string HexEncode(const std::vector<uint8_t>& bytes);
// Pairs of characters from the start; a character that is not a hex digit
// counts as 0 and a trailing single character is dropped.
std::vector<uint8_t> HexDecode(std::string_view text);

// A decimal DWORD read like atoi: leading blanks, an optional sign, digits up
// to the first other character, 0 without digits. Out of range, positive
// numbers stop at 0xFFFFFFFF and negative ones at -2^31 (0x80000000).
uint32_t ParseDword(std::string_view text);

// One registry value as read: its outcome, type and bytes.
struct StoredValue {
    enum class Status { Present, Absent, Failed };
    Status status = Status::Failed;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

enum class Comparison { Match, Mismatch, Missing, Failed };

// What one registry entry of the document expects, built from its type,
// value and mask.
struct ValueRule {
    enum class Kind { Dword, String, Binary, Unknown };
    Kind kind = Kind::Unknown;
    uint32_t dword = 0;
    uint32_t mask = 0xFFFFFFFF;
    std::vector<uint8_t> bytes;  // Binary: the expected bytes
    std::u16string text;         // String: the expected text, unterminated

    // The read buffer the value is compared through: 4 bytes, 512 UTF-16
    // units or 512 bytes. A larger stored value is a read failure.
    size_t ReadBufferBytes() const;
    Comparison Compare(const StoredValue& stored) const;
    // The type and bytes a repair writes after a mismatch or a missing value.
    uint32_t RepairType() const;
    std::vector<uint8_t> RepairData(const StoredValue& stored) const;
};

// `wideValue` is the entry's value as UTF-16, used for "reg_sz" only.
ValueRule MakeValueRule(const ConfigEntry& entry, std::u16string wideValue);

// "root,subkey,value name" of a detect rule.
struct ProbePath {
    RootKey root = RootKey::CurrentUser;
    std::wstring subkey;
    std::wstring valueName;
};
std::optional<ProbePath> SplitProbePath(std::wstring_view text);

// The compatibility-view list "UserFilter": a 24-byte header and one record
// per site.
namespace user_filter {

constexpr size_t kHeaderSize = 24;
// Names are stored with a one-byte length.
constexpr size_t kMaxSiteLength = 255;

std::vector<uint8_t> NewValue();
// True when a record with exactly this name is in the list.
bool HasSite(const std::vector<uint8_t>& value, std::string_view site);
// Appends a record, its stamp drawn from a generator seeded with `seconds`,
// and updates the header's counts and length. False, with nothing changed,
// for a value without a whole header or a name that has no record form.
bool AppendSite(std::vector<uint8_t>& value, std::string_view site, uint64_t seconds);
// The ten hexadecimal stamp digits for a seed.
std::string StampDigits(uint64_t seconds);

// What a check or repair does to the list.
struct Plan {
    bool ok = false;     // the outcome, unless the write below fails
    bool write = false;  // write `value` as the new list
    std::vector<uint8_t> value;
};
// `stored` is null when the value is absent, unreadable or not binary.
Plan PlanUpdate(const std::vector<uint8_t>* stored, const std::vector<std::string>& sites,
                bool repair, uint64_t seconds);

}  // namespace user_filter

#ifdef _WIN32
// Keys of the fixed values, under HKEY_CURRENT_USER. Tests point them at a
// subtree of their own.
struct RegistryPlaces {
    std::wstring browserEmulation = L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation";
    std::wstring clearableListData =
        L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";
    std::wstring systemPolicies = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
};

// The whole registry step; stores its result in registryOk.
bool CheckRegistry(CheckItems& items, bool repair, const RegistryPlaces& places = {});
// Stores its result in registryOk too.
bool CheckCompatibilityList(CheckItems& items, bool repair, const RegistryPlaces& places = {});
bool CheckRegistryEntry(const ConfigEntry& entry, bool repair);
// True when root\subkey opens and, for a non-empty value name, that value
// can be queried.
bool ProbeRegistryPath(std::wstring_view text);
#endif

}  // namespace wayfarer
