#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "checks/browser.h"
#include "common/handles.h"
#include "common/text.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

std::wstring TestName() {
    return Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

// ---- home-page policy, in a key of the test's own ----

class HomePagePolicyTest : public ::testing::Test {
protected:
    void SetUp() override {
        key_ = L"Software\\WayfarerTest\\" + TestName();
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
    void Set(DWORD type, const void* data, DWORD size) {
        unique_hkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), L"Homepage", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    bool ValuePresent() const {
        return RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), L"Homepage", RRF_RT_ANY, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }
    bool Check(bool repair) {
        state_.homePageOk = !repair;  // the opposite of what a check should store
        const bool result = CheckHomePagePolicy(state_, repair, key_.c_str());
        EXPECT_EQ(state_.homePageOk, result);
        return result;
    }

    std::wstring key_;
    CheckState state_;
};

TEST_F(HomePagePolicyTest, ALockedHomePageFailsAndTheRepairUnlocksIt) {
    const DWORD locked = 1;
    Set(REG_DWORD, &locked, sizeof locked);
    EXPECT_FALSE(Check(false));
    EXPECT_TRUE(ValuePresent());
    EXPECT_TRUE(Check(true));
    EXPECT_FALSE(ValuePresent());
    EXPECT_TRUE(Check(false));
}

TEST_F(HomePagePolicyTest, AnythingButANonZeroDwordIsNoPolicy) {
    EXPECT_TRUE(Check(false));  // no key
    const DWORD zero = 0;
    Set(REG_DWORD, &zero, sizeof zero);
    EXPECT_TRUE(Check(false));
    const wchar_t text[] = L"1";
    Set(REG_SZ, text, sizeof text);
    EXPECT_TRUE(Check(false));
    EXPECT_TRUE(Check(true));
    EXPECT_TRUE(ValuePresent());  // not ours to remove
}

// ---- zones: the prefix's own zone manager, restored after each test ----

struct ZoneSnapshot {
    DWORD zone;
    ZONEATTRIBUTES attributes;
};

class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        zones_ = CreateZoneManager();
        if (!zones_) {
            GTEST_SKIP() << "no zone manager could be created";
        }
        for (const DWORD zone : {kZoneTrusted, kZoneInternet, kZoneRestricted}) {
            ZoneSnapshot snapshot{zone, Read(zone)};
            saved_.push_back(snapshot);
        }
    }
    void TearDown() override {
        for (ZoneSnapshot& snapshot : saved_) {
            zones_->SetZoneAttributes(snapshot.zone, &snapshot.attributes);
        }
        zones_.reset();
        if (initialized_) {
            CoUninitialize();
        }
    }
    ZONEATTRIBUTES Read(DWORD zone) {
        ZONEATTRIBUTES attributes{};
        attributes.cbSize = sizeof attributes;
        EXPECT_EQ(zones_->GetZoneAttributes(zone, &attributes), S_OK);
        return attributes;
    }
    void SetLevels(DWORD zone, DWORD current, DWORD recommended) {
        ZONEATTRIBUTES attributes = Read(zone);
        attributes.dwTemplateCurrentLevel = current;
        attributes.dwTemplateRecommended = recommended;
        ASSERT_EQ(zones_->SetZoneAttributes(zone, &attributes), S_OK);
    }
    // Every zone as the check wants it.
    void SetAllInOrder() {
        SetLevels(kZoneInternet, URLTEMPLATE_MEDHIGH, URLTEMPLATE_MEDHIGH);
        SetLevels(kZoneTrusted, URLTEMPLATE_LOW, URLTEMPLATE_MEDIUM);
        SetLevels(kZoneRestricted, URLTEMPLATE_HIGH, URLTEMPLATE_HIGH);
    }
    bool Check(bool repair) {
        state_.securityLevelOk = !repair;
        const bool result = CheckSecurityLevel(state_, repair);
        EXPECT_EQ(state_.securityLevelOk, result);
        return result;
    }

    bool initialized_ = false;
    com_ptr<IInternetZoneManager> zones_;
    std::vector<ZoneSnapshot> saved_;
    CheckState state_;
};

