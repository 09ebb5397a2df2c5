#include "checks/certificates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace wayfarer {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// Stores as lists of subjects, searched like the system does (substring, any
// case), with every call recorded.
class FakeStores : public CertificateStores {
public:
    std::map<CertificateStore, std::vector<std::string>> subjects;
    std::map<std::string, Status> addResults;  // by resource name; default kStatusOk
    std::vector<std::string> finds;
    std::vector<std::string> adds;
    bool opens = true;

    Status Find(CertificateStore store, std::string_view searchText) override {
        finds.emplace_back(searchText);
        if (!opens) {
            return kStatusFail;
        }
        for (const auto& subject : subjects[store]) {
            if (Lower(subject).find(Lower(searchText)) != std::string::npos) {
                return kStatusOk;
            }
        }
        return kStatusFail;
    }

    Status Add(CertificateStore store, std::string_view resourceName) override {
        adds.emplace_back(resourceName);
        if (!opens) {
            return kStatusFail;
        }
        const auto result = addResults.find(std::string(resourceName));
        if (result != addResults.end() && result->second != kStatusOk) {
            return result->second;
        }
        for (const auto& certificate : kCfcaChain) {
            if (certificate.resourceName == resourceName) {
                subjects[store].push_back("C=CN, O=" + std::string(certificate.searchText));
            }
        }
        return kStatusOk;
    }

    void AddAllExcept(std::initializer_list<std::string_view> missing) {
        for (const auto& certificate : kCfcaChain) {
            if (std::find(missing.begin(), missing.end(), certificate.resourceName) == missing.end()) {
                subjects[certificate.store].push_back("C=CN, O=" + std::string(certificate.searchText));
            }
        }
    }
};

TEST(CertificateChain, IsTheFiveCfcaCertificatesInStoreOrder) {
    ASSERT_EQ(kCfcaChain.size(), 5u);
    EXPECT_EQ(kCfcaChain[0].resourceName, "Root_CA");
    EXPECT_EQ(kCfcaChain[0].store, CertificateStore::Root);
    for (size_t i = 1; i < kCfcaChain.size(); ++i) {
        EXPECT_EQ(kCfcaChain[i].store, CertificateStore::Intermediate) << i;
    }
    for (const auto& certificate : kCfcaChain) {
        EXPECT_EQ(certificate.thumbprint.size(), 40u) << certificate.resourceName;
        EXPECT_TRUE(std::all_of(certificate.thumbprint.begin(), certificate.thumbprint.end(),
                                [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) &&
                                                    !std::islower(static_cast<unsigned char>(c)); }));
    }
}

TEST(CertificateChain, AllPresentNeedsNoWrite) {
    FakeStores stores;
    stores.AddAllExcept({});
    EXPECT_EQ(CheckRootCertificates(stores), kStatusOk);
    EXPECT_EQ(InstallRootCertificates(stores), kStatusOk);
    EXPECT_TRUE(stores.adds.empty());
}

TEST(CertificateChain, CheckStopsAtTheFirstMissingCertificate) {
    FakeStores stores;
    stores.AddAllExcept({"Policy_CA"});
    EXPECT_EQ(CheckRootCertificates(stores), kStatusFail);
    EXPECT_EQ(stores.finds, (std::vector<std::string>{"CFCA Root CA", "CFCA Policy CA"}));

    FakeStores closed;
    closed.AddAllExcept({});
    closed.opens = false;
    EXPECT_EQ(CheckRootCertificates(closed), kStatusFail);
    EXPECT_EQ(InstallRootCertificates(closed), kStatusFail);
}

TEST(CertificateChain, OnlyWhatIsMissingIsAdded) {
    FakeStores stores;
    stores.AddAllExcept({"Root_CA"});
    EXPECT_EQ(CheckRootCertificates(stores), kStatusFail);
    EXPECT_EQ(InstallRootCertificates(stores), kStatusOk);
    EXPECT_EQ(stores.adds, std::vector<std::string>{"Root_CA"});
    EXPECT_EQ(CheckRootCertificates(stores), kStatusOk);

    FakeStores empty;
    EXPECT_EQ(InstallRootCertificates(empty), kStatusOk);
    EXPECT_EQ(empty.adds, (std::vector<std::string>{"Root_CA", "Policy_CA", "Operation_CA",
                                                    "Operation_CA1", "Operation_CA2"}));
    EXPECT_EQ(CheckRootCertificates(empty), kStatusOk);
}

TEST(CertificateChain, OperationCaIsFoundThroughOperationCa1) {
    FakeStores stores;
    stores.AddAllExcept({"Operation_CA"});
    EXPECT_EQ(CheckRootCertificates(stores), kStatusOk);
    EXPECT_EQ(InstallRootCertificates(stores), kStatusOk);
    EXPECT_TRUE(stores.adds.empty()) << "Operation_CA is not added";

    FakeStores foreign;
    foreign.AddAllExcept({"Root_CA"});
    foreign.subjects[CertificateStore::Root].push_back("C=US, O=Example, CN=Not the cfca root ca");
    EXPECT_EQ(CheckRootCertificates(foreign), kStatusOk) << "any subject containing the text counts";
}

TEST(CertificateChain, ADeclinedRootStopsTheInstallation) {
    for (const Status declined : {kStatusAbort, kStatusFail}) {
        FakeStores stores;
        stores.addResults["Root_CA"] = declined;
        EXPECT_EQ(InstallRootCertificates(stores), declined);
        EXPECT_EQ(stores.adds, std::vector<std::string>{"Root_CA"}) << "no intermediate added";
        EXPECT_TRUE(stores.subjects[CertificateStore::Intermediate].empty());
        EXPECT_EQ(CheckRootCertificates(stores), kStatusFail);
    }
}

TEST(CertificateChain, AFailedIntermediateIsNotHiddenByALaterSuccess) {
    FakeStores stores;
    stores.addResults["Policy_CA"] = kStatusFail;
    EXPECT_EQ(InstallRootCertificates(stores), kStatusFail);
    EXPECT_EQ(stores.adds, (std::vector<std::string>{"Root_CA", "Policy_CA", "Operation_CA",
                                                     "Operation_CA1", "Operation_CA2"}))
        << "the walk goes on past a failure";

    FakeStores lastOnly;
    lastOnly.AddAllExcept({"Operation_CA2"});
    lastOnly.addResults["Operation_CA2"] = kStatusAbort;
    EXPECT_EQ(InstallRootCertificates(lastOnly), kStatusAbort);
}

}  // namespace
}  // namespace wayfarer
