#include "usbkey/usb_key_windows.h"

#include <windows.h>
#include <shlwapi.h>

#include <utility>

namespace wayfarer {
namespace {

// The makers' exports take the Windows API's convention.
using RawCall = uint32_t(WINAPI*)();
using RawBufferCall = uint32_t(WINAPI*)(char* buffer);
using RawValueCall = uint32_t(WINAPI*)(uint32_t* value);
using RawSerialCall = uint32_t(WINAPI*)(const char* serial);
using RawSerialBufferCall = uint32_t(WINAPI*)(const char* serial, char* buffer);
using RawSerialValueCall = uint32_t(WINAPI*)(const char* serial, uint32_t* value);

// A std::function made from a null function pointer is empty, which is how a
// missing export reads.
class ModuleTokenLibrary final : public TokenLibrary {
public:
    explicit ModuleTokenLibrary(HMODULE module) : module_(module) {}

    Call FindCall(const char* name) override { return Call(Find<RawCall>(name)); }
    BufferCall FindBufferCall(const char* name) override {
        return BufferCall(Find<RawBufferCall>(name));
    }
    ValueCall FindValueCall(const char* name) override { return ValueCall(Find<RawValueCall>(name)); }
    SerialCall FindSerialCall(const char* name) override {
        return SerialCall(Find<RawSerialCall>(name));
    }
    SerialBufferCall FindSerialBufferCall(const char* name) override {
        return SerialBufferCall(Find<RawSerialBufferCall>(name));
    }
    SerialValueCall FindSerialValueCall(const char* name) override {
        return SerialValueCall(Find<RawSerialValueCall>(name));
    }

private:
    template <typename F>
    F Find(const char* name) const {
        const FARPROC address = ::GetProcAddress(module_, name);
        // Through the generic function type, which converts to any other.
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
    }

    HMODULE module_;
};

}  // namespace

std::unique_ptr<TokenLibrary> LoadTokenLibrary(const std::wstring& path) {
    if (path.empty()) {
        return nullptr;
    }
    // Never freed, an intentional leak: token libraries stay loaded for the process's life.
    const HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr) {
        return nullptr;
    }
    return std::make_unique<ModuleTokenLibrary>(module);
}

std::wstring PathBesideExecutable(const char* relativeName) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A cut path would name a library somewhere else.
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::wstring relative;
    for (const char* c = relativeName; *c != '\0'; ++c) {
        relative.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    if (!::PathAppendW(path, relative.c_str())) {
        return {};
    }
    return path;
}

void ReadUsbKeys(const std::vector<ComponentItem>& items, UsbKeyPage& page) {
    const auto load = [](const char* relativeName) {
        return LoadTokenLibrary(PathBesideExecutable(relativeName));
    };
    ReportUsbKeys(items, load, page);
}

}  // namespace wayfarer
