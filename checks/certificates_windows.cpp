#include "checks/certificates_windows.h"

#include <utility>
#include <vector>

namespace wayfarer {

static_assert(kStatusAbort == E_ABORT && kStatusFail == E_FAIL, "statuses");

namespace {

std::wstring StoreName(CertificateStore store) {
    return store == CertificateStore::Root ? L"ROOT" : L"CA";
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

unique_hcertstore OpenSystemStore(const std::wstring& name) {
    return unique_hcertstore(CertOpenSystemStoreW(0, name.c_str()));
}

HRESULT FindCertificateBySubject(unique_hcertstore store, std::wstring_view searchText) {
    if (!store) {
        return E_FAIL;
    }
    const std::wstring text(searchText);
    const unique_cert_context found(CertFindCertificateInStore(
        store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, text.c_str(), nullptr));
    return found ? S_OK : E_FAIL;
}

HRESULT AddCertificateFromResource(const CertificateBlobs& blobs, std::string_view resourceName,
                                   unique_hcertstore store) {
    if (!store) {
        return E_FAIL;
    }
    const std::vector<uint8_t> der = blobs.Load(resourceName);
    unique_cert_context added;
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                          der.empty() ? nullptr : der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, added.put())) {
        return GetLastError() == ERROR_CANCELLED ? E_ABORT : E_FAIL;
    }
    return S_OK;
}

std::vector<uint8_t> ResourceCertificateBlobs::Load(std::string_view resourceName) const {
    const std::wstring name = Widen(resourceName);
    HRSRC resource = FindResourceW(module_, name.c_str(), L"CER");
    if (resource == nullptr) {
        return {};
    }
    const DWORD size = SizeofResource(module_, resource);
    HGLOBAL loaded = LoadResource(module_, resource);
    const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
    if (data == nullptr || size == 0) {
        return {};
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

Status SystemCertificateStores::Find(CertificateStore store, std::string_view searchText) {
    return FindCertificateBySubject(open_(StoreName(store)), Widen(searchText));
}

Status SystemCertificateStores::Add(CertificateStore store, std::string_view resourceName) {
    return AddCertificateFromResource(blobs_, resourceName, open_(StoreName(store)));
}

}  // namespace wayfarer
