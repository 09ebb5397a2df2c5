#include "components/detection_windows.h"

#include <wincrypt.h>
#include <shlwapi.h>

#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "components/detection.h"

namespace wayfarer {

bool ReadFileVersion(const std::wstring& path, VS_FIXEDFILEINFO& info) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return false;
    }
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        return false;
    }
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueW(block.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    info = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return true;
}

std::string FileMd5Hex(const std::wstring& path) {
    // Shared for writing and deleting too: the running executable and a
    // file another program holds open must still be readable.
    const unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return {};
    }
    HCRYPTPROV rawProvider = 0;
    if (!::CryptAcquireContextW(&rawProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return {};
    }
    const unique_hcryptprov provider(rawProvider);
    HCRYPTHASH rawHash = 0;
    if (!::CryptCreateHash(provider.get(), CALG_MD5, 0, 0, &rawHash)) {
        return {};
    }
    const unique_hcrypthash hash(rawHash);

    std::vector<BYTE> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return {};
        }
        if (read == 0) {
            break;
        }
        if (!::CryptHashData(hash.get(), buffer.data(), read, 0)) {
            return {};
        }
    }
    BYTE digest[16] = {};
    DWORD digestSize = sizeof(digest);
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0) || digestSize != sizeof(digest)) {
        return {};
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (const BYTE byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0F]);
    }
    return text;
}

bool CheckFileEntry(const FileRef& file) {
    const std::wstring local = Utf8ToWide(file.local);
    if (local.empty() || !::PathFileExistsW(local.c_str())) {
        return false;
    }
    if (!file.version.empty()) {
        VS_FIXEDFILEINFO info{};
        if (!ReadFileVersion(local, info) ||
            !FileVersionMeets(file.version, info.dwFileVersionMS, info.dwFileVersionLS)) {
            return false;
        }
    }
    return file.md5.empty() || FileMd5Hex(local) == file.md5;
}

}  // namespace wayfarer
