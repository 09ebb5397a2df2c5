// libFuzzer target for the four token-library drivers and the USB-key
// report. The libraries are scripted by the input: which exports exist, what
// every call returns, the bytes it writes into a buffer (with or without
// terminators and backslashes, up to the brim) and the values it stores.
// Beyond the sanitizers it checks that the drivers keep their per-key lists
// within the keys found, call each export a bounded number of times with the
// serials they found, and that the report writes only its own items.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "usbkey/usb_key.h"

namespace {

using wayfarer::TokenLibrary;
namespace component_state = wayfarer::component_state;

constexpr const char* kClassNames[] = {"CHuahongUSBKey", "CTianchengUSBKey", "CFeitianUSBKey",
                                       "CFeitian2USBKey"};
constexpr const char* kLibraries[] = {"..\\BHDLL.dll", "..\\TC_RZ_LR.dll",
                                      "..\\Ftbank_ePass2000Auto.dll", "..\\Ftbank_InterPass3000.dll"};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// What the scripted libraries were asked, across all of them in one run.
struct Log {
    std::map<std::string, size_t> calls;     // by export name, since the last Reset
    std::vector<std::string> serialsGiven;   // serials passed to per-key exports
    std::string lastVersion;                 // what GetSoftwareVersion wrote, to its first zero

    void Reset() { *this = Log(); }
};

class ScriptedLibrary final : public TokenLibrary {
public:
    ScriptedLibrary(FuzzedDataProvider& data, Log& log) : data_(data), log_(log) {}

    Call FindCall(const char* name) override {
        if (!Has(name)) {
            return {};
        }
        return [this, n = std::string(name)] { return Enter(n); };
    }
    BufferCall FindBufferCall(const char* name) override {
        if (!Has(name)) {
            return {};
        }
        return [this, n = std::string(name)](char* buffer) {
            const uint32_t result = Enter(n);
            Fill(n, buffer);
            return result;
        };
    }
    ValueCall FindValueCall(const char* name) override {
        if (!Has(name)) {
            return {};
        }
        return [this, n = std::string(name)](uint32_t* value) {
            const uint32_t result = Enter(n);
            Store(value);
            return result;
        };
    }
    SerialCall FindSerialCall(const char* name) override {
        if (!Has(name)) {
            return {};
        }
        return [this, n = std::string(name)](const char* serial) {
            Serial(serial);
            return Enter(n);
        };
    }
    SerialBufferCall FindSerialBufferCall(const char* name) override {
        if (!Has(name)) {
            return {};
        }
        return [this, n = std::string(name)](const char* serial, char* buffer) {
            Serial(serial);
            const uint32_t result = Enter(n);
            Fill(n, buffer);
            return result;
        };
    }
    SerialValueCall FindSerialValueCall(const char* name) override {
        if (!Has(name)) {
            return {};
        }
        return [this, n = std::string(name)](const char* serial, uint32_t* value) {
            Serial(serial);
            const uint32_t result = Enter(n);
            Store(value);
            return result;
        };
    }

private:
    // Most exports are there; a run out of input has none.
    bool Has(const char* name) {
        Require(name != nullptr && *name != '\0');
        return data_.ConsumeIntegralInRange(0, 7) != 0;
    }

    // A result: success and failure in both widths, and a one-byte false
    // with junk in the upper bytes.
    uint32_t Enter(const std::string& name) {
        ++log_.calls[name];
        return data_.PickValueInArray<uint32_t>(
            {0u, 1u, 0x100u, 0xFFFFFF00u, 0xFFFFFF01u, 0xFFFFFFFFu, 0xCCCCCC00u, 0x12345601u});
    }

    void Serial(const char* serial) {
        Require(serial != nullptr);
        log_.serialsGiven.emplace_back(serial);
    }

