// The system's certificate stores and the executable's "CER" resources
// behind the interfaces of certificates.h. Windows only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "checks/certificates.h"
#include "common/handles.h"

namespace wayfarer {

// The current user's system store of that name ("ROOT", "CA"); empty when it
// cannot be opened.
unique_hcertstore OpenSystemStore(const std::wstring& name);

// kStatusOk when a certificate whose subject contains the text (in any case)
// is in the store; closes the store.
HRESULT FindCertificateBySubject(unique_hcertstore store, std::wstring_view searchText);
// Adds the DER bytes of the named certificate, replacing an identical one;
// closes the store. E_ABORT when the user declined the confirmation for a new
// trusted root, E_FAIL for every other failure, empty bytes included.
HRESULT AddCertificateFromResource(const CertificateBlobs& blobs, std::string_view resourceName,
                                   unique_hcertstore store);

// Resources of type "CER" in a module (null: the executable).
class ResourceCertificateBlobs : public CertificateBlobs {
public:
    explicit ResourceCertificateBlobs(HMODULE module = nullptr) : module_(module) {}
    std::vector<uint8_t> Load(std::string_view resourceName) const override;

private:
    HMODULE module_;
};

class SystemCertificateStores : public CertificateStores {
public:
    using Opener = std::function<unique_hcertstore(const std::wstring& name)>;

    // `open` maps "ROOT" and "CA" to a store; tests give stores of their own.
    explicit SystemCertificateStores(const CertificateBlobs& blobs, Opener open = OpenSystemStore)
        : blobs_(blobs), open_(std::move(open)) {}

    Status Find(CertificateStore store, std::string_view searchText) override;
    Status Add(CertificateStore store, std::string_view resourceName) override;

private:
    const CertificateBlobs& blobs_;
    Opener open_;
};

}  // namespace wayfarer
