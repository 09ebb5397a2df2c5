#include "usbkey/usb_tree.h"

#include <algorithm>
#include <array>

namespace wayfarer::usb {
namespace {

// No name the USB stack hands out comes near this (a counted UTF-16 string
// holds at most 65534 bytes); a larger length is a faulty answer, not a
// reason to allocate gigabytes.
constexpr uint32_t kMaxNameRecordSize = 0x10000;

// What one enumeration has learnt so far.
struct Walk {
    UsbDeviceIo& io;
    std::vector<std::u16string> seenControllers;
    std::vector<uint32_t> found;
    int hubsLeft = kMaxHubsPerWalk;
};

uint32_t ReadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t ReadU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

void WriteU32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// The UTF-16 text from `offset` to its terminator or the buffer's end,
// whichever comes first.
std::u16string TextAt(const std::vector<uint8_t>& buffer, size_t offset) {
    std::u16string text;
    for (size_t i = offset; i + 1 < buffer.size(); i += 2) {
        const uint16_t unit = ReadU16(buffer.data() + i);
        if (unit == 0) {
            break;
        }
        text.push_back(static_cast<char16_t>(unit));
    }
    return text;
}

std::u16string GetHcdDriverKeyName(UsbDevice& controller) {
    std::array<uint8_t, layout::kNameRecordSize> probe{};
    if (!controller.IoControl(kIoctlGetHcdDriverKeyName, probe.data(), probe.size(), probe.data(),
                              probe.size())) {
        return {};
    }
    const uint32_t length = ReadU32(probe.data());
    if (length <= layout::kNameRecordSize || length > kMaxNameRecordSize) {
        return {};
    }
    std::vector<uint8_t> record(length);
    if (!controller.IoControl(kIoctlGetHcdDriverKeyName, record.data(), record.size(), record.data(),
                              record.size())) {
        return {};
    }
    return TextAt(record, layout::kNameRecordText);
}

std::u16string GetRootHubName(UsbDevice& controller) {
    std::array<uint8_t, layout::kNameRecordSize> probe{};
    if (!controller.IoControl(kIoctlGetRootHubName, nullptr, 0, probe.data(), probe.size())) {
        return {};
    }
    const uint32_t length = ReadU32(probe.data());
    // Shorter than the record itself would leave no room for the name.
    if (length < layout::kNameRecordSize || length > kMaxNameRecordSize) {
        return {};
    }
    std::vector<uint8_t> record(length);
    if (!controller.IoControl(kIoctlGetRootHubName, nullptr, 0, record.data(), record.size())) {
        return {};
    }
    return TextAt(record, layout::kNameRecordText);
}

std::u16string GetExternalHubName(UsbDevice& hub, uint32_t port) {
    std::array<uint8_t, layout::kConnectionNameSize> probe{};
    WriteU32(probe.data() + layout::kConnectionIndex, port);
    if (!hub.IoControl(kIoctlGetNodeConnectionName, probe.data(), probe.size(), probe.data(),
                       probe.size())) {
        return {};
    }
    const uint32_t length = ReadU32(probe.data() + layout::kConnectionNameLength);
    if (length <= layout::kConnectionNameSize || length > kMaxNameRecordSize) {
        return {};
    }
    std::vector<uint8_t> record(length);
    WriteU32(record.data() + layout::kConnectionIndex, port);
    if (!hub.IoControl(kIoctlGetNodeConnectionName, record.data(), record.size(), record.data(),
                       record.size())) {
        return {};
    }
    return TextAt(record, layout::kConnectionNameText);
}

void EnumerateHub(Walk& walk, const std::u16string& name, int depth);

void EnumerateHubPorts(Walk& walk, UsbDevice& hub, uint32_t ports, int depth) {
    using Connection = std::array<uint8_t, layout::kConnectionBufferSize>;
    for (uint32_t port = 1; port <= ports; ++port) {
        Connection info{};
        WriteU32(info.data() + layout::kConnectionIndex, port);
        if (!hub.IoControl(kIoctlGetNodeConnectionInformationEx, info.data(), info.size(),
                           info.data(), info.size())) {
            // Systems before the extended request answer the plain one.
            Connection plain{};
            WriteU32(plain.data() + layout::kConnectionIndex, port);
            if (!hub.IoControl(kIoctlGetNodeConnectionInformation, plain.data(), plain.size(),
                               plain.data(), plain.size())) {
                continue;
            }
            info = plain;
        }
        if (info[layout::kConnectionDeviceIsHub] != 0) {
            EnumerateHub(walk, GetExternalHubName(hub, port), depth + 1);
        } else if (ReadU32(info.data() + layout::kConnectionStatus) != kNoDeviceConnected) {
            // Also a device whose enumeration failed: its descriptor holds
            // whatever the hub driver reports.
            const uint32_t vendor = ReadU16(info.data() + layout::kConnectionIdVendor);
            const uint32_t product = ReadU16(info.data() + layout::kConnectionIdProduct);
            walk.found.push_back(vendor << 16 | product);
        }
    }
}

void EnumerateHub(Walk& walk, const std::u16string& name, int depth) {
    if (name.empty() || depth > kMaxHubDepth || walk.hubsLeft <= 0) {
        return;
    }
    --walk.hubsLeft;
    const std::unique_ptr<UsbDevice> hub = walk.io.Open(u"\\\\.\\" + name);
    if (!hub) {
        return;
    }
    std::array<uint8_t, layout::kNodeInformationSize> info{};
    if (hub->IoControl(kIoctlGetNodeInformation, info.data(), info.size(), info.data(), info.size())) {
        EnumerateHubPorts(walk, *hub, info[layout::kNodeInformationPorts], depth);
    }
}

void EnumerateHostController(Walk& walk, UsbDevice& controller) {
    std::u16string key = GetHcdDriverKeyName(controller);
    if (key.empty() || std::find(walk.seenControllers.begin(), walk.seenControllers.end(), key) !=
                           walk.seenControllers.end()) {
        return;
    }
    walk.seenControllers.push_back(std::move(key));
    EnumerateHub(walk, GetRootHubName(controller), 0);
}

}  // namespace

std::vector<uint32_t> WalkUsbTree(UsbDeviceIo& io) {
    Walk walk{io, {}, {}, kMaxHubsPerWalk};
    // The ten legacy names are always tried, present or not.
    for (char16_t digit = u'0'; digit <= u'9'; ++digit) {
        const std::u16string name = u"\\\\.\\HCD" + std::u16string(1, digit);
        if (const std::unique_ptr<UsbDevice> controller = io.Open(name)) {
            EnumerateHostController(walk, *controller);
        }
    }
    for (const std::u16string& path : io.HostControllerInterfacePaths()) {
        if (const std::unique_ptr<UsbDevice> controller = io.Open(path)) {
            EnumerateHostController(walk, *controller);
        }
    }
    return std::move(walk.found);
}

bool AnyIdentifierWanted(const std::vector<uint32_t>& found, const std::vector<uint32_t>& wanted) {
    return std::any_of(wanted.begin(), wanted.end(), [&found](uint32_t id) {
        return std::find(found.begin(), found.end(), id) != found.end();
    });
}

}  // namespace wayfarer::usb
