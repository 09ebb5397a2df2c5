#include "usbkey/usb_key.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace wayfarer {
namespace {

// How a library's result says "success": a 32-bit BOOL, or a one-byte bool
// whose upper register bytes are whatever the library left there.
enum class Width { Full, Byte };

bool Succeeded(uint32_t result, Width width) {
    return width == Width::Full ? result != 0 : (result & 0xFFu) != 0;
}

// A zeroed buffer of `announced` bytes plus the spare terminator.
std::vector<char> ZeroedBuffer(size_t announced) {
    return std::vector<char>(announced + 1, '\0');
}

// The zero-terminated string at `start`, never reading past the buffer.
std::string_view StringAt(const std::vector<char>& buffer, size_t start) {
    if (start >= buffer.size()) {
        return {};
    }
    const auto begin = buffer.begin() + static_cast<std::ptrdiff_t>(start);
    const auto end = std::find(begin, buffer.end(), '\0');
    return std::string_view(buffer.data() + start, static_cast<size_t>(end - begin));
}

// Exactly `count` strings from the start of a serial list, each ending in a
// zero byte, or cut at its first backslash, the rest of it then being the
// next string. Strings start within the announced size only, so a count
// larger than the buffer holds stops there.
std::vector<std::string> TakeSerials(const std::vector<char>& buffer, size_t announced, uint32_t count,
                                     bool cutAtBackslash) {
    std::vector<std::string> serials;
    size_t start = 0;
    for (uint32_t i = 0; i < count && start < announced; ++i) {
        std::string_view text = StringAt(buffer, start);
        if (cutAtBackslash) {
            text = text.substr(0, text.find('\\'));
        }
        serials.emplace_back(text);
        start += text.size() + 1;
    }
    return serials;
}

// The zero-terminated names from the start of the buffer up to the first
// empty one.
std::vector<std::string> TakeNames(const std::vector<char>& buffer, size_t announced) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < announced) {
        const std::string_view name = StringAt(buffer, start);
        if (name.empty()) {
            break;
        }
        names.emplace_back(name);
        start += name.size() + 1;
    }
    return names;
}

// The exports every maker's library has, looked up before the first call.
struct CommonExports {
    TokenLibrary::Call checkKeyEnv;
    TokenLibrary::BufferCall getSoftwareVersion;
    TokenLibrary::ValueCall getKeyCount;
    TokenLibrary::BufferCall getKeySN;

    explicit CommonExports(TokenLibrary& library)
        : checkKeyEnv(library.FindCall("CheckKeyEnv")),
          getSoftwareVersion(library.FindBufferCall("GetSoftwareVersion")),
          getKeyCount(library.FindValueCall("GetKeyCount")),
          getKeySN(library.FindBufferCall("GetKeySN")) {}
};

void ReadVersion(CUSBKey& key, const TokenLibrary::BufferCall& getSoftwareVersion, Width width) {
    if (!getSoftwareVersion) {
        return;
    }
    std::vector<char> buffer = ZeroedBuffer(kVersionBufferSize);
    if (Succeeded(getSoftwareVersion(buffer.data()), width)) {
        key.driverVersion = std::string(StringAt(buffer, 0));
    }
}

// The key count, 0 when the export is missing or fails.
uint32_t ReadKeyCount(const TokenLibrary::ValueCall& getKeyCount, Width width) {
    if (!getKeyCount) {
        return 0;
    }
    uint32_t count = 0;
    if (!Succeeded(getKeyCount(&count), width)) {
        return 0;
    }
    return count;
}

void ReadSerials(CUSBKey& key, const TokenLibrary::BufferCall& getKeySN, Width width, uint32_t count,
                 bool cutAtBackslash) {
    if (!getKeySN) {
        return;
    }
    std::vector<char> buffer = ZeroedBuffer(kListBufferSize);
    if (Succeeded(getKeySN(buffer.data()), width)) {
        key.serials = TakeSerials(buffer, kListBufferSize, count, cutAtBackslash);
    }
}

// Certificate names per key (Huahong, Tiancheng): a list for every key, empty
// on failure. The buffer is zeroed before every call, so one key's names
// never show through another's shorter answer.
void ReadCertificateNames(CUSBKey& key, const TokenLibrary::SerialBufferCall& getCertCN) {
    if (!getCertCN) {
        return;
    }
    for (const std::string& serial : key.serials) {
        std::vector<char> buffer = ZeroedBuffer(kListBufferSize);
        if (Succeeded(getCertCN(serial.c_str(), buffer.data()), Width::Full)) {
            key.certNames.push_back(TakeNames(buffer, kListBufferSize));
        } else {
            key.certNames.emplace_back();
        }
    }
}

// Certificate counts per key (Feitian): that many empty names, nothing on
// failure.
void ReadCertificateCounts(CUSBKey& key, const TokenLibrary::SerialValueCall& getCertCN) {
    if (!getCertCN) {
        return;
    }
    for (const std::string& serial : key.serials) {
        uint32_t count = 0;
        if (Succeeded(getCertCN(serial.c_str(), &count), Width::Byte)) {
            key.certNames.emplace_back(std::min(count, kMaxCertificateCount), std::string());
        }
    }
}

