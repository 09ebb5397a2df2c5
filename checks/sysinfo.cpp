#include "checks/sysinfo.h"

#include <map>

namespace wayfarer {

namespace {

constexpr uint32_t kPlatformNt = 2;
constexpr uint8_t kWorkstation = 1;
constexpr uint16_t kSuiteEnterprise = 0x2;
constexpr uint16_t kSuiteDatacenter = 0x80;
constexpr uint16_t kSuitePersonal = 0x200;
constexpr uint16_t kSuiteBlade = 0x400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteHomeServer = 0x8000;
constexpr uint16_t kIntel = 0;
constexpr uint16_t kIa64 = 6;
constexpr uint16_t kAmd64 = 9;

const std::map<uint32_t, const char*>& Editions() {
    static const std::map<uint32_t, const char*> table{
        {1, "旗舰版"},
        {2, "家庭普通版"},
        {3, "家庭高级版"},
        {4, "企业版"},
        {6, "商用版"},
        {7, "Standard Edition"},
        {8, "Datacenter Edition"},
        {9, "Small Business Server"},
        {10, "Enterprise Edition"},
        {11, "初级版"},
        {12, "Datacenter Edition (core installation)"},
        {13, "Standard Edition (core installation)"},
        {14, "Enterprise Edition (core installation)"},
        {15, "Enterprise Edition for Itanium-based Systems"},
        {17, "Web Server Edition"},
        {18, "Cluster Server Edition"},
        {25, "Small Business Server Premium Edition"},
        {48, "专业版"},
    };
    return table;
}

// The types Windows 10 and 11 report for their common editions that the
// table above does not know (Pro, Enterprise and the servers it does).
const std::map<uint32_t, const char*>& Editions10() {
    static const std::map<uint32_t, const char*> table{
        {0x63, "家庭中文版"},  // PRODUCT_CORE_COUNTRYSPECIFIC
        {0x65, "家庭版"},      // PRODUCT_CORE
        {0x79, "教育版"},      // PRODUCT_EDUCATION
    };
    return table;
}

const char* ServerName10(uint32_t build) {
    if (build >= 26100) {
        return "Windows Server 2025 ";
    }
    if (build >= 20348) {
        return "Windows Server 2022 ";
    }
    if (build >= 17763) {
        return "Windows Server 2019 ";
    }
    return "Windows Server 2016 ";
}

void AppendVersion5(const SystemFacts& f, std::string& text) {
    const bool workstation = f.productType == kWorkstation;
    const auto has = [&f](uint16_t bit) { return (f.suiteMask & bit) != 0; };
    if (f.minorVersion == 2) {
        if (f.serverR2) {
            text += "Windows Server 2003 R2, ";
        } else if (has(kSuiteStorageServer)) {
            text += "Windows Storage Server 2003";
        } else if (has(kSuiteHomeServer)) {
            text += "Windows Home Server";
        } else if (workstation && f.architecture == kAmd64) {
            text += "Windows XP Professional x64 Edition";
        } else {
            text += "Windows Server 2003, ";
        }
        if (workstation) {
            return;
        }
        if (f.architecture == kIa64) {
            if (has(kSuiteDatacenter)) {
                text += "Datacenter Edition for Itanium-based Systems";
            } else if (has(kSuiteEnterprise)) {
                text += "Enterprise Edition for Itanium-based Systems";
            }
        } else if (f.architecture == kAmd64) {
            if (has(kSuiteDatacenter)) {
                text += "Datacenter x64 Edition";
            } else if (has(kSuiteEnterprise)) {
                text += "Enterprise x64 Edition";
            } else {
                text += "Standard x64 Edition";
            }
        } else if (has(kSuiteComputeServer)) {
            text += "Compute Cluster Edition";
        } else if (has(kSuiteDatacenter)) {
            text += "Datacenter Edition";
        } else if (has(kSuiteEnterprise)) {
            text += "Enterprise Edition";
        } else if (has(kSuiteBlade)) {
            text += "Web Edition";
        } else {
            text += "Standard Edition";
        }
    } else if (f.minorVersion == 1) {
        text += "Windows XP ";
        text += has(kSuitePersonal) ? "家庭版" : "专业版";
    } else if (f.minorVersion == 0) {
        text += "Windows 2000 ";
        if (workstation) {
            text += "专业版";
        } else if (has(kSuiteDatacenter)) {
            text += "数据中心版";
        } else if (has(kSuiteEnterprise)) {
            text += "高级服务器版";
        } else {
            text += "服务器版";
        }
    }
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string EditionName(uint32_t majorVersion, uint32_t productType) {
    if (majorVersion != 6 && majorVersion != 10) {
        return {};
    }
    const auto found = Editions().find(productType);
    if (found != Editions().end()) {
        return found->second;
    }
    if (majorVersion == 10) {
        const auto found10 = Editions10().find(productType);
        if (found10 != Editions10().end()) {
            return found10->second;
        }
    }
    return {};
}

std::string DescribeSystem(const SystemFacts& f) {
    if (!f.versionRead) {
        return "Error";
    }
    if (f.platformId != kPlatformNt || f.majorVersion <= 4) {
        return "Unknown version of Windows";
    }
    const bool workstation = f.productType == kWorkstation;
    std::string text = "Microsoft ";
    if (f.majorVersion == 6 || f.majorVersion == 10) {
        if (f.majorVersion == 10) {
            if (!workstation) {
                text += ServerName10(f.buildNumber);
            } else {
                text += f.buildNumber >= 22000 ? "Windows 11 " : "Windows 10 ";
            }
        } else if (f.minorVersion == 0) {
            text += workstation ? "Windows Vista " : "Windows Server 2008 ";
        } else if (f.minorVersion == 1) {
            text += workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
        } else if (f.minorVersion == 2 && workstation) {
            text += "Windows 8 ";
        } else if (f.minorVersion == 3 && workstation) {
            // Only the true version shows 6.3; GetVersionExW said 6.2, "Windows 8".
            text += "Windows 8.1 ";
        }
        if (f.haveProductInfo) {
            text += EditionName(f.majorVersion, f.productInfoType);
        }
    } else if (f.majorVersion == 5) {
        AppendVersion5(f, text);
    }
    if (!f.servicePack.empty()) {
        text += " ";
        text += f.servicePack;
        ReplaceAll(text, "Service Pack ", "SP");
    }
    text += " (build " + std::to_string(f.buildNumber) + ")";
    if (f.majorVersion >= 6) {
        if (f.architecture == kAmd64) {
            text += " 64位";
        } else if (f.architecture == kIntel) {
            text += " 32位";
        }
    }
    return text;
}

}  // namespace wayfarer
