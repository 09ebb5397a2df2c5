#include "usbkey/usb_tree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace wayfarer::usb {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A USB stack in memory: controllers and hubs by the name they open under,
// answering the I/O controls as the Windows drivers do (a name request with
// a buffer too small for the name still succeeds and says how long it is).
struct SimPort {
    uint32_t status = 1;  // DeviceConnected
    bool isHub = false;
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::u16string hubName;  // for a hub: the name it opens under after "\\.\"
};

struct SimDevice {
    bool opens = true;
    // Controller.
    std::u16string driverKey;
    std::u16string rootHub;
    // Hub.
    bool isHub = false;
    std::vector<SimPort> ports;
    bool extendedRequest = true;
    // Faulty answers.
    bool nameUnterminated = false;  // names fill their record without a terminator
    // Non-zero: the length the name record reports, whatever the name.
    uint32_t driverKeyLength = 0;
    uint32_t rootHubLength = 0;
    uint32_t hubNameLength = 0;
};

uint32_t Read32(const uint8_t* p) {
    uint32_t value = 0;
    std::memcpy(&value, p, 4);  // the tests run on little-endian machines
    return value;
}
void Write32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, 4); }
void Write16(uint8_t* p, uint16_t value) { std::memcpy(p, &value, 2); }

class SimUsb final : public UsbDeviceIo {
public:
    std::map<std::u16string, SimDevice> devices;
    std::vector<std::u16string> interfacePaths;
    std::vector<std::u16string> openAttempts;
    std::vector<uint32_t> requests;        // every code sent, in order
    std::vector<size_t> connectionSizes;   // buffer sizes of the connection requests
    int openDevices = 0;

    std::unique_ptr<UsbDevice> Open(const std::u16string& name) override {
        openAttempts.push_back(name);
        const auto found = devices.find(name);
        if (found == devices.end() || !found->second.opens) {
            return nullptr;
        }
        return std::make_unique<Device>(*this, found->second);
    }
    std::vector<std::u16string> HostControllerInterfacePaths() override { return interfacePaths; }

private:
    class Device final : public UsbDevice {
    public:
        Device(SimUsb& usb, const SimDevice& sim) : usb_(usb), sim_(sim) { ++usb_.openDevices; }
        ~Device() override { --usb_.openDevices; }

        bool IoControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize) override {
            usb_.requests.push_back(code);
            auto* bytes = static_cast<uint8_t*>(out);
            const auto* input = static_cast<const uint8_t*>(in);
            switch (code) {
            case kIoctlGetHcdDriverKeyName:
                if (sim_.isHub || inSize < 6) {
                    return false;
                }
                return Name(sim_.driverKey, sim_.driverKeyLength, 4, 0, bytes, outSize);
            case kIoctlGetRootHubName:  // also kIoctlGetNodeInformation
                if (!sim_.isHub) {
                    return inSize == 0 && Name(sim_.rootHub, sim_.rootHubLength, 4, 0, bytes, outSize);
                }
                if (inSize != 76 || outSize != 76) {
                    return false;
                }
                std::memset(bytes, 0, outSize);
                bytes[6] = static_cast<uint8_t>(sim_.ports.size());
                return true;
            case kIoctlGetNodeConnectionInformationEx:
            case kIoctlGetNodeConnectionInformation: {
                usb_.connectionSizes.push_back(outSize);
                if (!sim_.isHub || (code == kIoctlGetNodeConnectionInformationEx && !sim_.extendedRequest) ||
                    inSize < 35 || outSize < 35) {
                    return false;
                }
                const uint32_t index = Read32(input);
                if (index == 0 || index > sim_.ports.size()) {
                    return false;
                }
                const SimPort& port = sim_.ports[index - 1];
                std::memset(bytes, 0, outSize);
                Write32(bytes, index);
                bytes[4] = 18;  // bLength
                bytes[5] = 1;   // bDescriptorType
                Write16(bytes + 12, port.vendor);
                Write16(bytes + 14, port.product);
                bytes[24] = port.isHub ? 1 : 0;
                Write32(bytes + 31, port.status);
                return true;
            }
            case kIoctlGetNodeConnectionName: {
                if (!sim_.isHub || inSize < 10 || outSize < 10) {
                    return false;
                }
                const uint32_t index = Read32(input);
                if (index == 0 || index > sim_.ports.size() || !sim_.ports[index - 1].isHub) {
                    return false;
                }
                return Name(sim_.ports[index - 1].hubName, sim_.hubNameLength, 8, index, bytes, outSize);
            }
            default:
                return false;
            }
        }

