#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "usbkey/usb_tree_windows.h"

namespace wayfarer {
namespace {

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

bool MachineHasUsbControllers() {
    WindowsUsbDeviceIo io;
    if (!io.HostControllerInterfacePaths().empty()) {
        return true;
    }
    for (wchar_t digit = L'0'; digit <= L'9'; ++digit) {
        if (io.Open(U16(std::wstring(L"\\\\.\\HCD") + digit))) {
            return true;
        }
    }
    return false;
}

TEST(UsbTreeWindows, MachineWithoutControllersHasNoDevices) {
    if (MachineHasUsbControllers()) {
        GTEST_SKIP() << "this machine has USB host controllers; the empty stack is Wine's";
    }
    EXPECT_TRUE(EnumerateUsbDeviceIds().empty());
    EXPECT_FALSE(IsUsbDevicePresent({0x096E0702}));
}

TEST(UsbTreeWindows, PresenceAgreesWithTheWalk) {
    EXPECT_FALSE(IsUsbDevicePresent({}));
    const std::vector<uint32_t> found = EnumerateUsbDeviceIds();
    if (!found.empty()) {
        EXPECT_TRUE(IsUsbDevicePresent({0xFFFFFFFF, found.front()}));
    }
}

TEST(UsbTreeWindows, OpensWhatExistsAndClosesItAgain) {
    WindowsUsbDeviceIo io;
    EXPECT_EQ(io.Open(u"\\\\.\\WayfarerNoSuchDevice"), nullptr);

    // A plain file opens the same way a device does; a device request to it
    // fails, and once the device object is gone the file can be deleted
    // (it was opened without delete sharing).
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring path = std::wstring(folder) + L"wayfarer-usb-open.tmp";
    ASSERT_TRUE(
        unique_hfile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)));
    {
        std::unique_ptr<usb::UsbDevice> device = io.Open(U16(path));
        ASSERT_NE(device, nullptr);
        uint8_t record[6] = {};
        EXPECT_FALSE(device->IoControl(usb::kIoctlGetHcdDriverKeyName, record, sizeof(record), record,
                                       sizeof(record)));
        EXPECT_FALSE(DeleteFileW(path.c_str())) << "still open";
    }
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

}  // namespace
}  // namespace wayfarer