    void Store(uint32_t* value) {
        Require(value != nullptr);
        switch (data_.ConsumeIntegralInRange(0, 3)) {
            case 0:
                break;  // left as it was
            case 1:
                *value = data_.ConsumeIntegralInRange<uint32_t>(0, 4);
                break;
            case 2:
                *value = data_.PickValueInArray<uint32_t>({1023u, 1024u, 1025u, 2048u, 2049u, 0x7FFFFFFFu,
                                                           0x80000000u, 0xFFFFFFFFu});
                break;
            default:
                *value = data_.ConsumeIntegral<uint32_t>();
                break;
        }
    }

    // Writes up to the size the convention announces, never beyond: some
    // bytes from the input, then perhaps one byte repeated to the brim.
    void Fill(const std::string& name, char* buffer) {
        Require(buffer != nullptr);
        const size_t announced =
            name == "GetSoftwareVersion" ? wayfarer::kVersionBufferSize : wayfarer::kListBufferSize;
        const std::string bytes = data_.ConsumeRandomLengthString(announced);
        std::copy(bytes.begin(), bytes.end(), buffer);
        size_t written = bytes.size();
        if (data_.ConsumeBool()) {
            const char pad = data_.PickValueInArray<char>({'A', '\\', '\0', '7'});
            std::memset(buffer + written, pad, announced - written);
            written = announced;
        }
        if (name == "GetSoftwareVersion") {
            const std::string_view text(buffer, written);
            log_.lastVersion = std::string(text.substr(0, text.find('\0')));
        }
    }

    FuzzedDataProvider& data_;
    Log& log_;
};

// Strings laid end to end, each with its terminator, fit in a list buffer.
void RequireFitsList(const std::vector<std::string>& strings) {
    size_t total = 0;
    for (const std::string& s : strings) {
        Require(s.find('\0') == std::string::npos);
        total += s.size() + 1;
    }
    Require(total <= wayfarer::kListBufferSize + 1);
}

void CheckKey(const wayfarer::CUSBKey& key, size_t type, bool loaded, const Log& log) {
    const size_t keys = key.serials.size();
    if (!loaded) {
        Require(key.driverVersion.empty() && keys == 0 && key.certNames.empty() && key.webUrls.empty() &&
                key.pinRetries.empty() && key.keyComplete.empty() && key.defaultPin.empty());
        Require(log.calls.empty());
        return;
    }
    Require(key.driverVersion.empty() || key.driverVersion == log.lastVersion);
    Require(key.driverVersion.size() <= wayfarer::kVersionBufferSize);

    const bool feitian = type >= 2;
    RequireFitsList(key.serials);
    for (const std::string& serial : key.serials) {
        Require(!feitian || serial.find('\\') == std::string::npos);
    }
    Require(key.certNames.size() <= keys && key.webUrls.size() <= keys && key.pinRetries.size() <= keys &&
            key.defaultPin.size() <= keys && key.keyComplete.size() <= 2 * keys);
    for (const auto& names : key.certNames) {
        if (feitian) {
            Require(names.size() <= wayfarer::kMaxCertificateCount);
            Require(std::all_of(names.begin(), names.end(), [](const std::string& n) { return n.empty(); }));
        } else {
            RequireFitsList(names);
            Require(std::none_of(names.begin(), names.end(), [](const std::string& n) { return n.empty(); }));
        }
    }
    for (const std::string& url : key.webUrls) {
        Require(url.size() <= wayfarer::kListBufferSize && url.find('\0') == std::string::npos);
    }

    // The library-wide exports once at most, the per-key ones once per key,
    // and only ever with a serial the driver found.
    for (const auto& [name, count] : log.calls) {
        const bool once = name == "load" || name == "CheckKeyEnv" || name == "GetSoftwareVersion" ||
                          name == "GetKeyCount" || name == "GetKeySN";
        Require(count <= (once ? 1 : keys));
    }
    for (const std::string& serial : log.serialsGiven) {
        Require(std::find(key.serials.begin(), key.serials.end(), serial) != key.serials.end());
    }
}

class CheckingPage final : public wayfarer::UsbKeyPage {
public:
    void ClearState(int32_t category, int32_t item) override {
        Require(category >= 800 && category <= 803 && item >= 2 && item <= 7);
        Require(sets == 0);
        ++clears;
    }
    void SetState(int32_t category, int32_t item, int32_t value) override {
        Require(category >= 800 && category <= 803 && item >= 3 && item <= 7);
        Require(item == 6 ? value >= 0 : (value == 0 || value == 1));
        ++sets;
        ++keyItems;
    }
    void SetState(int32_t category, int32_t item, const std::string& text) override {
        Require(category >= 800 && category <= 803 && (item == 2 || item == 8));
        Require(text.find('\0') == std::string::npos);
        if (item == 2) {
            ++keyItems;
            firstSerial = text;
        }
        ++sets;
    }