    private:
        // A name record: [ConnectionIndex,] ActualLength, the UTF-16 name.
        bool Name(const std::u16string& name, uint32_t forcedLength, size_t textOffset, uint32_t index,
                  uint8_t* out, size_t outSize) const {
            if (name.empty() || outSize < textOffset + 2) {
                return false;
            }
            const size_t terminator = sim_.nameUnterminated ? 0 : 2;
            uint32_t length = static_cast<uint32_t>(textOffset + name.size() * 2 + terminator);
            if (forcedLength != 0) {
                length = forcedLength;
            }
            std::memset(out, 0, outSize);
            const size_t lengthAt = textOffset - 4;
            if (textOffset == 8) {
                Write32(out, index);
            }
            Write32(out + lengthAt, length);
            for (size_t i = 0; i < name.size() && textOffset + 2 * i + 1 < outSize; ++i) {
                Write16(out + textOffset + 2 * i, static_cast<uint16_t>(name[i]));
            }
            return true;
        }

        SimUsb& usb_;
        const SimDevice& sim_;
    };
};

SimDevice Controller(std::u16string key, std::u16string rootHub) {
    SimDevice device;
    device.driverKey = std::move(key);
    device.rootHub = std::move(rootHub);
    return device;
}

SimDevice Hub(std::vector<SimPort> ports) {
    SimDevice device;
    device.isHub = true;
    device.ports = std::move(ports);
    return device;
}

SimPort Key(uint16_t vendor, uint16_t product) {
    SimPort port;
    port.vendor = vendor;
    port.product = product;
    return port;
}

SimPort EmptyPort() {
    SimPort port;
    port.status = kNoDeviceConnected;
    port.vendor = 0x1111;  // stale descriptor bytes must not count
    port.product = 0x2222;
    return port;
}

SimPort HubPort(std::u16string name) {
    SimPort port;
    port.isHub = true;
    port.vendor = 0x05E3;  // a hub's own identifiers never count
    port.product = 0x0608;
    port.hubName = std::move(name);
    return port;
}

constexpr uint32_t kKeyA = 0x096E0702;
constexpr uint32_t kKeyB = 0x055C0E0F;
constexpr uint32_t kKeyC = 0x1234ABCD;
constexpr uint32_t kKeyD = 0x00010002;

SimPort Key(uint32_t id) { return Key(static_cast<uint16_t>(id >> 16), static_cast<uint16_t>(id)); }

TEST(UsbTreeWalk, DevicesOfRootAndExternalHubsInDiscoveryOrder) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"{36FC9E60}\\0000", u"USB#ROOT_HUB#1");
    usb.devices[u"\\\\.\\USB#ROOT_HUB#1"] =
        Hub({Key(kKeyA), EmptyPort(), HubPort(u"USB#HUB#2"), Key(kKeyD)});
    // The external hub's ports come before the root hub's next port, and a
    // hub behind a hub is walked too.
    usb.devices[u"\\\\.\\USB#HUB#2"] = Hub({Key(kKeyB), EmptyPort(), HubPort(u"USB#HUB#3")});
    usb.devices[u"\\\\.\\USB#HUB#3"] = Hub({Key(kKeyC)});

    EXPECT_THAT(WalkUsbTree(usb), ElementsAre(kKeyA, kKeyB, kKeyC, kKeyD));
    EXPECT_EQ(usb.openDevices, 0) << "every controller and hub is closed again";
    for (const size_t size : usb.connectionSizes) {
        EXPECT_EQ(size, 365u);
    }
}

TEST(UsbTreeWalk, TriesTenLegacyNamesThenTheInterfaces) {
    SimUsb usb;
    usb.interfacePaths = {u"\\\\?\\pci#ven_8086#1", u"\\\\?\\pci#ven_8086#2"};
    WalkUsbTree(usb);
    EXPECT_THAT(usb.openAttempts,
                ElementsAre(u"\\\\.\\HCD0", u"\\\\.\\HCD1", u"\\\\.\\HCD2", u"\\\\.\\HCD3", u"\\\\.\\HCD4",
                            u"\\\\.\\HCD5", u"\\\\.\\HCD6", u"\\\\.\\HCD7", u"\\\\.\\HCD8", u"\\\\.\\HCD9",
                            u"\\\\?\\pci#ven_8086#1", u"\\\\?\\pci#ven_8086#2"));
}

