#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "checks/browser.h"
#include "common/handles.h"
#include "common/text.h"

namespace wayfarer {

namespace {

ZONEATTRIBUTES EmptyZoneAttributes() {
    ZONEATTRIBUTES attributes{};
    attributes.cbSize = sizeof attributes;
    return attributes;
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    // The usual way to reach an export whose signature the caller knows.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

ComApartment::ComApartment() noexcept
    : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
    if (initialized_) {
        ::CoUninitialize();
    }
}

bool CheckHomePagePolicy(CheckState& state, bool repair, const wchar_t* key) {
    state.homePageOk = true;
    unique_hkey policy;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ | KEY_WRITE, &policy) != ERROR_SUCCESS) {
        return true;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegQueryValueExW(policy.get(), L"Homepage", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value || value == 0) {
        return true;
    }
    state.homePageOk = repair && ::RegDeleteValueW(policy.get(), L"Homepage") == ERROR_SUCCESS;
    return state.homePageOk;
}

com_ptr<IInternetZoneManager> CreateZoneManager() {
    com_ptr<IInternetZoneManager> manager;
    ::CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_ALL, IID_IInternetZoneManager,
                       manager.put_void());
    return manager;
}

com_ptr<IInternetSecurityManager> CreateSecurityManager() {
    com_ptr<IInternetSecurityManager> manager;
    ::CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_ALL, IID_IInternetSecurityManager,
                       manager.put_void());
    return manager;
}

bool CheckSecurityLevel(CheckState& state, bool repair, const ZoneManagerFactory& create) {
    state.securityLevelOk = false;
    const com_ptr<IInternetZoneManager> manager = create();
    if (!manager) {
        return false;  // unknown is not in order
    }
    struct ZoneRule {
        DWORD zone;
        bool fixedLow;  // the trusted zone: URLTEMPLATE_LOW, else the zone's recommendation
    };
    for (const ZoneRule rule : {ZoneRule{kZoneInternet, false}, ZoneRule{kZoneTrusted, true},
                                ZoneRule{kZoneRestricted, false}}) {
        ZONEATTRIBUTES attributes = EmptyZoneAttributes();
        if (FAILED(manager->GetZoneAttributes(rule.zone, &attributes))) {
            continue;
        }
        if (rule.fixedLow) {
            attributes.dwTemplateRecommended = kUrlTemplateLow;
        }
        const DWORD target = attributes.dwTemplateRecommended;
        if (attributes.dwTemplateCurrentLevel == target) {
            continue;
        }
        if (!repair) {
            return false;
        }
        attributes.dwTemplateCurrentLevel = target;
        manager->SetZoneAttributes(rule.zone, &attributes);
        manager->CopyTemplatePoliciesToZone(target, rule.zone, 0);
    }
    state.securityLevelOk = true;
    return true;
}

bool SetZoneMappingWithRetry(const wchar_t* pattern, IInternetSecurityManager* manager, DWORD zone,
                             DWORD flags, const ZoneManagerFactory& create) {
    HRESULT result = manager->SetZoneMapping(zone, pattern, flags);
    if (result != E_ACCESSDENIED) {
        return SUCCEEDED(result);
    }
    const com_ptr<IInternetZoneManager> zones = create();
    if (zones) {
        ZONEATTRIBUTES attributes = EmptyZoneAttributes();
        if (SUCCEEDED(zones->GetZoneAttributes(zone, &attributes)) &&
            (attributes.dwFlags & ZAFLAGS_REQUIRE_VERIFICATION) != 0) {
            attributes.dwFlags &= ~static_cast<DWORD>(ZAFLAGS_REQUIRE_VERIFICATION);
            zones->SetZoneAttributes(zone, &attributes);
            result = manager->SetZoneMapping(zone, pattern, flags);
            attributes.dwFlags |= ZAFLAGS_REQUIRE_VERIFICATION;
            zones->SetZoneAttributes(zone, &attributes);
        }
    }
    return SUCCEEDED(result);
}

