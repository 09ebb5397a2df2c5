// The walk of the USB device tree: every host controller, its root hub, the
// external hubs behind it and every port, collecting the vendor and product
// identifiers of the devices on the ports. Portable: the walk talks to the
// USB stack through UsbDeviceIo, which the Windows build backs with
// CreateFileW/DeviceIoControl/SetupAPI and the tests with a simulated tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wayfarer::usb {

// I/O control codes of the host-controller and hub interfaces.
constexpr uint32_t kIoctlGetHcdDriverKeyName = 0x220424;
constexpr uint32_t kIoctlGetRootHubName = 0x220408;
constexpr uint32_t kIoctlGetNodeInformation = 0x220408;  // same code, sent to a hub
constexpr uint32_t kIoctlGetNodeConnectionInformationEx = 0x220448;
constexpr uint32_t kIoctlGetNodeConnectionInformation = 0x22040C;
constexpr uint32_t kIoctlGetNodeConnectionName = 0x220414;

// Sizes and byte offsets of the kernel's records (usbioctl.h, byte-packed),
// all little-endian.
namespace layout {
// USB_HCD_DRIVERKEY_NAME / USB_ROOT_HUB_NAME: ULONG ActualLength, WCHAR name[1].
constexpr size_t kNameRecordSize = 6;
constexpr size_t kNameRecordText = 4;
// USB_NODE_INFORMATION: ULONG NodeType, USB_HUB_DESCRIPTOR (bDescriptorLength,
// bDescriptorType, bNumberOfPorts, ...), HubIsBusPowered.
constexpr size_t kNodeInformationSize = 76;
constexpr size_t kNodeInformationPorts = 6;
// USB_NODE_CONNECTION_INFORMATION(_EX): ULONG ConnectionIndex,
// USB_DEVICE_DESCRIPTOR (18 bytes), configuration, speed, DeviceIsHub,
// DeviceAddress, NumberOfOpenPipes, ConnectionStatus, then the pipes.
constexpr size_t kConnectionFixedSize = 35;
constexpr size_t kPipeInfoSize = 11;
constexpr size_t kConnectionPipes = 30;
constexpr size_t kConnectionBufferSize = kConnectionFixedSize + kConnectionPipes * kPipeInfoSize;  // 365
constexpr size_t kConnectionIndex = 0;
constexpr size_t kConnectionIdVendor = 4 + 8;
constexpr size_t kConnectionIdProduct = 4 + 10;
constexpr size_t kConnectionDeviceIsHub = 24;
constexpr size_t kConnectionStatus = 31;
// USB_NODE_CONNECTION_NAME: ULONG ConnectionIndex, ULONG ActualLength, WCHAR NodeName[1].
constexpr size_t kConnectionNameSize = 10;
constexpr size_t kConnectionNameLength = 4;
constexpr size_t kConnectionNameText = 8;
}  // namespace layout

// ConnectionStatus value of an empty port.
constexpr uint32_t kNoDeviceConnected = 0;

// An opened controller or hub; closed when destroyed.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // DeviceIoControl: `in` and `out` may be the same buffer. True on success.
    virtual bool IoControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize) = 0;
};

class UsbDeviceIo {
public:
    virtual ~UsbDeviceIo() = default;
    // Opens a device by its name ("\\.\HCD0", "\\.\<hub name>", an interface
    // path); null when it does not open.
    virtual std::unique_ptr<UsbDevice> Open(const std::u16string& name) = 0;
    // Device paths of the present host-controller interfaces, in the
    // system's order.
    virtual std::vector<std::u16string> HostControllerInterfacePaths() = 0;
};

// One full walk: the legacy names \\.\HCD0 to \\.\HCD9, then the
// host-controller interfaces; a controller reached both ways is walked once.
// Identifiers are idVendor << 16 | idProduct in discovery order, duplicates
// kept; hubs contribute none.
std::vector<uint32_t> WalkUsbTree(UsbDeviceIo& io);

// True when some identifier of `wanted` is in `found`; false for an empty
// `wanted`.
bool AnyIdentifierWanted(const std::vector<uint32_t>& found, const std::vector<uint32_t>& wanted);

// Hubs deeper than this below the root hub are not walked. USB allows five
// tiers of external hubs; the bound keeps a hub that names itself, or a
// cycle of hubs, from recursing without end.
constexpr int kMaxHubDepth = 8;

// Hubs one walk opens at most: eight controllers' worth of the 127 devices
// USB gives a bus. The depth bound alone still lets a hub that names itself
// on every port fan out into billions of opens.
constexpr int kMaxHubsPerWalk = 8 * 127;

}  // namespace wayfarer::usb
