#include "components/detection_windows.h"

#include <wincrypt.h>
#include <shlwapi.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "checks/registry.h"
#include "common/handles.h"
#include "common/text.h"
#include "components/detection.h"

namespace wayfarer {

namespace {

// A rule's text for a wide call; none when it cannot be converted or holds a
// zero, which would cut the text short and name another key or file.
std::optional<std::wstring> SystemText(std::string_view text) {
    std::wstring wide = Utf8ToWide(text);
    if ((wide.empty() && !text.empty()) || wide.find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    return wide;
}

// A key name holds at most 255 characters.
constexpr size_t kMaxKeyNameUnits = 255;

// The clsid as exactly one key name; empty when it would name another key.
std::wstring ClsidKeyName(std::string_view clsid) {
    const std::optional<std::wstring> name = SystemText(clsid);
    if (!name || name->empty() || name->size() > kMaxKeyNameUnits ||
        name->find(L'\\') != std::wstring::npos) {
        return {};
    }
    return *name;
}

}  // namespace

bool ReadFileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return false;
    }
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        return false;
    }
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueW(block.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    info = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return true;
}

std::string FileMd5Hex(const std::wstring& path) {
    // Shared for writing and deleting too: the running executable and a
    // file another program holds open must still be readable.
    const unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return {};
    }
    HCRYPTPROV rawProvider = 0;
    if (!::CryptAcquireContextW(&rawProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return {};
    }
    const unique_hcryptprov provider(rawProvider);
    HCRYPTHASH rawHash = 0;
    if (!::CryptCreateHash(provider.get(), CALG_MD5, 0, 0, &rawHash)) {
        return {};
    }
    const unique_hcrypthash hash(rawHash);

    std::vector<BYTE> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return {};
        }
        if (read == 0) {
            break;
        }
        if (!::CryptHashData(hash.get(), buffer.data(), read, 0)) {
            return {};
        }
    }
    BYTE digest[16] = {};
    DWORD digestSize = sizeof(digest);
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0) || digestSize != sizeof(digest)) {
        return {};
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (const BYTE byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0F]);
    }
    return text;
}

bool CheckFileEntry(const FileRef& file) {
    const std::optional<std::wstring> wide = SystemText(file.local);
    if (!wide || wide->empty() || !::PathFileExistsW(wide->c_str())) {
        return false;
    }
    const std::wstring& local = *wide;
    if (!file.version.empty()) {
        VS_FIXEDFILEINFO info{};
        if (!ReadFileVersion(local, info) ||
            !FileVersionMeets(file.version, info.dwFileVersionMS, info.dwFileVersionLS)) {
            return false;
        }
    }
    return file.md5.empty() || FileMd5Hex(local) == file.md5;
}

bool IsClassRegistered(std::string_view clsid) {
    const std::wstring name = ClsidKeyName(clsid);
    if (name.empty()) {
        return false;
    }
    const std::wstring path = L"CLSID\\" + name + L"\\InprocServer32";
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t server[MAX_PATH] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof(server);
    if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(server), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    // The stored text need not end in a zero, but it must fit with one.
    const size_t units = size / sizeof(wchar_t);
    if (std::find(server, server + units, L'\0') == server + units) {
        if (units >= MAX_PATH) {
            return false;
        }
        server[units] = L'\0';
    }
    return ::PathFileExistsW(server) != FALSE;
}

bool CheckAddonDisabled(std::string_view clsid, bool reenable, std::wstring_view settingsKey) {
    const std::wstring name = ClsidKeyName(clsid);
    if (name.empty()) {
        return false;
    }
    const std::wstring path = std::wstring(settingsKey) + L"\\" + name;
    bool disabled = false;
    {
        unique_hkey key;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            return false;
        }
        DWORD flags = 0;
        DWORD type = REG_NONE;
        DWORD size = sizeof(flags);
        disabled = ::RegQueryValueExW(key.get(), L"Flags", nullptr, &type, reinterpret_cast<BYTE*>(&flags),
                                      &size) == ERROR_SUCCESS &&
                   type == REG_DWORD && flags == 1;
    }
    if (disabled && reenable) {
        // A key that will not go (one with subkeys, say) leaves the control
        // switched off, and that is what is reported.
        return ::RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) != ERROR_SUCCESS;
    }
    return disabled;
}

WindowsDetectionProbe::WindowsDetectionProbe(UsbQuestion usbDevicePresent)
    : usbDevicePresent_(std::move(usbDevicePresent)) {}

bool WindowsDetectionProbe::AddonDisabled(const std::string& clsid) {
    return CheckAddonDisabled(clsid, false);
}

bool WindowsDetectionProbe::ClassRegistered(const std::string& clsid) {
    return IsClassRegistered(clsid);
}

bool WindowsDetectionProbe::RegistryPathExists(const std::string& text) {
    const std::optional<std::wstring> wide = SystemText(text);
    return wide && ProbeRegistryPath(*wide);
}

bool WindowsDetectionProbe::FileRuleExists(const std::string& text) {
    const std::optional<std::wstring> wide = SystemText(text);
    if (!wide) {
        return false;
    }
    const std::wstring path = ExpandPath(*wide);
    return !path.empty() && ::PathFileExistsW(path.c_str()) != FALSE;
}

bool WindowsDetectionProbe::FileEntryOk(const FileRef& file) {
    return CheckFileEntry(file);
}

bool WindowsDetectionProbe::UsbDevicePresent(const std::vector<uint32_t>& ids) {
    return usbDevicePresent_ && usbDevicePresent_(ids);
}

}  // namespace wayfarer
