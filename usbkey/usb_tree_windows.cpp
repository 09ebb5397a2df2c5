#include "usbkey/usb_tree_windows.h"

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <utility>

#include "common/handles.h"

namespace wayfarer {
namespace {

// GUID_DEVINTERFACE_USB_HOST_CONTROLLER of usbiodef.h, spelled out so that
// no source has to define it through initguid.h.
constexpr GUID kUsbHostControllerInterface = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};

std::wstring ToWideUnits(const std::u16string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char16_t unit : text) {
        wide.push_back(static_cast<wchar_t>(unit));
    }
    return wide;
}

class WindowsUsbDevice final : public usb::UsbDevice {
public:
    explicit WindowsUsbDevice(unique_hfile handle) : handle_(std::move(handle)) {}

    bool IoControl(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize) override {
        if (inSize > MAXDWORD || outSize > MAXDWORD) {
            return false;
        }
        DWORD returned = 0;
        // The input buffer is only read; the API's parameter is not const.
        return ::DeviceIoControl(handle_.get(), code, const_cast<void*>(in), static_cast<DWORD>(inSize),
                                 out, static_cast<DWORD>(outSize), &returned, nullptr) != FALSE;
    }

private:
    unique_hfile handle_;
};

}  // namespace

std::unique_ptr<usb::UsbDevice> WindowsUsbDeviceIo::Open(const std::u16string& name) {
    const std::wstring wide = ToWideUnits(name);
    unique_hfile handle(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<WindowsUsbDevice>(std::move(handle));
}

std::vector<std::u16string> WindowsUsbDeviceIo::HostControllerInterfacePaths() {
    std::vector<std::u16string> paths;
    const unique_hdevinfo set(::SetupDiGetClassDevsW(&kUsbHostControllerInterface, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        return paths;
    }
    constexpr size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kUsbHostControllerInterface, index,
                                           &data)) {
            break;
        }
        DWORD required = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set.get(), &data, nullptr, 0, &required, nullptr);
        if (required <= kPathOffset) {
            continue;
        }
        // DWORD storage keeps the record aligned as the API expects.
        std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!::SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail, required, nullptr, nullptr)) {
            continue;
        }
        // The path runs to its terminator, never past the record.
        const auto* path = reinterpret_cast<const wchar_t*>(
            reinterpret_cast<const BYTE*>(storage.data()) + kPathOffset);
        const size_t room = (required - kPathOffset) / sizeof(wchar_t);
        std::u16string text;
        for (size_t i = 0; i < room && path[i] != L'\0'; ++i) {
            text.push_back(static_cast<char16_t>(path[i]));
        }
        if (!text.empty()) {
            paths.push_back(std::move(text));
        }
    }
    return paths;
}

std::vector<uint32_t> EnumerateUsbDeviceIds() {
    WindowsUsbDeviceIo io;
    return usb::WalkUsbTree(io);
}

bool IsUsbDevicePresent(const std::vector<uint32_t>& wanted) {
    if (wanted.empty()) {
        return false;
    }
    return usb::AnyIdentifierWanted(EnumerateUsbDeviceIds(), wanted);
}

}  // namespace wayfarer
