// System information: the description of the operating system and the
// browser's version, as the page shows them. The description is built
// portably from a plain record of what Windows reported; reading that
// record and the browser's version is Windows only.
#pragma once

#include <cstdint>
#include <string>

namespace wayfarer {

// What the description is built from. The version is the true one
// (RtlGetVersion), not what a compatibility shim tells GetVersionExW.
struct SystemFacts {
    bool versionRead = false;        // false: GetVersionExW failed
    uint32_t platformId = 0;         // VER_PLATFORM_WIN32_NT is 2
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    std::string servicePack;         // the version record's text, UTF-8
    uint16_t suiteMask = 0;
    uint8_t productType = 0;         // VER_NT_WORKSTATION is 1
    uint16_t architecture = 0;       // PROCESSOR_ARCHITECTURE_*
    bool haveProductInfo = false;    // GetProductInfo is exported
    uint32_t productInfoType = 0;    // its answer
    bool serverR2 = false;           // GetSystemMetrics(SM_SERVERR2) != 0
};

// UTF-8, e.g. "Microsoft Windows 7 旗舰版 SP1 (build 7601) 64位". Windows 10
// and 11 are told apart by build (22000 and later is 11) and servers of
// major version 10 are named by build; 6.3 workstations are "Windows 8.1".
std::string DescribeSystem(const SystemFacts& facts);

// The edition name of a GetProductInfo type for a major version; empty when
// the type has none there.
std::string EditionName(uint32_t majorVersion, uint32_t productType);

#ifdef _WIN32
SystemFacts ReadSystemFacts();
// DescribeSystem(ReadSystemFacts()).
std::string GetSystemDescription();

// The string value "Version" of HKLM\<key> through SHRegGetUSValueW, read in
// at most 200 bytes; "0" when it cannot be read.
std::string GetBrowserVersion(const wchar_t* key = L"SOFTWARE\\Microsoft\\Internet Explorer");
#endif

}  // namespace wayfarer
