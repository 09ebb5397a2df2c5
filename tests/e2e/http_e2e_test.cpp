// The HTTP primitives, the configuration's sources and the service probe
// under Wine against the fake bank server (tests/e2e/fake_bank_server.py),
// which run_e2e.sh starts. It passes, as environment variables:
// WAYFARER_E2E_PORT and WAYFARER_E2E_UNTRUSTED_PORT, WAYFARER_E2E_ROOT (the served folder),
// WAYFARER_E2E_LOG (the request log) and WAYFARER_E2E_CA (the test CA, DER),
// all paths as Windows sees them.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "checks/network.h"
#include "common/handles.h"
#include "common/text.h"
#include "config/http_windows.h"
#include "config/retrieval.h"
#include "config/retrieval_windows.h"
#include "config/windows_environment.h"
#include "tests/e2e/e2e_support.h"

namespace wayfarer {
namespace {

using e2e::Env;
using e2e::Exists;
using e2e::ReadFile;
using e2e::WriteFile;

void RemoveLocalCopy() {
    ::SetFileAttributesW(L".\\item.xml", FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(L".\\item.xml");
}

// A document of our own whose size and bytes the cases choose.
std::string Document(const std::string& base, size_t atLeast = 0) {
    std::string text = "<checkitems base=\"" + base + "\">";
    size_t n = 0;
    while (text.size() < atLeast) {
        text += "<config type=\"g" + std::to_string(n++) + "\"><entry>www.lunmarbank.example</entry></config>";
    }
    text += "<config type=\"last\"><entry>x</entry></config></checkitems>";
    return text;
}

class ServerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        port_ = Env(L"WAYFARER_E2E_PORT");
        untrustedPort_ = Env(L"WAYFARER_E2E_UNTRUSTED_PORT");
        root_ = Env(L"WAYFARER_E2E_ROOT");
        log_ = Env(L"WAYFARER_E2E_LOG");
        trusted_ = e2e::TrustTestCa();
    }

    void SetUp() override {
        if (port_.empty() || root_.empty()) {
            GTEST_SKIP() << "run through tests/e2e/run_e2e.sh, which starts the fake bank server";
        }
        ASSERT_TRUE(trusted_) << "the test CA could not be added to the user's ROOT store";
        // The local copy lives in the current directory: one of our own.
        wchar_t temp[MAX_PATH];
        ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
        work_ = std::wstring(temp) + L"wayfarer-e2e-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(work_.c_str(), nullptr);
        ASSERT_TRUE(::SetCurrentDirectoryW(work_.c_str()));
        RemoveLocalCopy();
        session_ = OpenHttpSession();
        ASSERT_TRUE(session_);
    }

    void TearDown() override {
        ::SetEnvironmentVariableW(L"WAYFARER_TEST_CONFIG_URL", nullptr);
        RemoveLocalCopy();
    }

    static std::wstring Url(const std::wstring& path, const std::wstring& scheme = L"https") {
        return scheme + L"://localhost:" + port_ + path;
    }
    static std::wstring UntrustedUrl(const std::wstring& path) {
        return L"https://localhost:" + untrustedPort_ + path;
    }
    static void Serve(const std::wstring& name, const std::string& bytes) { WriteFile(root_ + L"\\" + name, bytes); }
    static std::string RequestLog() { return ReadFile(log_); }

