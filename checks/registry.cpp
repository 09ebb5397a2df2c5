#include "checks/registry.h"

#include <algorithm>
#include <random>

#include "common/number.h"

namespace wayfarer {

namespace {

template <typename Char>
RootKey ParseRootKeyNameOf(std::basic_string_view<Char> name) {
    // Only ASCII letters are folded: no other character may turn a name into
    // one of the table's.
    std::string upper;
    upper.reserve(name.size());
    for (const Char c : name) {
        if (c >= 'a' && c <= 'z') {
            upper += static_cast<char>(c - 'a' + 'A');
        } else if (c > 0 && c < 0x80) {
            upper += static_cast<char>(c);
        } else {
            return RootKey::CurrentUser;
        }
    }
    if (upper == "HKLM" || upper == "HKEY_LOCAL_MACHINE") {
        return RootKey::LocalMachine;
    }
    if (upper == "HKCR" || upper == "HKEY_CLASSES_ROOT") {
        return RootKey::ClassesRoot;
    }
    return RootKey::CurrentUser;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void WriteLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::vector<uint8_t> Le32Bytes(uint32_t value) {
    std::vector<uint8_t> bytes(4);
    WriteLe32(bytes, 0, value);
    return bytes;
}

// The name field of a record: the length's two bytes, then each ASCII byte
// followed by 00 (UTF-16LE).
std::vector<uint8_t> SiteField(std::string_view site) {
    std::vector<uint8_t> field;
    field.reserve(2 + 2 * site.size());
    field.push_back(static_cast<uint8_t>(site.size()));
    field.push_back(0);
    for (const char c : site) {
        field.push_back(static_cast<uint8_t>(c));
        field.push_back(0);
    }
    return field;
}

bool Encodable(std::string_view site) {
    return !site.empty() && site.size() <= user_filter::kMaxSiteLength;
}

}  // namespace

RootKey ParseRootKeyName(std::string_view name) { return ParseRootKeyNameOf(name); }
RootKey ParseRootKeyName(std::wstring_view name) { return ParseRootKeyNameOf(name); }

std::string HexEncode(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::vector<uint8_t> HexDecode(std::string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1])));
    }
    return bytes;
}

uint32_t ParseDword(std::string_view text) {
    // The value is a DWORD: positive numbers use all 32 bits, negative ones
    // stop at the int32 limit as atoi's do, and wrap as a DWORD.
    return static_cast<uint32_t>(number::ParseLeading(text, 0xFFFFFFFFu, 0x80000000u));
}

size_t ValueRule::ReadBufferBytes() const {
    switch (kind) {
        case Kind::Dword:
            return 4;
        case Kind::String:
            return 512 * sizeof(char16_t);
        case Kind::Binary:
            return 512;
        case Kind::Unknown:
            break;
    }
    return 0;
}

Comparison ValueRule::Compare(const StoredValue& stored) const {
    if (stored.status == StoredValue::Status::Absent) {
        return Comparison::Missing;
    }
    if (stored.status != StoredValue::Status::Present || stored.data.size() > ReadBufferBytes()) {
        return Comparison::Failed;
    }
    switch (kind) {
        case Kind::Dword: {
            if (stored.type != kRegDword || stored.data.size() != 4) {
                return Comparison::Failed;
            }
            const uint32_t value = ReadLe32(stored.data, 0);
            return (value & mask) == (dword & mask) ? Comparison::Match : Comparison::Mismatch;
        }
        case Kind::Binary: {
            if (stored.type != kRegBinary) {
                return Comparison::Failed;
            }
            // A stored prefix of the expected bytes, the empty one included,
            // is accepted.
            if (stored.data.size() > bytes.size()) {
                return Comparison::Mismatch;
            }
            return std::equal(stored.data.begin(), stored.data.end(), bytes.begin())
                       ? Comparison::Match
                       : Comparison::Mismatch;
        }
        case Kind::String: {
            if (stored.type != kRegSz && stored.type != kRegExpandSz) {
                return Comparison::Failed;
            }
            // The string ends at its terminator, or with the data when a
            // writer left it out; never beyond what was read.
            std::u16string value;
            for (size_t i = 0; i + 1 < stored.data.size(); i += 2) {
                const auto unit = static_cast<char16_t>(stored.data[i] | stored.data[i + 1] << 8);
                if (unit == 0) {
                    break;
                }
                value += unit;
            }
            return value == text ? Comparison::Match : Comparison::Mismatch;
        }
        case Kind::Unknown:
            break;
    }
    return Comparison::Failed;
}

uint32_t ValueRule::RepairType() const {
    switch (kind) {
        case Kind::Dword:
            return kRegDword;
        case Kind::String:
            return kRegSz;
        case Kind::Binary:
        case Kind::Unknown:
            break;
    }
    return kRegBinary;
}

