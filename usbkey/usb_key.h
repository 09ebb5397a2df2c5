// The USB keys of the four makers, read through each maker's token library
// and reported to the page in categories 800 to 803. Portable: a library is
// reached through TokenLibrary (GetProcAddress in the Windows build, a
// script in the tests), the page through UsbKeyPage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/check_items.h"

namespace wayfarer {

// One maker's token library: each export looked up by name as a function of
// the shape the drivers call it with; an empty function when the library
// has no such export. Results are the raw 32-bit return register; the
// drivers read one-byte results from its low byte. Texts are narrow and
// zero-terminated.
class TokenLibrary {
public:
    using Call = std::function<uint32_t()>;
    using BufferCall = std::function<uint32_t(char* buffer)>;
    using ValueCall = std::function<uint32_t(uint32_t* value)>;
    using SerialCall = std::function<uint32_t(const char* serial)>;
    using SerialBufferCall = std::function<uint32_t(const char* serial, char* buffer)>;
    using SerialValueCall = std::function<uint32_t(const char* serial, uint32_t* value)>;

    virtual ~TokenLibrary() = default;
    virtual Call FindCall(const char* name) = 0;
    virtual BufferCall FindBufferCall(const char* name) = 0;
    virtual ValueCall FindValueCall(const char* name) = 0;
    virtual SerialCall FindSerialCall(const char* name) = 0;
    virtual SerialBufferCall FindSerialBufferCall(const char* name) = 0;
    virtual SerialValueCall FindSerialValueCall(const char* name) = 0;
};

// The sizes the libraries are told about (by convention; they get no size
// argument). Every buffer handed over has one zero byte more, so a library
// that fills one to the brim still leaves a terminated string.
constexpr size_t kVersionBufferSize = 256;
constexpr size_t kListBufferSize = 2048;

// A Feitian library reports a certificate count, not names; a count above
// this is taken as this many (no key holds nearly so many, and the count
// becomes a list of names).
constexpr uint32_t kMaxCertificateCount = 1024;

// What one maker's library says about the keys plugged in. The per-key
// lists are filled independently: a list gets an entry only for a key whose
// call succeeded, so entries of different lists need not line up.
class CUSBKey {
public:
    // `library` is null when it could not be loaded; ReadKeys then reads
    // nothing.
    explicit CUSBKey(std::unique_ptr<TokenLibrary> library);
    virtual ~CUSBKey();
    CUSBKey(const CUSBKey&) = delete;
    CUSBKey& operator=(const CUSBKey&) = delete;

    virtual void ReadKeys() = 0;

    std::string driverVersion;                       // empty when not reported
    std::vector<std::string> serials;                // one per key found
    std::vector<std::vector<std::string>> certNames; // per key; Feitian: as many empty names as certificates
    std::vector<std::string> webUrls;                // per key; not shown
    std::vector<uint32_t> pinRetries;                // per key, remaining PIN attempts
    std::vector<uint32_t> keyComplete;               // 0 marks an incomplete key
    std::vector<uint32_t> defaultPin;                // non-zero: the PIN is still the maker's
    std::unique_ptr<TokenLibrary> module;
};

// Huahong, BHDLL.dll.
class CHuahongUSBKey final : public CUSBKey {
public:
    using CUSBKey::CUSBKey;
    void ReadKeys() override;
};

// Tiancheng, TC_RZ_LR.dll.
class CTianchengUSBKey final : public CUSBKey {
public:
    using CUSBKey::CUSBKey;
    void ReadKeys() override;
};

// Feitian, Ftbank_ePass2000Auto.dll.
class CFeitianUSBKey final : public CUSBKey {
public:
    using CUSBKey::CUSBKey;
    void ReadKeys() override;
};

// Feitian's second library, Ftbank_InterPass3000.dll.
class CFeitian2USBKey final : public CUSBKey {
public:
    using CUSBKey::CUSBKey;
    void ReadKeys() override;
};

// One driver class as the configuration names it.
struct UsbKeyClass {
    const char* className;  // the ComponentItem's className
    int32_t category;       // page category, 800 to 803
    const char* library;    // relative to the executable's path: "..\X.dll"
};

// The class whose name equals `className` exactly (whole length, case
// counts); null for any other name.
const UsbKeyClass* FindUsbKeyClass(std::string_view className);

// A driver object of `type` over `library` (which may be null).
std::unique_ptr<CUSBKey> MakeUsbKey(const UsbKeyClass& type, std::unique_ptr<TokenLibrary> library);

// The page calls the report makes (setState/clearState); texts are UTF-8.
class UsbKeyPage {
public:
    virtual ~UsbKeyPage() = default;
    virtual void ClearState(int32_t category, int32_t item) = 0;
    virtual void SetState(int32_t category, int32_t item, int32_t value) = 0;
    virtual void SetState(int32_t category, int32_t item, const std::string& text) = 0;
};

// Items 2 to 7 of `category` for a key that has been read.
void ReportKeys(const CUSBKey& key, int32_t category, UsbKeyPage& page);

// Loads a library by its relative name; null when it does not load.
using TokenLibraryLoader = std::function<std::unique_ptr<TokenLibrary>(const char* relativeName)>;

// The whole USB-key step: clears items 2 to 7 of categories 800 to 803,
// then reads and reports every item of `items` that names a driver class,
// unless detection found it installable (code 5). With the item's key-absent
// bit set only the driver version (item 8) is reported.
void ReportUsbKeys(const std::vector<ComponentItem>& items, const TokenLibraryLoader& load,
                   UsbKeyPage& page);

}  // namespace wayfarer