TEST(UsbTreeWalk, ControllerReachedTwiceIsWalkedOnceButIdenticalKeysCountTwice) {
    SimUsb usb;
    // One controller under its legacy name and its interface path, and a
    // second one reachable only through the interface class.
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"{36FC9E60}\\0000", u"ROOT1");
    usb.devices[u"\\\\?\\pci#1"] = Controller(u"{36FC9E60}\\0000", u"ROOT1");
    usb.devices[u"\\\\?\\pci#2"] = Controller(u"{36FC9E60}\\0001", u"ROOT2");
    usb.interfacePaths = {u"\\\\?\\pci#1", u"\\\\?\\pci#2"};
    usb.devices[u"\\\\.\\ROOT1"] = Hub({Key(kKeyA), Key(kKeyA)});
    usb.devices[u"\\\\.\\ROOT2"] = Hub({Key(kKeyB)});

    EXPECT_THAT(WalkUsbTree(usb), ElementsAre(kKeyA, kKeyA, kKeyB));

    // Each walk starts afresh: nothing seen in one is remembered in the next.
    EXPECT_THAT(WalkUsbTree(usb), ElementsAre(kKeyA, kKeyA, kKeyB));
}

TEST(UsbTreeWalk, PlainConnectionRequestWhenTheExtendedOneIsUnsupported) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD3"] = Controller(u"key", u"ROOT");
    usb.devices[u"\\\\.\\ROOT"] = Hub({Key(kKeyA), HubPort(u"EXT"), Key(kKeyB)});
    usb.devices[u"\\\\.\\ROOT"].extendedRequest = false;
    usb.devices[u"\\\\.\\EXT"] = Hub({Key(kKeyC)});
    usb.devices[u"\\\\.\\EXT"].extendedRequest = false;

    EXPECT_THAT(WalkUsbTree(usb), ElementsAre(kKeyA, kKeyC, kKeyB));
    for (const size_t size : usb.connectionSizes) {
        EXPECT_EQ(size, 365u) << "the plain request gets a buffer of its own of the same size";
    }
}

TEST(UsbTreeWalk, DevicesThatDoNotOpenAreSkipped) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"first", u"ROOT0");
    usb.devices[u"\\\\.\\HCD0"].opens = false;
    usb.devices[u"\\\\.\\HCD1"] = Controller(u"second", u"ROOT1");
    usb.devices[u"\\\\.\\ROOT0"] = Hub({Key(kKeyD)});
    usb.devices[u"\\\\.\\ROOT1"] = Hub({HubPort(u"LOCKED"), Key(kKeyA), HubPort(u"MISSING")});
    usb.devices[u"\\\\.\\LOCKED"] = Hub({Key(kKeyB)});
    usb.devices[u"\\\\.\\LOCKED"].opens = false;

    EXPECT_THAT(WalkUsbTree(usb), ElementsAre(kKeyA));
    EXPECT_EQ(usb.openDevices, 0);
}

TEST(UsbTreeWalk, PortWithAFailedEnumerationCountsWithItsDescriptor) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"key", u"ROOT");
    SimPort failed;
    failed.status = 2;  // DeviceFailedEnumeration, descriptor all zeros
    SimPort overCurrent = Key(kKeyB);
    overCurrent.status = 4;  // DeviceCausedOvercurrent, descriptor as the hub reports it
    usb.devices[u"\\\\.\\ROOT"] = Hub({failed, overCurrent, EmptyPort()});

    EXPECT_THAT(WalkUsbTree(usb), ElementsAre(0u, kKeyB));
}

// Name answers a faulty or unusual driver may give; none may make the walk
// read outside its buffers (the sanitizers watch) or allocate without bound.
enum class NameRecord { DriverKey, RootHub, ExternalHub };

struct NameCase {
    const char* label;
    NameRecord record;
    bool unterminated;
    uint32_t forcedLength;
    std::vector<uint32_t> expected;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class UsbTreeNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(UsbTreeNames, AreReadWithinTheirRecords) {
    const NameCase& c = GetParam();
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"key", u"ROOT");
    usb.devices[u"\\\\.\\ROOT"] = Hub({Key(kKeyA), HubPort(u"EXT")});
    usb.devices[u"\\\\.\\EXT"] = Hub({Key(kKeyB)});
    SimDevice& controller = usb.devices[u"\\\\.\\HCD0"];
    SimDevice& root = usb.devices[u"\\\\.\\ROOT"];
    switch (c.record) {
    case NameRecord::DriverKey:
        controller.nameUnterminated = c.unterminated;
        controller.driverKeyLength = c.forcedLength;
        break;
    case NameRecord::RootHub:
        controller.nameUnterminated = c.unterminated;
        controller.rootHubLength = c.forcedLength;
        break;
    case NameRecord::ExternalHub:
        root.nameUnterminated = c.unterminated;
        root.hubNameLength = c.forcedLength;
        break;
    }

