// Which USB devices are plugged in, from the Windows USB stack itself (host
// controllers and hubs through their I/O controls), so a key counts as soon
// as the bus has enumerated it, driver or not. Windows only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usbkey/usb_tree.h"

namespace wayfarer {

// One full walk of the USB tree: idVendor << 16 | idProduct of every device
// on a port, hubs excepted, in discovery order with duplicates kept. Empty
// when there is no USB stack to ask. Not for two threads at once.
std::vector<uint32_t> EnumerateUsbDeviceIds();

// True when a device of `wanted` is plugged in; false for an empty list.
bool IsUsbDevicePresent(const std::vector<uint32_t>& wanted);

// The real devices: CreateFileW, DeviceIoControl and the SetupAPI
// host-controller interface class.
class WindowsUsbDeviceIo final : public usb::UsbDeviceIo {
public:
    std::unique_ptr<usb::UsbDevice> Open(const std::u16string& name) override;
    std::vector<std::u16string> HostControllerInterfacePaths() override;
};

}  // namespace wayfarer
