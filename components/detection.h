// Component detection: what the document's detect rules and file entries
// say about each component. The rules are portable; the probes that touch
// the registry, files and the USB tree are Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/check_items.h"

namespace wayfarer {

// Whether a file whose fixed version block holds `fileMs` and `fileLs`
// meets the required "a.b.c.d" (missing pieces 0, each read like atoi, low
// 16 bits). The two halves are compared on their own: 2.0.0.0 does not meet
// 1.0.0.2, because its low half 0.0 is below 0.2.
bool FileVersionMeets(std::string_view required, uint32_t fileMs, uint32_t fileLs);

// The USB identifiers (vendor << 16 | product) of a "usbkey" rule: the text
// cut at commas, each piece read as strtol reads it with base 0 and a 32-bit
// long (0x/0X hexadecimal, leading 0 octal, else decimal; white space and a
// sign first; reading stops at the first character that does not fit).
// Pieces that read as 0 are dropped. Above 0x7FFFFFFF a piece reads as
// 0x7FFFFFFF and below -0x80000000 as 0x80000000; other negative pieces keep
// their two's complement ("-1" is 0xFFFFFFFF), as strtol's result would.
std::vector<uint32_t> ParseUsbKeyIds(std::string_view text);

// What detection asks of the machine, one question per rule kind. Texts are
// the rules' own UTF-8 texts.
class DetectionProbe {
public:
    virtual ~DetectionProbe() = default;
    // The browser's add-on settings have switched the control off.
    virtual bool AddonDisabled(const std::string& clsid) = 0;
    // The control's in-process server is registered and its file exists.
    virtual bool ClassRegistered(const std::string& clsid) = 0;
    // A "reg" rule's "root,subkey,value name" is there.
    virtual bool RegistryPathExists(const std::string& text) = 0;
    // A "file" rule's path, environment references expanded, exists.
    virtual bool FileRuleExists(const std::string& text) = 0;
    // The entry's local file exists, is current and has its digest.
    virtual bool FileEntryOk(const FileRef& file) = 0;
    // One of these devices is plugged in. Never asked with an empty list.
    virtual bool UsbDevicePresent(const std::vector<uint32_t>& ids) = 0;
};

// Writes the state word of every item, each from 0: the code (0, 1, 2, 4 or
// 5) with the disabled and key-absent bits (component_state).
void DetectComponents(std::vector<ComponentItem>& list, DetectionProbe& probe);

}  // namespace wayfarer