TEST_F(ZoneTest, EveryZoneAtItsTemplatePasses) {
    SetAllInOrder();
    EXPECT_TRUE(Check(false));
}

struct ZoneCase {
    const char* name;
    DWORD zone;
    DWORD current;
    DWORD recommended;
    DWORD repairedCurrent;
    DWORD repairedRecommended;
};
void PrintTo(const ZoneCase& c, std::ostream* os) { *os << c.name; }


class ZoneLevelTest : public ZoneTest, public ::testing::WithParamInterface<ZoneCase> {};

TEST_P(ZoneLevelTest, AZoneOffItsTemplateFailsAndIsReset) {
    const ZoneCase& c = GetParam();
    SetAllInOrder();
    SetLevels(c.zone, c.current, c.recommended);
    EXPECT_FALSE(Check(false));
    EXPECT_TRUE(Check(true));
    const ZONEATTRIBUTES after = Read(c.zone);
    EXPECT_EQ(after.dwTemplateCurrentLevel, c.repairedCurrent);
    EXPECT_EQ(after.dwTemplateRecommended, c.repairedRecommended);
    EXPECT_TRUE(Check(false));
    // Wine's CopyTemplatePoliciesToZone is E_NOTIMPL; the repair does not
    // examine it, so only the levels are asserted here.
}

INSTANTIATE_TEST_SUITE_P(
    Zones, ZoneLevelTest,
    ::testing::Values(
        ZoneCase{"InternetCustom", kZoneInternet, URLTEMPLATE_MEDLOW, URLTEMPLATE_MEDHIGH, URLTEMPLATE_MEDHIGH,
                 URLTEMPLATE_MEDHIGH},
        ZoneCase{"TrustedAtMedium", kZoneTrusted, URLTEMPLATE_MEDIUM, URLTEMPLATE_MEDIUM, URLTEMPLATE_LOW,
                 URLTEMPLATE_LOW},
        ZoneCase{"RestrictedLowered", kZoneRestricted, URLTEMPLATE_MEDIUM, URLTEMPLATE_HIGH, URLTEMPLATE_HIGH,
                 URLTEMPLATE_HIGH}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SecurityLevelTest, WithoutAZoneManagerItIsNotInOrder) {
    for (const bool repair : {false, true}) {
        CheckState state;
        state.securityLevelOk = true;
        EXPECT_FALSE(CheckSecurityLevel(state, repair, [] { return com_ptr<IInternetZoneManager>(); }));
        EXPECT_FALSE(state.securityLevelOk);
    }
}

// ---- a security manager of ours ----

class FakeSecurityManager final : public IInternetSecurityManager {
public:
    std::set<std::wstring> trusted;       // what MapUrlToZone answers 2 for
    std::vector<HRESULT> answers;         // SetZoneMapping's answers in turn, then S_OK
    std::vector<std::wstring> mapped;     // patterns of the calls
    std::vector<DWORD> zoneFlagsAtCall;   // the real trusted zone's flags at each call
    std::function<DWORD()> readFlags;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IInternetSecurityManager) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the stack
    HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD) override {
        if (std::wstring(url).find(L"fails") != std::wstring::npos) {
            return E_FAIL;
        }
        *zone = trusted.count(url) != 0 ? kZoneTrusted : kZoneInternet;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR, DWORD, BYTE*, DWORD, BYTE*, DWORD, DWORD, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR, REFGUID, BYTE**, DWORD*, BYTE*, DWORD, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD zone, LPCWSTR pattern, DWORD flags) override {
        EXPECT_EQ(zone, kZoneTrusted);
        EXPECT_EQ(flags, static_cast<DWORD>(SZM_CREATE));
        mapped.emplace_back(pattern);
        if (readFlags) {
            zoneFlagsAtCall.push_back(readFlags());
        }
        const HRESULT answer = mapped.size() <= answers.size() ? answers[mapped.size() - 1] : S_OK;
        if (SUCCEEDED(answer)) {
            trusted.insert(pattern);
        }
        return answer;
    }
    HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD, IEnumString**, DWORD) override { return E_NOTIMPL; }

    // A second reference for the code under test, as CoCreateInstance gives one.
    com_ptr<IInternetSecurityManager> Share() {
        AddRef();
        return com_ptr<IInternetSecurityManager>(this);
    }

