// The CFCA certificate chain in the current user's stores: the root in
// "ROOT", four intermediate authorities in "CA".
// The chain, the order of the walks and their statuses are portable; the
// stores and the certificates' bytes come through two small interfaces, so
// that the product uses the system's stores and its own resources while tests
// use stores and stand-in certificates of their own.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace wayfarer {

// COM-style statuses, negative for failure.
using Status = int32_t;
constexpr Status kStatusOk = 0;
constexpr Status kStatusAbort = static_cast<Status>(0x80004004);  // E_ABORT
constexpr Status kStatusFail = static_cast<Status>(0x80004005);   // E_FAIL

enum class CertificateStore { Root, Intermediate };

struct ChainCertificate {
    std::string_view resourceName;  // also the name of its file in the deployment folder
    std::string_view searchText;    // found anywhere in the subject, in any case
    std::string_view thumbprint;    // SHA-1 of the DER bytes, upper-case hex
    CertificateStore store;
};

// In the order of every walk.
constexpr std::array<ChainCertificate, 5> kCfcaChain = {{
    {"Root_CA", "CFCA Root CA", "31BD6AEF73031C5A49338E7A06040DD815EF7512", CertificateStore::Root},
    {"Policy_CA", "CFCA Policy CA", "9B05D7C9D1DAACA1A5880E38AB7BFB35A417F9D0",
     CertificateStore::Intermediate},
    {"Operation_CA", "CFCA Operation CA", "51FFA2AD82E01D0FB76FC7750BE646340B630195",
     CertificateStore::Intermediate},
    {"Operation_CA1", "CFCA Operation CA1", "12844DEF9B03084180E4FB4DFDFBB4DA8E284602",
     CertificateStore::Intermediate},
    {"Operation_CA2", "CFCA Operation CA2", "EEB3A1C5A0D7EF6E9604A09C38EB2AA69289AE75",
     CertificateStore::Intermediate},
}};

// The DER bytes of a chain certificate by its resource name (any case);
// empty when there are none.
class CertificateBlobs {
public:
    virtual ~CertificateBlobs() = default;
    virtual std::vector<uint8_t> Load(std::string_view resourceName) const = 0;
};

// Each call opens its own store and closes it before returning.
class CertificateStores {
public:
    virtual ~CertificateStores() = default;
    // kStatusOk when a certificate whose subject contains the text is in the
    // store; kStatusFail when there is none or the store cannot be opened.
    virtual Status Find(CertificateStore store, std::string_view searchText) = 0;
    // Adds (or replaces) the certificate of that resource: kStatusOk,
    // kStatusAbort when the user declined the system's confirmation,
    // kStatusFail otherwise.
    virtual Status Add(CertificateStore store, std::string_view resourceName) = 0;
};

// kStatusOk when all five are found, else kStatusFail.
Status CheckRootCertificates(CertificateStores& stores);
// Adds what is missing. A failed root stops the walk with its status; the
// other additions go on past a failure, and the result is the last failing
// addition's status, or kStatusOk when none failed.
Status InstallRootCertificates(CertificateStores& stores);

}  // namespace wayfarer
