#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "checks/sysinfo.h"

namespace wayfarer {
namespace {

constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kServer = 3;
constexpr uint16_t kX86 = 0;
constexpr uint16_t kIa64 = 6;
constexpr uint16_t kAmd64 = 9;
constexpr uint16_t kArm64 = 12;

SystemFacts Nt(uint32_t major, uint32_t minor, uint32_t build, uint8_t productType, uint16_t arch,
               uint16_t suite = 0, const char* servicePack = "") {
    SystemFacts facts;
    facts.versionRead = true;
    facts.platformId = 2;
    facts.majorVersion = major;
    facts.minorVersion = minor;
    facts.buildNumber = build;
    facts.productType = productType;
    facts.architecture = arch;
    facts.suiteMask = suite;
    facts.servicePack = servicePack;
    return facts;
}

SystemFacts WithProduct(SystemFacts facts, uint32_t type) {
    facts.haveProductInfo = true;
    facts.productInfoType = type;
    return facts;
}

SystemFacts WithServerR2(SystemFacts facts) {
    facts.serverR2 = true;
    return facts;
}

struct DescriptionCase {
    const char* name;
    SystemFacts facts;
    const char* expected;
};
void PrintTo(const DescriptionCase& c, std::ostream* os) { *os << c.name; }


class DescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(DescriptionTest, Describes) {
    EXPECT_EQ(DescribeSystem(GetParam().facts), GetParam().expected);
}

SystemFacts NotRead() {
    SystemFacts facts = Nt(6, 1, 7601, kWorkstation, kAmd64);
    facts.versionRead = false;
    return facts;
}

SystemFacts Win9x() {
    SystemFacts facts = Nt(4, 10, 2222, kWorkstation, kX86);
    facts.platformId = 1;
    return facts;
}

const DescriptionCase kCases[] = {
    {"VersionNotRead", NotRead(), "Error"},
    {"NotNt", Win9x(), "Unknown version of Windows"},
    {"Nt4", Nt(4, 0, 1381, kWorkstation, kX86), "Unknown version of Windows"},
    // 2000
    {"W2000Pro", Nt(5, 0, 2195, kWorkstation, kX86, 0, "Service Pack 4"),
     "Microsoft Windows 2000 专业版 SP4 (build 2195)"},
    {"W2000Datacenter", Nt(5, 0, 2195, kServer, kX86, 0x80 | 0x2), "Microsoft Windows 2000 数据中心版 (build 2195)"},
    {"W2000Advanced", Nt(5, 0, 2195, kServer, kX86, 0x2), "Microsoft Windows 2000 高级服务器版 (build 2195)"},
    {"W2000Server", Nt(5, 0, 2195, kServer, kX86), "Microsoft Windows 2000 服务器版 (build 2195)"},
    // XP
    {"XpHomeSp3", Nt(5, 1, 2600, kWorkstation, kX86, 0x200, "Service Pack 3"),
     "Microsoft Windows XP 家庭版 SP3 (build 2600)"},
    {"XpPro", Nt(5, 1, 2600, kWorkstation, kX86), "Microsoft Windows XP 专业版 (build 2600)"},
    // 5.2
    {"Server2003R2", WithServerR2(Nt(5, 2, 3790, kServer, kX86, 0x2000)),
     "Microsoft Windows Server 2003 R2, Standard Edition (build 3790)"},
    {"StorageServer", Nt(5, 2, 3790, kServer, kX86, 0x2000), "Microsoft Windows Storage Server 2003Standard Edition (build 3790)"},
    {"HomeServer", Nt(5, 2, 3790, kServer, kX86, 0x8000), "Microsoft Windows Home ServerStandard Edition (build 3790)"},
    {"XpX64", Nt(5, 2, 3790, kWorkstation, kAmd64, 0, "Service Pack 2"),
     "Microsoft Windows XP Professional x64 Edition SP2 (build 3790)"},
    {"XpOnIa64Workstation", Nt(5, 2, 3790, kWorkstation, kIa64), "Microsoft Windows Server 2003,  (build 3790)"},
    {"Ia64Datacenter", Nt(5, 2, 3790, kServer, kIa64, 0x80 | 0x2),
     "Microsoft Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790)"},
    {"Ia64Enterprise", Nt(5, 2, 3790, kServer, kIa64, 0x2),
     "Microsoft Windows Server 2003, Enterprise Edition for Itanium-based Systems (build 3790)"},
    {"Ia64Plain", Nt(5, 2, 3790, kServer, kIa64), "Microsoft Windows Server 2003,  (build 3790)"},
    {"X64Datacenter", Nt(5, 2, 3790, kServer, kAmd64, 0x80), "Microsoft Windows Server 2003, Datacenter x64 Edition (build 3790)"},
    {"X64Enterprise", Nt(5, 2, 3790, kServer, kAmd64, 0x2), "Microsoft Windows Server 2003, Enterprise x64 Edition (build 3790)"},
    {"X64Standard", Nt(5, 2, 3790, kServer, kAmd64), "Microsoft Windows Server 2003, Standard x64 Edition (build 3790)"},
    {"ComputeCluster", Nt(5, 2, 3790, kServer, kX86, 0x4000 | 0x80), "Microsoft Windows Server 2003, Compute Cluster Edition (build 3790)"},
    {"Datacenter", Nt(5, 2, 3790, kServer, kX86, 0x80 | 0x2), "Microsoft Windows Server 2003, Datacenter Edition (build 3790)"},
    {"Enterprise", Nt(5, 2, 3790, kServer, kX86, 0x2 | 0x400), "Microsoft Windows Server 2003, Enterprise Edition (build 3790)"},
    {"Web", Nt(5, 2, 3790, kServer, kX86, 0x400), "Microsoft Windows Server 2003, Web Edition (build 3790)"},
    {"Standard", Nt(5, 2, 3790, kServer, kX86), "Microsoft Windows Server 2003, Standard Edition (build 3790)"},
    {"FiveThree", Nt(5, 3, 4000, kWorkstation, kX86), "Microsoft  (build 4000)"},
    // 6.x
    {"VistaHomeBasic", WithProduct(Nt(6, 0, 6002, kWorkstation, kX86, 0, "Service Pack 2"), 2),
     "Microsoft Windows Vista 家庭普通版 SP2 (build 6002) 32位"},
    {"Server2008", WithProduct(Nt(6, 0, 6001, kServer, kAmd64), 8), "Microsoft Windows Server 2008 Datacenter Edition (build 6001) 64位"},
    {"Win7UltimateSp1", WithProduct(Nt(6, 1, 7601, kWorkstation, kAmd64, 0, "Service Pack 1"), 1),
     "Microsoft Windows 7 旗舰版 SP1 (build 7601) 64位"},
    {"Server2008R2Core", WithProduct(Nt(6, 1, 7600, kServer, kAmd64), 13),
     "Microsoft Windows Server 2008 R2 Standard Edition (core installation) (build 7600) 64位"},
    {"Win8Pro", WithProduct(Nt(6, 2, 9200, kWorkstation, kX86), 48), "Microsoft Windows 8 专业版 (build 9200) 32位"},
    {"Server2012", WithProduct(Nt(6, 2, 9200, kServer, kAmd64), 7), "Microsoft Standard Edition (build 9200) 64位"},
    {"Win81", WithProduct(Nt(6, 3, 9600, kWorkstation, kAmd64), 48), "Microsoft Windows 8.1 专业版 (build 9600) 64位"},
    {"Server2012R2", WithProduct(Nt(6, 3, 9600, kServer, kAmd64), 8), "Microsoft Datacenter Edition (build 9600) 64位"},
    {"UnknownEdition", WithProduct(Nt(6, 1, 7601, kWorkstation, kAmd64), 5), "Microsoft Windows 7  (build 7601) 64位"},
    {"NoGetProductInfo", Nt(6, 0, 6000, kWorkstation, kX86), "Microsoft Windows Vista  (build 6000) 32位"},
    // A Windows 10 type on Windows 7 is not looked up in the newer table.
    {"NewerTypeOnSix", WithProduct(Nt(6, 1, 7601, kWorkstation, kX86), 0x65), "Microsoft Windows 7  (build 7601) 32位"},
    {"OtherArchitecture", WithProduct(Nt(6, 1, 7601, kWorkstation, kIa64), 1), "Microsoft Windows 7 旗舰版 (build 7601)"},
    // 10 and 11
    {"Win10Home", WithProduct(Nt(10, 0, 19045, kWorkstation, kAmd64), 0x65), "Microsoft Windows 10 家庭版 (build 19045) 64位"},
    {"Win10HomeChina", WithProduct(Nt(10, 0, 19045, kWorkstation, kX86), 0x63), "Microsoft Windows 10 家庭中文版 (build 19045) 32位"},
    {"Win10Pro", WithProduct(Nt(10, 0, 10240, kWorkstation, kAmd64), 48), "Microsoft Windows 10 专业版 (build 10240) 64位"},
    {"Win10Enterprise", WithProduct(Nt(10, 0, 21999, kWorkstation, kAmd64), 4), "Microsoft Windows 10 企业版 (build 21999) 64位"},
    {"Win11Education", WithProduct(Nt(10, 0, 22000, kWorkstation, kAmd64), 0x79), "Microsoft Windows 11 教育版 (build 22000) 64位"},
    {"Win11Pro", WithProduct(Nt(10, 0, 26100, kWorkstation, kAmd64), 48), "Microsoft Windows 11 专业版 (build 26100) 64位"},
    {"Win11OnArm", WithProduct(Nt(10, 0, 22631, kWorkstation, kArm64), 48), "Microsoft Windows 11 专业版 (build 22631)"},
    {"Server2016", WithProduct(Nt(10, 0, 14393, kServer, kAmd64), 7), "Microsoft Windows Server 2016 Standard Edition (build 14393) 64位"},
    {"Server2019", WithProduct(Nt(10, 0, 17763, kServer, kAmd64), 8), "Microsoft Windows Server 2019 Datacenter Edition (build 17763) 64位"},
    {"Server2022Core", WithProduct(Nt(10, 0, 20348, kServer, kAmd64), 12),
     "Microsoft Windows Server 2022 Datacenter Edition (core installation) (build 20348) 64位"},
    {"Server2025", WithProduct(Nt(10, 0, 26100, kServer, kAmd64), 7), "Microsoft Windows Server 2025 Standard Edition (build 26100) 64位"},
    {"LastBuildOf2022", Nt(10, 0, 26099, kServer, kAmd64), "Microsoft Windows Server 2022  (build 26099) 64位"},
    {"ElevenIsNoMajorVersion", Nt(11, 0, 30000, kWorkstation, kAmd64), "Microsoft  (build 30000) 64位"},
    // Every "Service Pack " of the whole text is shortened.
    {"ServicePackEverywhere", Nt(5, 1, 2600, kWorkstation, kX86, 0, "Service Pack 3, Service Pack 3a"),
     "Microsoft Windows XP 专业版 SP3, SP3a (build 2600)"},
};

INSTANTIATE_TEST_SUITE_P(Systems, DescriptionTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wayfarer