// The web address per key, empty text on failure.
void ReadWebUrls(CUSBKey& key, const TokenLibrary::SerialBufferCall& getWebURL, Width width) {
    if (!getWebURL) {
        return;
    }
    for (const std::string& serial : key.serials) {
        std::vector<char> buffer = ZeroedBuffer(kListBufferSize);
        if (Succeeded(getWebURL(serial.c_str(), buffer.data()), width)) {
            key.webUrls.emplace_back(StringAt(buffer, 0));
        } else {
            key.webUrls.emplace_back();
        }
    }
}

// A PIN count read means the key is complete as far as this call can tell.
void ReadPinRetries(CUSBKey& key, const TokenLibrary::SerialValueCall& getPINRetry, Width width) {
    if (!getPINRetry) {
        return;
    }
    for (const std::string& serial : key.serials) {
        uint32_t count = 0;
        if (Succeeded(getPINRetry(serial.c_str(), &count), width)) {
            key.pinRetries.push_back(count);
            key.keyComplete.push_back(1);
        }
    }
}

// A per-key value appended to `list` on success.
void ReadKeyValues(CUSBKey& key, const TokenLibrary::SerialValueCall& call, Width width,
                   std::vector<uint32_t>& list) {
    if (!call) {
        return;
    }
    for (const std::string& serial : key.serials) {
        uint32_t value = 0;
        if (Succeeded(call(serial.c_str(), &value), width)) {
            list.push_back(value);
        }
    }
}

// Both Feitian libraries; the second has no GetWebURL.
void ReadFeitianKeys(CUSBKey& key, bool withWebUrl) {
    if (!key.module) {
        return;
    }
    TokenLibrary& library = *key.module;
    const TokenLibrary::Call load = library.FindCall("load");
    const CommonExports common(library);
    const TokenLibrary::SerialValueCall getCertCN = library.FindSerialValueCall("GetCertCN");
    const TokenLibrary::SerialCall changePin = library.FindSerialCall("ChangePin");
    const TokenLibrary::SerialBufferCall getWebURL =
        withWebUrl ? library.FindSerialBufferCall("GetWebURL") : TokenLibrary::SerialBufferCall();
    const TokenLibrary::SerialValueCall getPINRetry = library.FindSerialValueCall("GetPINRetry");

    if (load) {
        load();
    }
    if (common.checkKeyEnv) {
        common.checkKeyEnv();
    }
    ReadVersion(key, common.getSoftwareVersion, Width::Byte);
    const uint32_t count = ReadKeyCount(common.getKeyCount, Width::Byte);
    if (count == 0) {
        return;
    }
    ReadSerials(key, common.getKeySN, Width::Byte, count, true);
    ReadCertificateCounts(key, getCertCN);
    if (changePin) {
        for (const std::string& serial : key.serials) {
            key.defaultPin.push_back(Succeeded(changePin(serial.c_str()), Width::Byte) ? 1 : 0);
        }
    }
    ReadWebUrls(key, getWebURL, Width::Byte);
    ReadPinRetries(key, getPINRetry, Width::Byte);
}

constexpr int32_t kFirstCategory = 800;
constexpr int32_t kLastCategory = 803;
constexpr int32_t kFirstKeyItem = 2;
constexpr int32_t kLastKeyItem = 7;
constexpr int32_t kVersionItem = 8;

constexpr UsbKeyClass kUsbKeyClasses[] = {
    {"CHuahongUSBKey", 800, "..\\BHDLL.dll"},
    {"CTianchengUSBKey", 801, "..\\TC_RZ_LR.dll"},
    {"CFeitianUSBKey", 802, "..\\Ftbank_ePass2000Auto.dll"},
    {"CFeitian2USBKey", 803, "..\\Ftbank_InterPass3000.dll"},
};

int32_t ClampToInt32(size_t value) {
    return static_cast<int32_t>(std::min<size_t>(value, std::numeric_limits<int32_t>::max()));
}

}  // namespace

CUSBKey::CUSBKey(std::unique_ptr<TokenLibrary> library) : module(std::move(library)) {}

CUSBKey::~CUSBKey() = default;