private:
    ULONG references_ = 1;
};

class TrustedSitesTest : public ::testing::Test {
protected:
    void AddTrust(std::vector<std::string> urls) {
        ConfigGroup group;
        group.type = "trust";
        for (auto& url : urls) {
            group.entries.push_back(ConfigEntry{std::move(url), "", "", "", ""});
        }
        items_.groups.push_back(std::move(group));
    }
    bool Check(bool repair, const SecurityManagerFactory& create) {
        items_.trustedSitesOk = !repair;
        const bool result = CheckTrustedSites(items_, repair, create);
        EXPECT_EQ(items_.trustedSitesOk, result);
        return result;
    }
    SecurityManagerFactory Fake() {
        return [this] {
            ++created_;
            return fake_.Share();
        };
    }

    test::FakeEnvironment env_;
    CheckItems items_{env_};
    FakeSecurityManager fake_;
    int created_ = 0;
};

TEST_F(TrustedSitesTest, NoGroupPassesWithoutAnyComObject) {
    EXPECT_TRUE(Check(false, Fake()));
    EXPECT_EQ(created_, 0);
}

TEST_F(TrustedSitesTest, WithoutASecurityManagerItIsNotInOrder) {
    AddTrust({"https://ebank.example"});
    EXPECT_FALSE(Check(false, [] { return com_ptr<IInternetSecurityManager>(); }));
    EXPECT_FALSE(Check(true, [] { return com_ptr<IInternetSecurityManager>(); }));
}

TEST_F(TrustedSitesTest, MissingMappingsFailAndTheRepairAddsOnlyThose) {
    AddTrust({"https://ebank.example", "http://www.example", "https://fails.example"});
    fake_.trusted = {L"https://ebank.example"};
    EXPECT_FALSE(Check(false, Fake()));
    EXPECT_TRUE(fake_.mapped.empty());
    EXPECT_TRUE(Check(true, Fake()));
    EXPECT_EQ(fake_.mapped, (std::vector<std::wstring>{L"http://www.example", L"https://fails.example"}));
    // A zone that cannot be told is not the trusted one, mapped or not.
    items_.groups.back().entries.pop_back();
    EXPECT_TRUE(Check(false, Fake()));
}

// The real MapUrlToZone over a mapping seeded in the registry (Wine has no
// SetZoneMapping).
class SeededTrustedSitesTest : public TrustedSitesTest {
protected:
    void SetUp() override {
        initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        host_ = L"wayfarer-" + TestName() + L".example";
        domain_ = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\" + host_;
        unique_hkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, domain_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        const DWORD trusted = kZoneTrusted;
        RegSetValueExW(key.get(), L"https", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&trusted), sizeof trusted);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, domain_.c_str());
        if (initialized_) {
            CoUninitialize();
        }
    }
    std::string Url(const wchar_t* scheme) const { return WideToUtf8(std::wstring(scheme) + L"://" + host_ + L"/"); }

    bool initialized_ = false;
    std::wstring host_;
    std::wstring domain_;
};

TEST_F(SeededTrustedSitesTest, ASeededMappingPassesAnUnmappedSchemeFails) {
    if (!CreateSecurityManager()) {
        GTEST_SKIP() << "no security manager could be created";
    }
    AddTrust({Url(L"https")});
    EXPECT_TRUE(Check(false, CreateSecurityManager));
    items_.groups.back().entries.push_back(ConfigEntry{Url(L"http"), "", "", "", ""});
    EXPECT_FALSE(Check(false, CreateSecurityManager));
    EXPECT_TRUE(Check(true, CreateSecurityManager));
    if (!Check(false, CreateSecurityManager)) {
        GTEST_SKIP() << "the repair could not add the mapping: Wine's SetZoneMapping is E_NOTIMPL";
    }
}

