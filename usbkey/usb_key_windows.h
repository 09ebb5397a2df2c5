// The makers' token libraries as the Windows build loads them: from the
// executable's own folder, looked up with GetProcAddress, called with the
// stdcall convention. Windows only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/check_items.h"
#include "usbkey/usb_key.h"

namespace wayfarer {

// The library at `path`; null when it does not load. It stays loaded for the
// life of the process.
std::unique_ptr<TokenLibrary> LoadTokenLibrary(const std::wstring& path);

// The running executable's path with `relativeName` appended ("..\X.dll"
// names X.dll beside the executable); empty when either step fails.
std::wstring PathBesideExecutable(const char* relativeName);

// The USB-key step of the component sequence: reads every key library the
// configuration names and reports to `page`.
void ReadUsbKeys(const std::vector<ComponentItem>& items, UsbKeyPage& page);

}  // namespace wayfarer
