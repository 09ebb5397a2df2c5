// libFuzzer target for the USB tree walk. The USB stack is simulated: which
// names open, whether each I/O control succeeds and what it writes all come
// from the input, either as raw bytes or as records shaped like the
// kernel's with fuzzed lengths, names, port counts, hub flags and
// descriptors. Beyond the sanitizers it checks that the walk touches only
// the buffers it announces, keeps at most one device open per hub tier,
// closes everything, and reports exactly the devices the stack described.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "usbkey/usb_tree.h"

namespace {

using namespace wayfarer::usb;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Write32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Writes `value` at `offset` if it fits in `size`.
void Put32(uint8_t* out, size_t size, size_t offset, uint32_t value) {
    if (offset + 4 <= size) {
        Write32(out + offset, value);
    }
}

void Put16(uint8_t* out, size_t size, size_t offset, uint16_t value) {
    if (offset + 2 <= size) {
        out[offset] = static_cast<uint8_t>(value);
        out[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
}

class FuzzedUsb;

class FuzzedDevice final : public UsbDevice {
public:
    explicit FuzzedDevice(FuzzedUsb& usb);
    ~FuzzedDevice() override;
    FuzzedDevice(const FuzzedDevice&) = delete;
    FuzzedDevice& operator=(const FuzzedDevice&) = delete;

    bool IoControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize) override;

private:
    FuzzedUsb& usb_;
};

class FuzzedUsb final : public UsbDeviceIo {
public:
    explicit FuzzedUsb(FuzzedDataProvider& data) : data(data) {}

    std::unique_ptr<UsbDevice> Open(const std::u16string&) override {
        if (!data.ConsumeBool()) {
            return nullptr;
        }
        // The controller and one hub per tier down to the deepest walked.
        Require(open < kMaxHubDepth + 2);
        return std::make_unique<FuzzedDevice>(*this);
    }

    std::vector<std::u16string> HostControllerInterfacePaths() override {
        std::vector<std::u16string> paths(data.ConsumeIntegralInRange<size_t>(0, 4));
        for (std::u16string& path : paths) {
            if (data.ConsumeBool()) {
                // A controller also reachable by its legacy name.
                path = u"\\\\.\\HCD" + std::u16string(1, static_cast<char16_t>(u'0' + data.ConsumeIntegralInRange(0, 9)));
            } else {
                path = Name();
            }
        }
        return paths;
    }

    // A short name from a small set, so that names repeat (a controller
    // reached twice, a hub naming itself), or any text.
    std::u16string Name() {
        if (data.ConsumeBool()) {
            return u"N" + std::u16string(1, static_cast<char16_t>(u'0' + data.ConsumeIntegralInRange(0, 3)));
        }
        const std::string bytes = data.ConsumeRandomLengthString(64);
        std::u16string name;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            name.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                 static_cast<uint8_t>(bytes[i + 1]) << 8));
        }
        return name;
    }

    uint32_t Length(uint32_t consistent) {
        switch (data.ConsumeIntegralInRange(0, 4)) {
            case 0:
                return consistent;
            case 1:
                return data.PickValueInArray<uint32_t>(
                    {0u, 4u, 5u, 6u, 7u, 9u, 10u, 11u, 0xFFFFu, 0x10000u, 0x10001u, 0x7FFFFFFFu,
                     0xFFFFFFFFu});
            case 2:
                return consistent + data.ConsumeIntegralInRange<uint32_t>(0, 16) - 8;
            default:
                return data.ConsumeIntegral<uint32_t>();
        }
    }

    FuzzedDataProvider& data;
    int open = 0;
    // Every device a successful connection request described, in the order
    // the stack answered: what the walk must report.
    std::vector<uint32_t> described;
};

FuzzedDevice::FuzzedDevice(FuzzedUsb& usb) : usb_(usb) { ++usb_.open; }

FuzzedDevice::~FuzzedDevice() { --usb_.open; }