// SetZoneMappingWithRetry against the fake, with the real trusted zone's
// HTTPS requirement.
class ZoneMappingRetryTest : public ZoneTest {
protected:
    void SetUp() override {
        ZoneTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        ZONEATTRIBUTES attributes = Read(kZoneTrusted);
        attributes.dwFlags |= ZAFLAGS_REQUIRE_VERIFICATION;
        ASSERT_EQ(zones_->SetZoneAttributes(kZoneTrusted, &attributes), S_OK);
        fake_.readFlags = [this] { return Read(kZoneTrusted).dwFlags & ZAFLAGS_REQUIRE_VERIFICATION; };
    }
    FakeSecurityManager fake_;
};

struct RetryCase {
    const char* name;
    std::vector<HRESULT> answers;
    bool result;
    std::vector<DWORD> flagsAtCalls;  // ZAFLAGS_REQUIRE_VERIFICATION at each call
};
void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }


class ZoneMappingRetryCaseTest : public ZoneMappingRetryTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(ZoneMappingRetryCaseTest, RetriesOnlyARefusalWithTheRequirementLifted) {
    const RetryCase& c = GetParam();
    fake_.answers = c.answers;
    EXPECT_EQ(SetZoneMappingWithRetry(L"http://www.example", &fake_, kZoneTrusted, SZM_CREATE), c.result);
    EXPECT_EQ(fake_.zoneFlagsAtCall, c.flagsAtCalls);
    EXPECT_NE(Read(kZoneTrusted).dwFlags & ZAFLAGS_REQUIRE_VERIFICATION, 0u) << "the requirement was not restored";
}

constexpr DWORD kVerify = ZAFLAGS_REQUIRE_VERIFICATION;