    static std::wstring port_;
    static std::wstring untrustedPort_;
    static std::wstring root_;
    static std::wstring log_;
    static bool trusted_;
    std::wstring work_;
    unique_hinternet session_;
};

std::wstring ServerTest::port_;
std::wstring ServerTest::untrustedPort_;
std::wstring ServerTest::root_;
std::wstring ServerTest::log_;
bool ServerTest::trusted_ = false;

TEST_F(ServerTest, FetchKeepsOnlyWholeBodiesOfStatus200) {
    const std::string doc = Document("https://fetch/");
    Serve(L"fetch.xml", doc);
    struct Case {
        const char* name;
        std::wstring url;
        std::string body;
    };
    const Case cases[] = {
        {"200 with its length", Url(L"/fetch.xml"), doc},
        {"scheme in capitals", L"HTTPS://localhost:" + port_ + L"/fetch.xml", doc},
        {"200 without a length", Url(L"/nolength/fetch.xml"), doc},
        {"chunked", Url(L"/chunked/fetch.xml"), doc},
        {"slow", Url(L"/slow/fetch.xml"), doc},
        {"200 empty without a length", Url(L"/empty/fetch.xml"), ""},
        {"short body", Url(L"/short/fetch.xml"), ""},
        {"404 with a body", Url(L"/missing/fetch.xml"), ""},
        {"untrusted certificate", UntrustedUrl(L"/fetch.xml"), ""},
        {"plain http to the TLS port", Url(L"/fetch.xml", L"http"), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FetchUrl(session_.get(), c.url), c.body) << c.name;
    }
}

TEST_F(ServerTest, DownloadStoresWholeBodiesAndLeavesNothingOnFailure) {
    std::string big;
    for (int i = 0; big.size() < 100000; ++i) {
        big.push_back(static_cast<char>((i * 7919) & 0xFF));
    }
    Serve(L"big.bin", big);
    const uint32_t size = static_cast<uint32_t>(big.size());
    struct Case {
        const char* name;
        std::wstring url;
        uint32_t result;
    };
    const Case cases[] = {
        {"200 with its length", Url(L"/big.bin"), size},
        {"200 without a length", Url(L"/nolength/big.bin"), size},
        {"chunked", Url(L"/chunked/big.bin"), size},
        {"scheme in capitals", L"HTTPS://localhost:" + port_ + L"/big.bin", size},
        {"404 with a length", Url(L"/missing/big.bin"), 0},
        {"short body", Url(L"/short/big.bin"), 0},
        {"untrusted certificate", UntrustedUrl(L"/big.bin"), 0},
    };
    const std::wstring target = work_ + L"\\download.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int32_t> progress{-1};
        EXPECT_EQ(DownloadToFile(session_.get(), c.url, target, &progress), c.result);
        if (c.result != 0) {
            EXPECT_EQ(progress.load(), 100);
            EXPECT_EQ(ReadFile(target), big);
        } else {
            EXPECT_FALSE(Exists(target)) << "a failed download left a file";
        }
        ::DeleteFileW(target.c_str());
    }
}

TEST_F(ServerTest, DownloadToAnUncreatableTargetRequestsNothing) {
    Serve(L"never.bin", "x");
    const std::wstring target = work_ + L"\\no such folder\\never.bin";
    EXPECT_EQ(DownloadToFile(session_.get(), Url(L"/never.bin?uncreatable"), target, nullptr), 0u);
    EXPECT_EQ(RequestLog().find("uncreatable"), std::string::npos);
}

// Reachable means every address could be opened and answered, whatever the
// status; a URL without an answer fails the probe and the rest go unasked.
// Each URL carries its own query so the request log tells who was asked.
TEST_F(ServerTest, ServiceProbeOverHttpsNeedsATrustedAnswerFromEveryUrl) {
    Serve(L"probe.txt", "ok");
    struct Case {
        const char* name;
        std::vector<std::wstring> urls;
        bool reachable;
        const char* asked;    // must be in the request log afterwards
        const char* unasked;  // must never be in it
    };
    const Case cases[] = {
        {"existing file", {Url(L"/probe.txt?p-ok")}, true, "GET /probe.txt?p-ok", nullptr},
        {"404 still answers", {Url(L"/missing/probe.txt?p-404")}, true, "GET /missing/probe.txt?p-404", nullptr},
        {"untrusted certificate", {UntrustedUrl(L"/probe.txt?p-untrusted")}, false, nullptr, "p-untrusted"},
        {"scheme in capitals", {Url(L"/probe.txt?p-caps", L"HTTPS")}, true, "GET /probe.txt?p-caps", nullptr},
        {"second fails, third unasked",
         {Url(L"/probe.txt?p-first"), UntrustedUrl(L"/probe.txt?p-second"), Url(L"/probe.txt?p-third")},
         false, "GET /probe.txt?p-first", "p-third"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProbeUrls(c.urls), c.reachable);
        // The same list as the document's "service" group hands it over.
        ConfigGroup service;
        service.type = "service";
        for (const std::wstring& url : c.urls) {
            service.entries.push_back(ConfigEntry{WideToUtf8(url), "", "", "", ""});
        }
        EXPECT_EQ(ProbeService({service}), c.reachable);
        const std::string log = RequestLog();
        if (c.asked != nullptr) {
            EXPECT_NE(log.find(std::string(c.asked) + "\n"), std::string::npos) << "not requested";
        }
        if (c.unasked != nullptr) {
            EXPECT_EQ(log.find(c.unasked), std::string::npos) << "requested after a failure";
        }
    }
}

