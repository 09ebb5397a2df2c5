#include <windows.h>

#include <ctime>

#include "checks/registry.h"
#include "common/handles.h"
#include "common/text.h"

namespace wayfarer {

static_assert(kRegistryAccess == (KEY_READ | KEY_WRITE), "access mask");
static_assert(kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ && kRegBinary == REG_BINARY &&
                  kRegDword == REG_DWORD,
              "value types");

namespace {

HKEY RootKeyHandle(RootKey root) {
    switch (root) {
        case RootKey::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RootKey::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RootKey::CurrentUser:
            break;
    }
    return HKEY_CURRENT_USER;
}

unique_hkey OpenKey(HKEY root, const std::wstring& subkey) {
    unique_hkey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, kRegistryAccess, key.put()) != ERROR_SUCCESS) {
        key.reset();
    }
    return key;
}

unique_hkey CreateKey(HKEY root, const std::wstring& subkey) {
    unique_hkey key;
    if (RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        kRegistryAccess, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        key.reset();
    }
    return key;
}

StoredValue ReadValue(HKEY key, const std::wstring& name, size_t bufferBytes) {
    StoredValue stored;
    stored.data.resize(bufferBytes);
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(bufferBytes);
    const LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                            stored.data.empty() ? nullptr : stored.data.data(), &size);
    if (status == ERROR_SUCCESS && size <= bufferBytes) {
        stored.status = StoredValue::Status::Present;
        stored.type = type;
        stored.data.resize(size);
    } else if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        stored.status = StoredValue::Status::Absent;
        stored.data.clear();
    } else {
        stored.data.clear();  // too large for the buffer, or unreadable
    }
    return stored;
}

std::u16string ToUtf16(std::string_view utf8) {
    const std::wstring wide = Utf8ToWide(utf8);
    return std::u16string(wide.begin(), wide.end());
}

bool CompatibilityListResult(const CheckItems& items, bool repair, const RegistryPlaces& places) {
    const ConfigGroup* group = items.FindGroup("compatibility");
    if (group == nullptr) {
        return true;
    }
    ConfigEntry allSites;
    allSites.text = "HKEY_CURRENT_USER\\" + WideToUtf8(places.browserEmulation);
    allSites.name = "AllSitesCompatibilityMode";
    allSites.type = "reg_dword";
    allSites.value = "1";
    if (CheckRegistryEntry(allSites, false)) {
        return true;
    }

    // A missing list key is created in both modes; only the value waits for
    // a repair.
    unique_hkey key = OpenKey(HKEY_CURRENT_USER, places.clearableListData);
    std::vector<uint8_t> stored;
    bool readable = false;
    if (!key) {
        key = CreateKey(HKEY_CURRENT_USER, places.clearableListData);
    } else {
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), L"UserFilter", nullptr, &type, nullptr, &size) ==
                ERROR_SUCCESS &&
            type == REG_BINARY) {
            stored.resize(size);
            readable = RegQueryValueExW(key.get(), L"UserFilter", nullptr, &type,
                                        stored.empty() ? nullptr : stored.data(),
                                        &size) == ERROR_SUCCESS &&
                       type == REG_BINARY && size == stored.size();
        }
    }

    std::vector<std::string> sites;
    sites.reserve(group->entries.size());
    for (const auto& entry : group->entries) {
        sites.push_back(entry.text);
    }
    const user_filter::Plan plan = user_filter::PlanUpdate(
        readable ? &stored : nullptr, sites, repair, static_cast<uint64_t>(std::time(nullptr)));
    if (!plan.write) {
        return plan.ok;
    }
    const bool written =
        key && RegSetValueExW(key.get(), L"UserFilter", 0, REG_BINARY, plan.value.data(),
                              static_cast<DWORD>(plan.value.size())) == ERROR_SUCCESS;
    return plan.ok && written;
}

bool RegistryToolsAllowed(bool repair, const RegistryPlaces& places) {
    const unique_hkey key = OpenKey(HKEY_CURRENT_USER, places.systemPolicies);
    if (!key) {
        return true;
    }
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), L"Disableregistrytools", nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value) || value == 0) {
        return true;
    }
    if (!repair) {
        return false;
    }
    return RegDeleteValueW(key.get(), L"Disableregistrytools") == ERROR_SUCCESS;
}

}  // namespace

bool CheckRegistryEntry(const ConfigEntry& entry, bool repair) {
    const size_t slash = entry.text.find('\\');
    if (slash == std::string::npos) {
        return false;
    }
    const HKEY root = RootKeyHandle(ParseRootKeyName(std::string_view(entry.text).substr(0, slash)));
    const std::wstring subkey = Utf8ToWide(std::string_view(entry.text).substr(slash + 1));

    unique_hkey key = OpenKey(root, subkey);
    if (!key) {
        if (!repair) {
            return false;
        }
        key = CreateKey(root, subkey);
        if (!key) {
            return false;
        }
    }

    const ValueRule rule = MakeValueRule(entry, ToUtf16(entry.value));
    if (rule.kind == ValueRule::Kind::Unknown) {
        return false;
    }
    const std::wstring name = Utf8ToWide(entry.name);
    // At most one write; the comparison after it decides, not its status.
    for (;;) {
        const StoredValue stored = ReadValue(key.get(), name, rule.ReadBufferBytes());
        switch (rule.Compare(stored)) {
            case Comparison::Match:
                return true;
            case Comparison::Failed:
                return false;
            case Comparison::Mismatch:
            case Comparison::Missing:
                break;
        }
        if (!repair) {
            return false;
        }
        repair = false;
        const std::vector<uint8_t> data = rule.RepairData(stored);
        RegSetValueExW(key.get(), name.c_str(), 0, rule.RepairType(),
                       data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
    }
}

bool CheckCompatibilityList(CheckItems& items, bool repair, const RegistryPlaces& places) {
    const bool result = CompatibilityListResult(items, repair, places);
    items.registryOk = result;
    return result;
}

bool CheckRegistry(CheckItems& items, bool repair, const RegistryPlaces& places) {
    bool result = CheckCompatibilityList(items, repair, places);
    if (result) {
        if (const ConfigGroup* group = items.FindGroup("registry")) {
            for (const auto& entry : group->entries) {
                if (!CheckRegistryEntry(entry, repair)) {
                    result = false;
                    break;
                }
            }
        }
    }
    if (result) {
        result = RegistryToolsAllowed(repair, places);
    }
    items.registryOk = result;
    return result;
}

bool ProbeRegistryPath(std::wstring_view text) {
    const std::optional<ProbePath> path = SplitProbePath(text);
    if (!path) {
        return false;
    }
    const unique_hkey key = OpenKey(RootKeyHandle(path->root), path->subkey);
    if (!key) {
        return false;
    }
    if (path->valueName.empty()) {
        return true;
    }
    return RegQueryValueExW(key.get(), path->valueName.c_str(), nullptr, nullptr, nullptr,
                            nullptr) == ERROR_SUCCESS;
}

}  // namespace wayfarer