bool FuzzedDevice::IoControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize) {
    FuzzedDataProvider& data = usb_.data;
    // The driver reads all of the input and may write all of the output.
    Require(inSize == 0 || in != nullptr);
    Require(outSize == 0 || out != nullptr);
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < inSize; ++i) {
        sink = sink ^ static_cast<const uint8_t*>(in)[i];
    }
    uint8_t* bytes = static_cast<uint8_t*>(out);
    if (outSize != 0) {
        volatile uint8_t* last = bytes + outSize - 1;
        *last = *last;
    }
    const bool connection =
        code == kIoctlGetNodeConnectionInformationEx || code == kIoctlGetNodeConnectionInformation;
    if (connection) {
        Require(inSize >= 4 && outSize >= layout::kConnectionFixedSize);
        Require(Read32(static_cast<const uint8_t*>(in)) >= 1);
    }

    if (!data.ConsumeBool()) {
        return false;
    }
    if (data.ConsumeBool()) {
        // Raw: any bytes over any part of the buffer.
        const std::vector<uint8_t> raw =
            data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, outSize));
        if (!raw.empty()) {
            std::memcpy(bytes, raw.data(), raw.size());
        }
    } else if (connection) {
        Put16(bytes, outSize, layout::kConnectionIdVendor, data.ConsumeIntegral<uint16_t>());
        Put16(bytes, outSize, layout::kConnectionIdProduct, data.ConsumeIntegral<uint16_t>());
        bytes[layout::kConnectionDeviceIsHub] = data.ConsumeBool() ? data.ConsumeIntegralInRange<uint8_t>(1, 255) : 0;
        Put32(bytes, outSize, layout::kConnectionStatus,
              data.PickValueInArray<uint32_t>({kNoDeviceConnected, 1u, 2u, 0xFFFFFFFFu}));
    } else if (code == kIoctlGetNodeInformation && in != nullptr) {
        // Node information (the root-hub name request sends no input).
        if (outSize > layout::kNodeInformationPorts) {
            bytes[layout::kNodeInformationPorts] =
                data.ConsumeBool() ? data.ConsumeIntegralInRange<uint8_t>(0, 4) : data.ConsumeIntegral<uint8_t>();
        }
    } else {
        // A name record: the length the whole record needs, then the name.
        const bool connectionName = code == kIoctlGetNodeConnectionName;
        const size_t lengthAt = connectionName ? layout::kConnectionNameLength : 0;
        const size_t textAt = connectionName ? layout::kConnectionNameText : layout::kNameRecordText;
        const std::u16string name = usb_.Name();
        const bool terminated = data.ConsumeBool();
        const uint32_t needed = static_cast<uint32_t>(textAt + 2 * (name.size() + (terminated ? 1 : 0)));
        Put32(bytes, outSize, lengthAt, usb_.Length(needed));
        size_t at = textAt;
        for (const char16_t unit : name) {
            Put16(bytes, outSize, at, static_cast<uint16_t>(unit));
            at += 2;
        }
        if (terminated) {
            Put16(bytes, outSize, at, 0);
        }
    }
    if (connection) {
        const uint32_t id = static_cast<uint32_t>(bytes[layout::kConnectionIdVendor]) << 16 |
                            static_cast<uint32_t>(bytes[layout::kConnectionIdVendor + 1]) << 24 |
                            bytes[layout::kConnectionIdProduct] |
                            static_cast<uint32_t>(bytes[layout::kConnectionIdProduct + 1]) << 8;
        if (bytes[layout::kConnectionDeviceIsHub] == 0 &&
            Read32(bytes + layout::kConnectionStatus) != kNoDeviceConnected) {
            usb_.described.push_back(id);
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    FuzzedUsb usb(provider);
    const std::vector<uint32_t> found = WalkUsbTree(usb);
    Require(usb.open == 0);
    Require(found == usb.described);

    Require(!AnyIdentifierWanted(found, {}));
    Require(AnyIdentifierWanted(found, found) == !found.empty());
    return 0;
}