// Server → local copy → built-in document, each step with what the step
// before it left behind.
TEST_F(ServerTest, SourcesFallBackInOrder) {
    WindowsEnvironment env;
    // Larger than old readers' 8092 bytes, and with bytes equal to their key
    // bytes, which old writers cut the copy at.
    std::string served;
    // Kept well-formed: the key bytes that are plain text go into a text node.
    served = Document("https://server/", 12000);
    const size_t text = served.find("<entry>x") + 7;
    for (size_t i = 0; i < 10; ++i) {
        const uint8_t key = ScrambleKeyByte(text + i);
        served.insert(text + i, 1, static_cast<char>(key >= 0x20 && key < 0x7F && key != '<' && key != '&' ? key : 'x'));
    }
    Serve(L"item.xml", served);
    int notices = 0;
    const auto notice = [&notices] { ++notices; };

    ::SetEnvironmentVariableW(L"WAYFARER_TEST_CONFIG_URL", Url(L"/item.xml").c_str());
    {
        CheckItems fresh(env);
        const ConfigRetrieval r = ConfigWorker(fresh, notice);
        EXPECT_EQ(r.source, ConfigSource::Server);
        EXPECT_TRUE(fresh.configLoaded);
        EXPECT_EQ(notices, 0);
        const DWORD attributes = ::GetFileAttributesW(L".\\item.xml");
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "no local copy written";
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        ::SetFileAttributesW(L".\\item.xml", FILE_ATTRIBUTE_NORMAL);
        const std::string raw = ReadFile(L".\\item.xml");
        EXPECT_EQ(raw.size(), served.size());
        EXPECT_EQ(raw.find("checkitems"), std::string::npos) << "the local copy is not scrambled";
        EXPECT_EQ(LoadLocalCopy(), served);
        EXPECT_NE(::GetFileAttributesW(L".\\item.xml") & FILE_ATTRIBUTE_HIDDEN, 0u);
    }

    ::SetEnvironmentVariableW(L"WAYFARER_TEST_CONFIG_URL", Url(L"/missing/item.xml").c_str());
    {
        CheckItems fresh(env);
        const ConfigRetrieval r = ConfigWorker(fresh, notice);
        EXPECT_EQ(notices, 1);
        EXPECT_EQ(r.source, ConfigSource::LocalCopy);
        EXPECT_TRUE(fresh.configLoaded);
        EXPECT_EQ(fresh.base, "https://server/");
        EXPECT_NE(fresh.FindGroup("last"), nullptr) << "the local copy was not read in full";
    }

    RemoveLocalCopy();
    {
        CheckItems fresh(env);
        CheckItems builtIn(env);
        ASSERT_TRUE(builtIn.LoadFromText(LoadResourceText(L"item.xml", MAKEINTRESOURCEW(23))));
        const ConfigRetrieval r = ConfigWorker(fresh, notice);
        EXPECT_EQ(notices, 2);
        EXPECT_TRUE(r.documentObtained);
        EXPECT_EQ(r.source, ConfigSource::BuiltIn);
        EXPECT_TRUE(fresh.configLoaded);
        EXPECT_EQ(fresh.base, builtIn.base);
        EXPECT_EQ(fresh.FindGroup("last"), nullptr);
    }

    // Unreachable, untrusted, short: each falls back.
    const std::wstring failing[] = {UntrustedUrl(L"/item.xml"), Url(L"/short/item.xml"),
                                    Url(L"/empty/item.xml")};
    for (const std::wstring& url : failing) {
        ::SetEnvironmentVariableW(L"WAYFARER_TEST_CONFIG_URL", url.c_str());
        CheckItems fresh(env);
        EXPECT_FALSE(ConfigWorker(fresh, notice).fromServer());
        EXPECT_FALSE(Exists(L".\\item.xml"));
    }
    EXPECT_EQ(notices, 5);
    EXPECT_NE(RequestLog().find("GET /short/item.xml"), std::string::npos);
}

}  // namespace
}  // namespace wayfarer