void CHuahongUSBKey::ReadKeys() {
    if (!module) {
        return;
    }
    TokenLibrary& library = *module;
    const CommonExports common(library);
    const TokenLibrary::SerialBufferCall getCertCN = library.FindSerialBufferCall("GetCertCN");
    const TokenLibrary::SerialBufferCall getWebURL = library.FindSerialBufferCall("GetWebURL");
    const TokenLibrary::SerialValueCall getPINRetry = library.FindSerialValueCall("GetPINRetry");
    const TokenLibrary::SerialValueCall getKeyFile = library.FindSerialValueCall("GetKeyFile");
    const TokenLibrary::SerialValueCall getKeyDefaultPIN =
        library.FindSerialValueCall("GetKeyDefaultPIN");

    if (common.checkKeyEnv) {
        common.checkKeyEnv();
    }
    ReadVersion(*this, common.getSoftwareVersion, Width::Full);
    const uint32_t count = ReadKeyCount(common.getKeyCount, Width::Full);
    if (count == 0) {
        return;
    }
    ReadSerials(*this, common.getKeySN, Width::Full, count, false);
    ReadCertificateNames(*this, getCertCN);
    ReadWebUrls(*this, getWebURL, Width::Full);
    ReadPinRetries(*this, getPINRetry, Width::Full);
    ReadKeyValues(*this, getKeyFile, Width::Byte, keyComplete);
    ReadKeyValues(*this, getKeyDefaultPIN, Width::Full, defaultPin);
}

void CTianchengUSBKey::ReadKeys() {
    if (!module) {
        return;
    }
    TokenLibrary& library = *module;
    const CommonExports common(library);
    const TokenLibrary::SerialBufferCall getCertCN = library.FindSerialBufferCall("GetCertCN");
    const TokenLibrary::SerialValueCall getPINRetry = library.FindSerialValueCall("GetPINRetry");

    if (common.checkKeyEnv) {
        common.checkKeyEnv();
    }
    ReadVersion(*this, common.getSoftwareVersion, Width::Full);
    const uint32_t count = ReadKeyCount(common.getKeyCount, Width::Full);
    if (count == 0) {
        return;
    }
    ReadSerials(*this, common.getKeySN, Width::Full, count, false);
    ReadCertificateNames(*this, getCertCN);
    ReadPinRetries(*this, getPINRetry, Width::Full);
}

void CFeitianUSBKey::ReadKeys() {
    ReadFeitianKeys(*this, true);
}

void CFeitian2USBKey::ReadKeys() {
    ReadFeitianKeys(*this, false);
}

const UsbKeyClass* FindUsbKeyClass(std::string_view className) {
    for (const UsbKeyClass& type : kUsbKeyClasses) {
        if (className == type.className) {
            return &type;
        }
    }
    return nullptr;
}

std::unique_ptr<CUSBKey> MakeUsbKey(const UsbKeyClass& type, std::unique_ptr<TokenLibrary> library) {
    const std::string_view name = type.className;
    if (name == "CHuahongUSBKey") {
        return std::make_unique<CHuahongUSBKey>(std::move(library));
    }
    if (name == "CTianchengUSBKey") {
        return std::make_unique<CTianchengUSBKey>(std::move(library));
    }
    if (name == "CFeitianUSBKey") {
        return std::make_unique<CFeitianUSBKey>(std::move(library));
    }
    if (name == "CFeitian2USBKey") {
        return std::make_unique<CFeitian2USBKey>(std::move(library));
    }
    return nullptr;
}

void ReportKeys(const CUSBKey& key, int32_t category, UsbKeyPage& page) {
    const auto anyEqual = [](const std::vector<uint32_t>& list, bool zero) {
        return std::any_of(list.begin(), list.end(), [zero](uint32_t v) { return (v == 0) == zero; });
    };
    if (!key.serials.empty()) {
        page.SetState(category, 2, key.serials.front());
    }
    if (!key.keyComplete.empty()) {
        page.SetState(category, 3, anyEqual(key.keyComplete, true) ? 1 : 0);
    }
    if (!key.pinRetries.empty()) {
        page.SetState(category, 4, anyEqual(key.pinRetries, true) ? 1 : 0);
    }
    if (!key.defaultPin.empty()) {
        page.SetState(category, 5, anyEqual(key.defaultPin, false) ? 1 : 0);
    }
    const bool noCertificates = key.certNames.empty() || key.certNames.front().empty();
    page.SetState(category, 6, key.certNames.empty() ? 0 : ClampToInt32(key.certNames.front().size()));
    page.SetState(category, 7, noCertificates ? 1 : 0);
}

void ReportUsbKeys(const std::vector<ComponentItem>& items, const TokenLibraryLoader& load,
                   UsbKeyPage& page) {
    for (int32_t category = kFirstCategory; category <= kLastCategory; ++category) {
        for (int32_t item = kFirstKeyItem; item <= kLastKeyItem; ++item) {
            page.ClearState(category, item);
        }
    }
    for (const ComponentItem& item : items) {
        if (item.className.empty() ||
            (item.state & component_state::kCodeMask) == component_state::kInstallable) {
            continue;
        }
        const UsbKeyClass* type = FindUsbKeyClass(item.className);
        if (type == nullptr) {
            continue;
        }
        const std::unique_ptr<CUSBKey> key = MakeUsbKey(*type, load ? load(type->library) : nullptr);
        if (!key) {
            continue;
        }
        key->ReadKeys();
        if ((item.state & component_state::kKeyAbsent) == 0) {
            ReportKeys(*key, type->category, page);
        }
        if (!key->driverVersion.empty()) {
            page.SetState(type->category, kVersionItem, key->driverVersion);
        }
    }
}

}  // namespace wayfarer
