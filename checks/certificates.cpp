#include "checks/certificates.h"

namespace wayfarer {

Status CheckRootCertificates(CertificateStores& stores) {
    for (const auto& certificate : kCfcaChain) {
        if (stores.Find(certificate.store, certificate.searchText) != kStatusOk) {
            return kStatusFail;
        }
    }
    return kStatusOk;
}

Status InstallRootCertificates(CertificateStores& stores) {
    const ChainCertificate& root = kCfcaChain[0];
    if (stores.Find(root.store, root.searchText) != kStatusOk) {
        // Nothing else is added under a root the user declined.
        const Status added = stores.Add(root.store, root.resourceName);
        if (added < 0) {
            return added;
        }
    }
    // A later success does not hide an earlier failure: the status stays
    // failed once an addition failed.
    Status status = kStatusOk;
    for (size_t i = 1; i < kCfcaChain.size(); ++i) {
        const ChainCertificate& certificate = kCfcaChain[i];
        if (stores.Find(certificate.store, certificate.searchText) == kStatusOk) {
            continue;
        }
        const Status added = stores.Add(certificate.store, certificate.resourceName);
        if (added < 0 || status >= 0) {
            status = added;
        }
    }
    return status;
}

}  // namespace wayfarer
