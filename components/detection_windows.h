// The probes of component detection that touch files and the registry.
// Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "components/detection.h"
#include "config/check_items.h"

namespace wayfarer {

// The file's fixed version block; false when it has none or cannot be read.
bool ReadFileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info);

// The MD5 digest of the file's content as 32 lower-case hex digits; empty
// when the file cannot be read to its end. Opened by its wide path, so a
// name the ANSI code page cannot spell is still found.
std::string FileMd5Hex(const std::wstring& path);

// The entry's local file exists, meets its version (when one is given) and
// has exactly its md5 (when one is given; upper-case never matches).
bool CheckFileEntry(const FileRef& file);

// The clsid texts below (UTF-8, braces included, as the document writes
// them) are used as one registry key name. A text that would name some
// other key (empty, holding a backslash or a zero, longer than a key name)
// is refused: not registered, not disabled, nothing deleted.

// HKCR\CLSID\{clsid}\InprocServer32 names, unexpanded, a file that exists.
bool IsClassRegistered(std::string_view clsid);

// Where, under HKEY_CURRENT_USER, the browser keeps each add-on's settings.
inline constexpr wchar_t kAddonSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings";

// The browser's add-on settings switch the control off ("Flags" is the
// DWORD 1 under settingsKey\{clsid}). With `reenable`, a disabled control's
// settings key, and only that key, is deleted; the result is then false,
// unless the deletion failed and the control is still switched off.
bool CheckAddonDisabled(std::string_view clsid, bool reenable,
                        std::wstring_view settingsKey = kAddonSettingsKey);

// Detection's questions answered by this machine. The USB question is given
// by the caller, so that detection needs nothing of the USB layer.
class WindowsDetectionProbe final : public DetectionProbe {
public:
    using UsbQuestion = std::function<bool(const std::vector<uint32_t>&)>;
    explicit WindowsDetectionProbe(UsbQuestion usbDevicePresent);

    bool AddonDisabled(const std::string& clsid) override;
    bool ClassRegistered(const std::string& clsid) override;
    // ProbeRegistryPath of the text.
    bool RegistryPathExists(const std::string& text) override;
    // The path with %NAME% references expanded exists (a folder counts); a
    // path whose expansion fails or does not fit MAX_PATH counts as absent.
    bool FileRuleExists(const std::string& text) override;
    bool FileEntryOk(const FileRef& file) override;
    bool UsbDevicePresent(const std::vector<uint32_t>& ids) override;

private:
    UsbQuestion usbDevicePresent_;
};

}  // namespace wayfarer
