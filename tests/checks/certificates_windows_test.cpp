#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "checks/certificates_windows.h"
#include "checks/registry.h"
#include "common/handles.h"
#include "common/text.h"

namespace wayfarer {
namespace {

using Bytes = std::vector<uint8_t>;

// A self-signed certificate with this subject and a fresh throwaway key.
// Stand-ins carry the CFCA subjects; nothing checks their keys or issuers.
Bytes MakeCertificate(const std::wstring& subject) {
    unique_hcryptprov provider;
    if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return {};
    }
    unique_hcryptkey key;
    if (!CryptGenKey(provider.get(), AT_SIGNATURE, 1024u << 16, key.put())) {
        return {};
    }
    DWORD size = 0;
    if (!CertStrToNameW(X509_ASN_ENCODING, subject.c_str(), CERT_X500_NAME_STR, nullptr, nullptr,
                        &size, nullptr)) {
        return {};
    }
    Bytes name(size);
    if (!CertStrToNameW(X509_ASN_ENCODING, subject.c_str(), CERT_X500_NAME_STR, nullptr, name.data(),
                        &size, nullptr)) {
        return {};
    }
    CERT_NAME_BLOB blob{size, name.data()};
    const unique_cert_context certificate(CertCreateSelfSignCertificate(
        provider.get(), &blob, 0, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!certificate) {
        return {};
    }
    const BYTE* der = certificate.get()->pbCertEncoded;
    return Bytes(der, der + certificate.get()->cbCertEncoded);
}

std::wstring Thumbprint(const Bytes& der) {
    BYTE hash[20];
    DWORD size = sizeof(hash);
    if (!CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash,
                              &size)) {
        return {};
    }
    return Utf8ToWide(HexEncode(Bytes(hash, hash + size)));
}

class MapBlobs : public CertificateBlobs {
public:
    std::map<std::string, Bytes> blobs;

    Bytes Load(std::string_view resourceName) const override {
        for (const auto& [name, der] : blobs) {
            if (_stricmp(name.c_str(), std::string(resourceName).c_str()) == 0) {
                return der;
            }
        }
        return {};
    }
};

// The five stand-ins, made once per test program.
const MapBlobs& StandIns() {
    static const MapBlobs standIns = [] {
        MapBlobs made;
        for (const auto& certificate : kCfcaChain) {
            const std::wstring subject =
                L"C=CN, O=\"" + Utf8ToWide(certificate.searchText) + L"\"";
            made.blobs[std::string(certificate.resourceName)] = MakeCertificate(subject);
        }
        return made;
    }();
    return standIns;
}

bool StandInsMade() {
    for (const auto& entry : StandIns().blobs) {
        if (entry.second.empty()) {
            return false;
        }
    }
    return !StandIns().blobs.empty();
}

// "ROOT" and "CA" as registry stores of the test's own, so that tests in
// other processes and the user's real stores stay out of it.
class CertificateStoresTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!StandInsMade()) {
            GTEST_SKIP() << "this Wine cannot make self-signed certificates";
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::wstring base = L"WayfarerTest." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                  Utf8ToWide(info->name());
        names_[L"ROOT"] = base + L".ROOT";
        names_[L"CA"] = base + L".CA";
        Cleanup();
    }
    void TearDown() override { Cleanup(); }

    void Cleanup() {
        for (const auto& entry : names_) {
            RegDeleteTreeW(HKEY_CURRENT_USER,
                           (L"Software\\Microsoft\\SystemCertificates\\" + entry.second).c_str());
        }
    }

    unique_hcertstore Open(const std::wstring& name) {
        const auto found = names_.find(name);
        if (found == names_.end()) {
            return unique_hcertstore();
        }
        return unique_hcertstore(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                               CERT_SYSTEM_STORE_CURRENT_USER, found->second.c_str()));
    }
    SystemCertificateStores::Opener Opener() {
        return [this](const std::wstring& name) { return Open(name); };
    }

    int Count(const std::wstring& name) {
        const unique_hcertstore store = Open(name);
        if (!store) {
            return -1;
        }
        int count = 0;
        for (PCCERT_CONTEXT context = nullptr;
             (context = CertEnumCertificatesInStore(store.get(), context)) != nullptr;) {
            ++count;
        }
        return count;
    }
    void Put(const std::wstring& name, const Bytes& der) {
        const unique_hcertstore store = Open(name);
        ASSERT_TRUE(store);
        ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }
    HRESULT Find(const std::wstring& name, const wchar_t* text) {
        return FindCertificateBySubject(Open(name), text);
    }

    std::map<std::wstring, std::wstring> names_;
    MapBlobs none_;
};

