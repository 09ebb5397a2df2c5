// What the end-to-end test programs share: the settings their runner gives
// them (bank_server.sh), small file helpers, and trusting the runner's test
// CA in the run's own Wine prefix. Windows only.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/handles.h"

namespace wayfarer::e2e {

inline std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

inline std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Adds the runner's test CA (WAYFARER_E2E_CA) to the user's ROOT store. The
// prefix is the run's own and goes with it, so nothing is removed. False
// when there is no CA or it cannot be added.
inline bool TrustTestCa() {
    const std::string ca = ReadFile(Env(L"WAYFARER_E2E_CA"));
    if (ca.empty()) {
        return false;
    }
    const unique_hcertstore store(
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"));
    return store && ::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                                       reinterpret_cast<const BYTE*>(ca.data()),
                                                       static_cast<DWORD>(ca.size()),
                                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

}  // namespace wayfarer::e2e