bool CheckTrustedSites(CheckItems& items, bool repair, const SecurityManagerFactory& create) {
    items.trustedSitesOk = true;
    const ConfigGroup* group = items.FindGroup("trust");
    if (group == nullptr) {
        return true;
    }
    items.trustedSitesOk = false;
    const com_ptr<IInternetSecurityManager> manager = create();
    if (!manager) {
        return false;  // unknown is not in order
    }
    for (const ConfigEntry& entry : group->entries) {
        const std::wstring url = Utf8ToWide(entry.text);
        DWORD zone = 0;
        if (FAILED(manager->MapUrlToZone(url.c_str(), &zone, 0))) {
            zone = static_cast<DWORD>(-1);
        }
        if (zone == kZoneTrusted) {
            continue;
        }
        if (!repair) {
            return false;
        }
        SetZoneMappingWithRetry(url.c_str(), manager.get(), kZoneTrusted, SZM_CREATE);
    }
    items.trustedSitesOk = true;
    return true;
}

bool ClearSslCache(const SslCacheCalls& calls) {
    if (calls.emptyCache == nullptr || calls.incrementHeader == nullptr) {
        return false;
    }
    if (!calls.emptyCache(nullptr, 0)) {
        return false;
    }
    DWORD unused = 0;
    return calls.incrementHeader(14, &unused) != FALSE;
}

bool ClearSslCache() {
    const unique_hmodule schannel(::LoadLibraryW(L"schannel.dll"));
    const unique_hmodule wininet(::LoadLibraryW(L"wininet.dll"));
    SslCacheCalls calls;
    calls.emptyCache = Export<decltype(calls.emptyCache)>(schannel.get(), "SslEmptyCacheW");
    calls.incrementHeader =
        Export<decltype(calls.incrementHeader)>(wininet.get(), "IncrementUrlCacheHeaderData");
    return ClearSslCache(calls);
}

bool ClearBrowserCache(const wchar_t* library) {
    {
        const unique_hmodule inetcpl(::LoadLibraryW(library));
        if (inetcpl && ::GetProcAddress(inetcpl.get(), "ClearMyTracksByProcessW") != nullptr) {
            // Started and left to itself: its outcome is not awaited.
            const std::string command =
                "Rundll32 " + WideToUtf8(library) + " ClearMyTracksByProcess 264";
            ::WinExec(command.c_str(), SW_HIDE);
            return true;
        }
    }
    return DeleteUrlCacheEntries();
}

bool DeleteUrlCacheEntries() {
    DWORD size = 0;
    {
        const unique_urlcache_find probe(::FindFirstUrlCacheEntryExA(
            nullptr, 0, NORMAL_CACHE_ENTRY, 0, nullptr, &size, nullptr, nullptr, nullptr));
        if (probe) {
            return true;  // no entry fits in no buffer; nothing sensible to walk
        }
    }
    const DWORD error = ::GetLastError();
    // Anything but "here is the size you need" leaves nothing to walk.
    if (error != ERROR_INSUFFICIENT_BUFFER || size < sizeof(INTERNET_CACHE_ENTRY_INFOA)) {
        return true;
    }
    std::vector<unsigned char> buffer(size);
    auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    const unique_urlcache_find find(::FindFirstUrlCacheEntryExA(nullptr, 0, NORMAL_CACHE_ENTRY, 0, entry,
                                                                &size, nullptr, nullptr, nullptr));
    if (!find) {
        return true;
    }
    for (;;) {
        if (entry->lpszSourceUrlName != nullptr) {
            const std::string url = entry->lpszSourceUrlName;
            if (!::DeleteUrlCacheEntryA(url.c_str())) {
                ::UnlockUrlCacheEntryFileA(url.c_str(), 0);
                ::DeleteUrlCacheEntryA(url.c_str());
            }
        }
        bool fetched = false;
        for (;;) {
            size = static_cast<DWORD>(buffer.size());
            if (::FindNextUrlCacheEntryExA(find.get(), entry, &size, nullptr, nullptr, nullptr)) {
                fetched = true;
                break;
            }
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) {
                break;  // the end, or a failure that ends the walk
            }
            buffer.resize(size);
            entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
        }
        if (!fetched) {
            break;
        }
    }
    return true;
}

}  // namespace wayfarer
