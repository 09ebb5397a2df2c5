#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>

#include "checks/sysinfo.h"
#include "common/text.h"

namespace wayfarer {

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);

template <typename Fn>
Fn Export(const wchar_t* module, const char* name) {
    HMODULE loaded = ::GetModuleHandleW(module);
    if (loaded == nullptr) {
        return nullptr;
    }
    // The usual way to reach an export whose signature the caller knows.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)));
}

}  // namespace

SystemFacts ReadSystemFacts() {
    SystemFacts facts;
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // deprecated, but it is the call that says whether the record is there
#endif
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        return facts;
    }
    // From Windows 8.1 on, GetVersionExW tells an unmanifested program 6.2;
    // ntdll tells the truth.
    if (const auto rtlGetVersion = Export<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion")) {
        OSVERSIONINFOEXW real{};
        real.dwOSVersionInfoSize = sizeof real;
        if (rtlGetVersion(&real) == 0) {
            info = real;
        }
    }
    facts.versionRead = true;
    facts.platformId = info.dwPlatformId;
    facts.majorVersion = info.dwMajorVersion;
    facts.minorVersion = info.dwMinorVersion;
    facts.buildNumber = info.dwBuildNumber;
    facts.servicePack = WideToUtf8(info.szCSDVersion);
    facts.suiteMask = info.wSuiteMask;
    facts.productType = info.wProductType;

    SYSTEM_INFO system{};
    if (const auto nativeInfo = Export<GetNativeSystemInfoFn>(L"kernel32.dll", "GetNativeSystemInfo")) {
        nativeInfo(&system);
    } else {
        ::GetSystemInfo(&system);
    }
    facts.architecture = system.wProcessorArchitecture;

    if (const auto productInfo = Export<GetProductInfoFn>(L"kernel32.dll", "GetProductInfo")) {
        DWORD type = 0;
        productInfo(info.dwMajorVersion, info.dwMinorVersion, 0, 0, &type);
        facts.haveProductInfo = true;
        facts.productInfoType = type;
    }
    facts.serverR2 = ::GetSystemMetrics(SM_SERVERR2) != 0;
    return facts;
}

std::string GetSystemDescription() {
    return DescribeSystem(ReadSystemFacts());
}

std::string GetBrowserVersion(const wchar_t* key) {
    wchar_t version[100] = {};  // 200 bytes
    DWORD type = REG_SZ;
    DWORD size = sizeof version;
    const LSTATUS status = ::SHRegGetUSValueW(key, L"Version", &type, version, &size, TRUE, nullptr, 0);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return "0";
    }
    // A value that fills the buffer comes without its terminator.
    const size_t units = std::min<size_t>(size / sizeof(wchar_t), 100);
    return WideToUtf8(std::wstring(version, wcsnlen(version, units)));
}

}  // namespace wayfarer