TEST_F(CertificateStoresTest, InstallationFillsEachStoreAndTheCheckThenPasses) {
    SystemCertificateStores stores(StandIns(), Opener());
    EXPECT_EQ(CheckRootCertificates(stores), E_FAIL);
    EXPECT_EQ(InstallRootCertificates(stores), S_OK);
    EXPECT_EQ(CheckRootCertificates(stores), S_OK);
    EXPECT_EQ(Count(L"ROOT"), 1);
    EXPECT_EQ(Count(L"CA"), 4);
    EXPECT_EQ(Find(L"ROOT", L"CFCA Root CA"), S_OK);
    EXPECT_EQ(Find(L"CA", L"CFCA Root CA"), E_FAIL) << "the root goes to ROOT only";
    EXPECT_EQ(Find(L"ROOT", L"CFCA Policy CA"), E_FAIL);
}

TEST_F(CertificateStoresTest, ACompleteChainIsNotWrittenAgain) {
    SystemCertificateStores filling(StandIns(), Opener());
    ASSERT_EQ(InstallRootCertificates(filling), S_OK);
    // Without certificate bytes every addition would fail: success shows
    // that none was attempted.
    SystemCertificateStores stores(none_, Opener());
    EXPECT_EQ(CheckRootCertificates(stores), S_OK);
    EXPECT_EQ(InstallRootCertificates(stores), S_OK);
    EXPECT_EQ(Count(L"ROOT"), 1);
    EXPECT_EQ(Count(L"CA"), 4);
}

TEST_F(CertificateStoresTest, OperationCaIsFoundThroughOperationCa1) {
    const auto& blobs = StandIns().blobs;
    Put(L"ROOT", blobs.at("Root_CA"));
    Put(L"CA", blobs.at("Policy_CA"));
    Put(L"CA", blobs.at("Operation_CA1"));
    Put(L"CA", blobs.at("Operation_CA2"));
    SystemCertificateStores stores(none_, Opener());
    EXPECT_EQ(CheckRootCertificates(stores), S_OK);
    EXPECT_EQ(InstallRootCertificates(stores), S_OK) << "Operation_CA is not added";
    EXPECT_EQ(Count(L"CA"), 3);
}

TEST_F(CertificateStoresTest, TheSubjectSearchIsASubstringInAnyCase) {
    Put(L"ROOT", MakeCertificate(L"C=US, O=Example, CN=not the cfca root ca"));
    EXPECT_EQ(Find(L"ROOT", L"CFCA Root CA"), S_OK);
    EXPECT_EQ(Find(L"ROOT", L"CFCA Root CA2"), E_FAIL);
    EXPECT_EQ(Find(L"ROOT", L"Example"), S_OK);
}

TEST_F(CertificateStoresTest, AMissingRootStopsTheInstallation) {
    MapBlobs withoutRoot = StandIns();
    withoutRoot.blobs.erase("Root_CA");
    SystemCertificateStores stores(withoutRoot, Opener());
    EXPECT_EQ(InstallRootCertificates(stores), E_FAIL);
    EXPECT_EQ(Count(L"CA"), 0) << "no intermediate without the root";
}