INSTANTIATE_TEST_SUITE_P(Answers, ZoneMappingRetryCaseTest,
                         ::testing::Values(RetryCase{"Accepted", {S_OK}, true, {kVerify}},
                                           RetryCase{"OtherFailure", {E_FAIL}, false, {kVerify}},
                                           RetryCase{"RefusedThenAccepted", {E_ACCESSDENIED, S_OK}, true, {kVerify, 0}},
                                           RetryCase{"RefusedTwice", {E_ACCESSDENIED, E_ACCESSDENIED}, false,
                                                     {kVerify, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZoneMappingRetryTest, ARefusalWithoutTheRequirementIsNotRetried) {
    ZONEATTRIBUTES attributes = Read(kZoneTrusted);
    attributes.dwFlags &= ~static_cast<DWORD>(ZAFLAGS_REQUIRE_VERIFICATION);
    ASSERT_EQ(zones_->SetZoneAttributes(kZoneTrusted, &attributes), S_OK);
    fake_.answers = {E_ACCESSDENIED};
    EXPECT_FALSE(SetZoneMappingWithRetry(L"http://www.example", &fake_, kZoneTrusted, SZM_CREATE));
    EXPECT_EQ(fake_.mapped.size(), 1u);
}

// ---- caches ----

struct SslCalls {
    static BOOL emptyAnswer;
    static BOOL incrementAnswer;
    static int emptyCalls;
    static int incrementCalls;
    static BOOL WINAPI Empty(LPWSTR target, DWORD flags) {
        EXPECT_EQ(target, nullptr);
        EXPECT_EQ(flags, 0u);
        ++emptyCalls;
        return emptyAnswer;
    }
    static BOOL WINAPI Increment(DWORD index, LPDWORD) {
        EXPECT_EQ(index, 14u);
        ++incrementCalls;
        return incrementAnswer;
    }
};
BOOL SslCalls::emptyAnswer = FALSE;
BOOL SslCalls::incrementAnswer = FALSE;
int SslCalls::emptyCalls = 0;
int SslCalls::incrementCalls = 0;

TEST(SslCacheTest, TrueOnlyWhenBothCallsExistAndSucceed) {
    struct Case {
        bool haveEmpty, haveIncrement;
        BOOL emptyAnswer, incrementAnswer;
        bool result;
        int incrementCalls;
    };
    const Case cases[] = {
        {true, true, TRUE, TRUE, true, 1},   {true, true, TRUE, FALSE, false, 1},
        {true, true, FALSE, TRUE, false, 0}, {false, true, TRUE, TRUE, false, 0},
        {true, false, TRUE, TRUE, false, 0},
    };
    for (const Case& c : cases) {
        SslCalls::emptyAnswer = c.emptyAnswer;
        SslCalls::incrementAnswer = c.incrementAnswer;
        SslCalls::incrementCalls = 0;
        SslCacheCalls calls;
        calls.emptyCache = c.haveEmpty ? &SslCalls::Empty : nullptr;
        calls.incrementHeader = c.haveIncrement ? &SslCalls::Increment : nullptr;
        EXPECT_EQ(ClearSslCache(calls), c.result);
        EXPECT_EQ(SslCalls::incrementCalls, c.incrementCalls);
    }
}

TEST(SslCacheTest, TheSystemsCalls) {
    const unique_hmodule wininet(LoadLibraryW(L"wininet.dll"));
    const auto increment = reinterpret_cast<BOOL(WINAPI*)(DWORD, LPDWORD)>(
        reinterpret_cast<void*>(GetProcAddress(wininet.get(), "IncrementUrlCacheHeaderData")));
    DWORD unused = 0;
    if (increment == nullptr || !increment(14, &unused)) {
        EXPECT_FALSE(ClearSslCache());
        GTEST_SKIP() << "IncrementUrlCacheHeaderData is missing or fails (Wine's returns 0): ClearSslCache is false";
    }
    EXPECT_TRUE(ClearSslCache());
}

TEST(BrowserCacheTest, WithoutTheControlPanelLibraryTheCacheIsWalked) {
    // InetCpl.cpl itself is not used here: under Wine its rundll32 child
    // crashes in ClearMyTracksByProcessW.
    EXPECT_TRUE(ClearBrowserCache(L"wayfarer-no-such-library.cpl"));
}

TEST(BrowserCacheTest, DeletesEveryEntryAlsoOneInUse) {
    DWORD size = 0;
    {
        const unique_urlcache_find probe(FindFirstUrlCacheEntryExA(nullptr, 0, NORMAL_CACHE_ENTRY, 0, nullptr, &size,
                                                                   nullptr, nullptr, nullptr));
        const DWORD error = GetLastError();
        if (!probe && error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_NO_MORE_ITEMS) {
            EXPECT_TRUE(DeleteUrlCacheEntries());  // an enumeration that fails counts as cleared
            GTEST_SKIP() << "FindFirstUrlCacheEntryExA fails with " << error
                         << " (Wine lacks it): the walk cannot be observed";
        }
    }
    const char* urls[] = {"http://wayfarer-cache.example/a", "http://wayfarer-cache.example/in-use"};
    for (const char* url : urls) {
        char file[MAX_PATH] = {};
        ASSERT_TRUE(CreateUrlCacheEntryA(url, 0, "txt", file, 0));
        const unique_hfile handle(CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(handle.get(), "x", 1, &written, nullptr);
        const FILETIME never{};
        ASSERT_TRUE(CommitUrlCacheEntryA(url, file, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr));
    }
    DWORD infoSize = 0;
    RetrieveUrlCacheEntryFileA(urls[1], nullptr, &infoSize, 0);  // locks it
    std::vector<char> info(infoSize);
    RetrieveUrlCacheEntryFileA(urls[1], reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(info.data()), &infoSize, 0);
    EXPECT_TRUE(DeleteUrlCacheEntries());
    for (const char* url : urls) {
        DWORD need = 0;
        GetUrlCacheEntryInfoA(url, nullptr, &need);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << url;
    }
}

}  // namespace
}  // namespace wayfarer