    EXPECT_EQ(WalkUsbTree(usb), c.expected);
    EXPECT_EQ(usb.openDevices, 0);
}

constexpr NameRecord kKey = NameRecord::DriverKey;
constexpr NameRecord kRoot = NameRecord::RootHub;
constexpr NameRecord kExternal = NameRecord::ExternalHub;

INSTANTIATE_TEST_SUITE_P(
    Answers, UsbTreeNames,
    ::testing::Values(
        NameCase{"terminated", kKey, false, 0, {kKeyA, kKeyB}},
        NameCase{"driver_key_without_terminator", kKey, true, 0, {kKeyA, kKeyB}},
        NameCase{"root_hub_without_terminator", kRoot, true, 0, {kKeyA, kKeyB}},
        NameCase{"external_hub_without_terminator", kExternal, true, 0, {kKeyA, kKeyB}},
        // A length that leaves no room for a name: the controller is not
        // walked, or the hub not opened.
        NameCase{"driver_key_of_the_bare_record", kKey, false, 6, {}},
        NameCase{"root_hub_of_the_bare_record", kRoot, false, 6, {}},
        NameCase{"root_hub_shorter_than_the_record", kRoot, false, 2, {}},
        NameCase{"external_hub_of_the_bare_record", kExternal, false, 10, {kKeyA}},
        NameCase{"external_hub_shorter_than_the_record", kExternal, false, 4, {kKeyA}},
        // Beyond any name the stack hands out: refused, not allocated.
        NameCase{"driver_key_of_four_gigabytes", kKey, false, 0xFFFFFFF0u, {}},
        NameCase{"root_hub_of_four_gigabytes", kRoot, false, 0xFFFFFFF0u, {}},
        NameCase{"external_hub_of_four_gigabytes", kExternal, false, 0xFFFFFFF0u, {kKeyA}}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(UsbTreeWalk, ControllerWithoutDriverKeyOrRootHubIsNotWalked) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"", u"ROOT");
    usb.devices[u"\\\\.\\HCD1"] = Controller(u"key", u"");
    usb.devices[u"\\\\.\\ROOT"] = Hub({Key(kKeyA)});
    EXPECT_THAT(WalkUsbTree(usb), IsEmpty());
}

TEST(UsbTreeWalk, HubThatNamesItselfEndsAtTheDepthBound) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"key", u"ROOT");
    usb.devices[u"\\\\.\\ROOT"] = Hub({HubPort(u"LOOP")});
    usb.devices[u"\\\\.\\LOOP"] = Hub({HubPort(u"LOOP"), Key(kKeyA)});

    const std::vector<uint32_t> found = WalkUsbTree(usb);
    EXPECT_EQ(found, std::vector<uint32_t>(kMaxHubDepth, kKeyA));
    EXPECT_EQ(usb.openDevices, 0);
}

TEST(UsbTreeWalk, HubNamingItselfOnEveryPortEndsWithinTheHubBudget) {
    SimUsb usb;
    usb.devices[u"\\\\.\\HCD0"] = Controller(u"key", u"LOOP");
    usb.devices[u"\\\\.\\LOOP"] = Hub(std::vector<SimPort>(255, HubPort(u"LOOP")));

    EXPECT_THAT(WalkUsbTree(usb), IsEmpty());
    const auto hubOpens = std::count(usb.openAttempts.begin(), usb.openAttempts.end(), u"\\\\.\\LOOP");
    EXPECT_EQ(hubOpens, kMaxHubsPerWalk);
    EXPECT_EQ(usb.openDevices, 0);
}

TEST(UsbTreeWalk, NoControllersGiveNothing) {
    SimUsb usb;
    EXPECT_THAT(WalkUsbTree(usb), IsEmpty());
}

TEST(AnyIdentifierWanted, MatchesAnyWantedIdentifier) {
    const std::vector<uint32_t> found = {kKeyA, kKeyA, 0};
    EXPECT_TRUE(AnyIdentifierWanted(found, {kKeyB, kKeyA}));
    EXPECT_FALSE(AnyIdentifierWanted(found, {kKeyB, kKeyC}));
    EXPECT_FALSE(AnyIdentifierWanted(found, {}));
    EXPECT_FALSE(AnyIdentifierWanted({}, {kKeyA}));
}

}  // namespace
}  // namespace wayfarer::usb