    int clears = 0;
    int sets = 0;
    int keyItems = 0;  // items 2 to 7
    std::string firstSerial;
};

// One driver over one scripted library, then its report.
void RunDriver(FuzzedDataProvider& data, Log& log) {
    const size_t type = data.ConsumeIntegralInRange<size_t>(0, 3);
    const wayfarer::UsbKeyClass* keyClass = wayfarer::FindUsbKeyClass(kClassNames[type]);
    Require(keyClass != nullptr && keyClass->category == 800 + static_cast<int32_t>(type));
    Require(std::string_view(keyClass->library) == kLibraries[type]);

    const bool loaded = data.ConsumeIntegralInRange(0, 7) != 0;
    std::unique_ptr<wayfarer::CUSBKey> key = wayfarer::MakeUsbKey(
        *keyClass, loaded ? std::make_unique<ScriptedLibrary>(data, log) : nullptr);
    Require(key != nullptr);
    key->ReadKeys();
    CheckKey(*key, type, loaded, log);

    CheckingPage page;
    wayfarer::ReportKeys(*key, keyClass->category, page);
    Require(page.clears == 0);
    Require(page.firstSerial == (key->serials.empty() ? std::string() : key->serials.front()));
}

// The whole step over a few items, each loading its own scripted library.
void RunReport(FuzzedDataProvider& data, Log& log) {
    std::vector<wayfarer::ComponentItem> items(data.ConsumeIntegralInRange<size_t>(0, 4));
    bool anyReported = false;
    bool anyRead = false;
    for (auto& item : items) {
        switch (data.ConsumeIntegralInRange(0, 5)) {
            case 0:
                item.className = data.ConsumeRandomLengthString(20);
                break;
            case 1:
                item.className = "chuahongusbkey";
                break;
            default:
                item.className = kClassNames[data.ConsumeIntegralInRange(0, 3)];
                break;
        }
        item.state = data.PickValueInArray<uint32_t>({0u, 1u, 2u, 4u, 5u, 7u}) |
                     (data.ConsumeBool() ? component_state::kKeyAbsent : 0u) |
                     (data.ConsumeBool() ? component_state::kDisabled : 0u);
        const bool known = wayfarer::FindUsbKeyClass(item.className) != nullptr;
        const bool installable = (item.state & component_state::kCodeMask) == component_state::kInstallable;
        if (known && !installable) {
            anyRead = true;
            anyReported = anyReported || (item.state & component_state::kKeyAbsent) == 0;
        }
    }
    size_t loads = 0;
    const wayfarer::TokenLibraryLoader load =
        [&](const char* relativeName) -> std::unique_ptr<wayfarer::TokenLibrary> {
        Require(relativeName != nullptr &&
                std::any_of(std::begin(kLibraries), std::end(kLibraries),
                            [relativeName](const char* l) { return std::string_view(l) == relativeName; }));
        ++loads;
        if (!data.ConsumeBool()) {
            return nullptr;
        }
        return std::make_unique<ScriptedLibrary>(data, log);
    };
    CheckingPage page;
    wayfarer::ReportUsbKeys(items, data.ConsumeBool() ? load : wayfarer::TokenLibraryLoader(), page);
    Require(page.clears == 4 * 6);
    Require(loads <= items.size());
    if (!anyRead) {
        Require(page.sets == 0 && loads == 0);
    }
    if (!anyReported) {
        Require(page.keyItems == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    Log log;
    if (provider.ConsumeBool()) {
        RunReport(provider, log);
    } else {
        RunDriver(provider, log);
    }
    return 0;
}