std::vector<uint8_t> ValueRule::RepairData(const StoredValue& stored) const {
    switch (kind) {
        case Kind::Dword: {
            // A mismatch keeps the stored bits outside the mask.
            if (Compare(stored) == Comparison::Mismatch) {
                return Le32Bytes((ReadLe32(stored.data, 0) & ~mask) | (dword & mask));
            }
            return Le32Bytes(dword & mask);
        }
        case Kind::String: {
            std::vector<uint8_t> data;
            data.reserve((text.size() + 1) * 2);
            for (const char16_t unit : text) {
                data.push_back(static_cast<uint8_t>(unit & 0xFF));
                data.push_back(static_cast<uint8_t>(unit >> 8));
            }
            data.push_back(0);
            data.push_back(0);
            return data;
        }
        case Kind::Binary:
            return bytes;
        case Kind::Unknown:
            break;
    }
    return {};
}

ValueRule MakeValueRule(const ConfigEntry& entry, std::u16string wideValue) {
    ValueRule rule;
    if (entry.type == "reg_dword") {
        rule.kind = ValueRule::Kind::Dword;
        rule.dword = ParseDword(entry.value);
        rule.mask = entry.mask.empty() ? 0xFFFFFFFFu : ParseDword(entry.mask);
    } else if (entry.type == "reg_sz") {
        rule.kind = ValueRule::Kind::String;
        rule.text = std::move(wideValue);
    } else if (entry.type == "reg_binary") {
        rule.kind = ValueRule::Kind::Binary;
        rule.bytes = HexDecode(entry.value);
    }
    return rule;
}

std::optional<ProbePath> SplitProbePath(std::wstring_view text) {
    const size_t first = text.find(L',');
    if (first == std::wstring_view::npos) {
        return std::nullopt;
    }
    const std::wstring_view rest = text.substr(first + 1);
    const size_t second = rest.find(L',');
    if (second == std::wstring_view::npos) {
        return std::nullopt;
    }
    ProbePath path;
    path.root = ParseRootKeyName(text.substr(0, first));
    path.subkey = std::wstring(rest.substr(0, second));
    path.valueName = std::wstring(rest.substr(second + 1));
    return path;
}

namespace user_filter {

std::vector<uint8_t> NewValue() {
    return {0x41, 0x1F, 0x00, 0x00, 0x53, 0x08, 0xAD, 0xBA, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

bool HasSite(const std::vector<uint8_t>& value, std::string_view site) {
    if (!Encodable(site)) {
        return false;
    }
    // The length in front of the name keeps "b.example" from being found
    // inside "ab.example" or "b.example.cn"; whole bytes keep a match from
    // straddling two of them.
    const std::vector<uint8_t> field = SiteField(site);
    return std::search(value.begin(), value.end(), field.begin(), field.end()) != value.end();
}

std::string StampDigits(uint64_t seconds) {
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(seconds));
    uint64_t number = 0;
    uint64_t scale = 1;
    for (int i = 0; i < 12; ++i) {
        number += (generator() % 10) * scale;
        scale *= 10;
    }
    // Lower-case hex without leading zeros, completed on the right: less
    // than 10^12, so never more than ten digits.
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[number & 0x0F]);
        number >>= 4;
    } while (number != 0);
    hex.resize(10, '0');
    return hex;
}

bool AppendSite(std::vector<uint8_t>& value, std::string_view site, uint64_t seconds) {
    if (value.size() < kHeaderSize || !Encodable(site)) {
        return false;
    }
    const std::vector<uint8_t> stamp = HexDecode(StampDigits(seconds));
    const std::vector<uint8_t> field = SiteField(site);
    const uint8_t head[] = {0x0C, 0x00, 0x00, 0x00};
    const uint8_t tail[] = {0x84, 0xCD, 0x01, 0x01, 0x00, 0x00, 0x00};
    value.insert(value.end(), std::begin(head), std::end(head));
    value.insert(value.end(), stamp.begin(), stamp.end());
    value.insert(value.end(), std::begin(tail), std::end(tail));
    value.insert(value.end(), field.begin(), field.end());

    const uint32_t count = ReadLe32(value, 8) + 1;
    WriteLe32(value, 8, count);
    WriteLe32(value, 20, count);
    WriteLe32(value, 12, static_cast<uint32_t>(value.size() - 12));
    return true;
}

Plan PlanUpdate(const std::vector<uint8_t>* stored, const std::vector<std::string>& sites,
                bool repair, uint64_t seconds) {
    Plan plan;
    bool failed = false;
    // A value too short for its header holds no site: it is started afresh
    // like an absent one.
    if (stored != nullptr && stored->size() >= kHeaderSize) {
        plan.value = *stored;
        for (const auto& site : sites) {
            if (site.empty() || HasSite(plan.value, site)) {
                continue;  // an empty name asks for nothing
            }
            if (!repair) {
                return plan;
            }
            if (AppendSite(plan.value, site, seconds)) {
                plan.write = true;
            } else {
                failed = true;  // a name too long for a record
            }
        }
        plan.ok = !failed;
        return plan;
    }
    if (!repair) {
        return plan;
    }
    plan.value = NewValue();
    for (const auto& site : sites) {
        if (!site.empty() && !AppendSite(plan.value, site, seconds)) {
            failed = true;
        }
    }
    plan.write = true;
    plan.ok = !failed;
    return plan;
}

}  // namespace user_filter

}  // namespace wayfarer