TEST_F(CertificateStoresTest, FailuresAreReportedNotPassed) {
    // A build without certificates: nothing to add, and it says so.
    EXPECT_EQ(AddCertificateFromResource(none_, "Root_CA", Open(L"ROOT")), E_FAIL);
    EXPECT_EQ(Count(L"ROOT"), 0);
    EXPECT_EQ(AddCertificateFromResource(StandIns(), "root_ca", Open(L"ROOT")), S_OK);
    EXPECT_EQ(AddCertificateFromResource(StandIns(), "Root_CA", unique_hcertstore()), E_FAIL);
    EXPECT_EQ(FindCertificateBySubject(unique_hcertstore(), L"CFCA Root CA"), E_FAIL);

    SystemCertificateStores closed(StandIns(), [](const std::wstring&) { return unique_hcertstore(); });
    EXPECT_EQ(CheckRootCertificates(closed), E_FAIL);
    EXPECT_EQ(InstallRootCertificates(closed), E_FAIL);
}

void DiscardResourceUpdate(HANDLE update) noexcept { EndUpdateResourceW(update, TRUE); }
using unique_resource_update = unique_any<null_handle_traits<HANDLE, &DiscardResourceUpdate>>;

TEST(ResourceCertificates, AreTheModulesCerResourcesByName) {
    wchar_t self[MAX_PATH];
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring copy =
        std::wstring(temp) + L"wayfarer-cer-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
    struct Remove {
        const std::wstring& path;
        ~Remove() { DeleteFileW(path.c_str()); }
    } remove{copy};

    const Bytes der = {0x30, 0x03, 0x02, 0x01, 0x05};
    {
        unique_resource_update update(BeginUpdateResourceW(copy.c_str(), FALSE));
        if (!update) {
            GTEST_SKIP() << "BeginUpdateResourceW failed (" << GetLastError() << ")";
        }
        ASSERT_TRUE(UpdateResourceW(update.get(), L"CER", L"ROOT_CA",
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                    const_cast<uint8_t*>(der.data()), static_cast<DWORD>(der.size())));
        ASSERT_TRUE(EndUpdateResourceW(update.release(), FALSE));
    }
    const unique_hmodule module(LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    const ResourceCertificateBlobs blobs(module.get());
    EXPECT_EQ(blobs.Load("Root_CA"), der) << "names are matched in any case";
    EXPECT_TRUE(blobs.Load("Policy_CA").empty());
    EXPECT_TRUE(ResourceCertificateBlobs().Load("Root_CA").empty()) << "the test program has none";
}

// Under Wine, deleting from ROOT reports success and keeps the certificate:
// the test removes its stand-ins from the registry instead.
void RemoveFromSystemStores(const Bytes& der) {
    const std::wstring thumbprint = Thumbprint(der);
    if (thumbprint.empty()) {
        return;
    }
    for (const wchar_t* store : {L"Root", L"CA"}) {
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Microsoft\\SystemCertificates\\") +
                                           store + L"\\Certificates\\" + thumbprint)
                                              .c_str());
    }
}

// The one test on the user's real stores; it takes its stand-ins out again.
TEST(SystemCertificateStoresTest, InstallIntoTheUsersRootAndCaStores) {
    if (!StandInsMade()) {
        GTEST_SKIP() << "this Wine cannot make self-signed certificates";
    }
    SystemCertificateStores stores(StandIns());
    if (CheckRootCertificates(stores) == S_OK) {
        GTEST_SKIP() << "the user's stores already hold certificates with the CFCA subjects";
    }
    const auto removeAll = [] {
        for (const auto& entry : StandIns().blobs) {
            RemoveFromSystemStores(entry.second);
        }
    };
    struct Cleanup {
        const decltype(removeAll)& remove;
        ~Cleanup() { remove(); }
    } cleanup{removeAll};
    EXPECT_EQ(InstallRootCertificates(stores), S_OK);
    EXPECT_EQ(CheckRootCertificates(stores), S_OK);
    EXPECT_EQ(FindCertificateBySubject(OpenSystemStore(L"ROOT"), L"CFCA Root CA"), S_OK);
    EXPECT_EQ(FindCertificateBySubject(OpenSystemStore(L"CA"), L"CFCA Operation CA2"), S_OK);
    removeAll();
    EXPECT_EQ(CheckRootCertificates(stores), E_FAIL) << "the stand-ins are gone again";
}

}  // namespace
}  // namespace wayfarer
