// Browser settings and caches: the home-page policy, the security zones'
// template levels, the trusted sites, and clearing the TLS and URL caches.
// Everything here talks to the registry, urlmon, schannel or WinINet, so
// apart from the constants it is Windows only.
#pragma once

#include <cstdint>
#include <functional>

#include "config/check_items.h"

#ifdef _WIN32
#include <windows.h>
#include <urlmon.h>

#include "common/handles.h"
#endif

namespace wayfarer {

constexpr uint32_t kUrlTemplateLow = 0x10000;
constexpr uint32_t kZoneTrusted = 2;
constexpr uint32_t kZoneInternet = 3;
constexpr uint32_t kZoneRestricted = 4;

#ifdef _WIN32
// Both under HKEY_CURRENT_USER.
constexpr const wchar_t* kHomePagePolicyKey =
    L"SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";

// A "Homepage" DWORD other than 0 under the policy key locks the home
// page: not in order; the repair deletes it. Anything unreadable counts as
// no policy. Stores homePageOk.
bool CheckHomePagePolicy(CheckState& state, bool repair, const wchar_t* key = kHomePagePolicyKey);

using ZoneManagerFactory = std::function<com_ptr<IInternetZoneManager>()>;
using SecurityManagerFactory = std::function<com_ptr<IInternetSecurityManager>()>;
// CoCreateInstance(CLSCTX_ALL); empty when it fails.
com_ptr<IInternetZoneManager> CreateZoneManager();
com_ptr<IInternetSecurityManager> CreateSecurityManager();

// The Internet and restricted zones at their recommended template, the
// trusted zone at URLTEMPLATE_LOW. A zone that cannot be read is passed
// over; without a zone manager the check is not in order. Stores
// securityLevelOk.
bool CheckSecurityLevel(CheckState& state, bool repair,
                        const ZoneManagerFactory& create = CreateZoneManager);

// Every URL of the "trust" group maps to the trusted zone; the repair adds
// the mappings that are missing. No group: in order, and no COM object is
// made; without a security manager: not in order. Stores trustedSitesOk.
bool CheckTrustedSites(CheckItems& items, bool repair,
                       const SecurityManagerFactory& create = CreateSecurityManager);

// SetZoneMapping; refused with E_ACCESSDENIED, once more with the zone's
// ZAFLAGS_REQUIRE_VERIFICATION lifted, and the flag set again after.
bool SetZoneMappingWithRetry(const wchar_t* pattern, IInternetSecurityManager* manager, DWORD zone,
                             DWORD flags, const ZoneManagerFactory& create = CreateZoneManager);

// The two calls of the TLS cache clearing, reached at run time.
struct SslCacheCalls {
    BOOL(WINAPI* emptyCache)(LPWSTR target, DWORD flags) = nullptr;
    BOOL(WINAPI* incrementHeader)(DWORD index, LPDWORD data) = nullptr;
};
// True only when both exist and both return non-zero; the second is not
// called when the first fails.
bool ClearSslCache(const SslCacheCalls& calls);
// Over SslEmptyCacheW of schannel.dll and IncrementUrlCacheHeaderData of
// wininet.dll.
bool ClearSslCache();

// Starts "Rundll32 <library> ClearMyTracksByProcess 264" hidden when the
// library exports ClearMyTracksByProcessW (never called here: it is meant
// for rundll32), else walks the URL cache. Always true.
bool ClearBrowserCache(const wchar_t* library = L"InetCpl.cpl");
// Deletes every normal URL cache entry, unlocking one that is in use.
// Always true: an empty or unreadable cache counts as cleared.
bool DeleteUrlCacheEntries();

// COM on the calling thread for a scope, when the host has not set it up.
class ComApartment {
public:
    ComApartment() noexcept;
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized_ = false;
};
#endif

}  // namespace wayfarer
