// The built-in document app/res/item.xml: what it holds, and that it agrees
// with the deployment names the build was configured with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "config/check_items.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

using test::FakeEnvironment;

const std::string kDownTmp = "C:\\Users\\u\\AppData\\Local\\Temp\\DownTmp";
const std::string kDownloadFolder = std::string(WAYFARER_DOWNLOAD_BASE) + "/perbank/download/812/";
const std::string kSilent = "\"%1\" /sp- /verysilent /norestart";
const std::string kSafeClsid = "{127698E4-E730-4E5C-A2B1-21490A70C8A1}";
const std::string kSignClsid = "{884E2049-217D-11DA-B2A4-000E7BBB2B09}";

std::string ReadDefaultDocument() {
    std::ifstream in(WAYFARER_SOURCE_DIR "/app/res/item.xml", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string HostOf(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    const size_t start = scheme + 3;
    const size_t end = url.find_first_of(":/", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

class DefaultDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        raw = ReadDefaultDocument();
        ASSERT_FALSE(raw.empty()) << "cannot read app/res/item.xml";
        ASSERT_TRUE(doc.LoadFromText(raw));
    }

    const ConfigGroup& Group(const char* type) {
        static const ConfigGroup none;
        const ConfigGroup* group = doc.FindGroup(type);
        EXPECT_NE(group, nullptr) << "no group " << type;
        return group ? *group : none;
    }

    std::string raw;
    FakeEnvironment env;
    CheckItems doc{env};
};

TEST_F(DefaultDocumentTest, IsUtf8WithByteOrderMarkAndCrLfLines) {
    ASSERT_GE(raw.size(), 3u);
    EXPECT_EQ(raw.substr(0, 3), "\xEF\xBB\xBF");
    size_t lines = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n') {
            ++lines;
            EXPECT_TRUE(i > 0 && raw[i - 1] == '\r') << "bare LF at byte " << i;
        } else if (raw[i] == '\r') {
            EXPECT_TRUE(i + 1 < raw.size() && raw[i + 1] == '\n') << "bare CR at byte " << i;
        }
    }
    EXPECT_GT(lines, 10u);
}

TEST_F(DefaultDocumentTest, HoldsTheGroupsInOrder) {
    std::vector<std::string> types;
    std::vector<size_t> counts;
    for (const auto& group : doc.groups) {
        types.push_back(group.type);
        counts.push_back(group.entries.size());
    }
    EXPECT_EQ(types, (std::vector<std::string>{"registry", "service", "dns", "host", "trust"}));
    EXPECT_EQ(counts, (std::vector<size_t>{12, 1, 2, 2, 1}));
    EXPECT_EQ(doc.base, "");

    const std::string settings =
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const std::string schannel =
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\SecurityProviders\\SCHANNEL";
    const std::string preApproved =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\";
    const std::string stats = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\";
    const std::string allowed = "\\iexplore\\AllowedDomains\\*";
    const ConfigEntry expected[] = {
        {schannel, "DisableRenegoOnClient", "reg_dword", "0", ""},
        {schannel, "DisableRenegoOnServer", "reg_dword", "0", ""},
        {settings + "\\Zones\\2", "1201", "reg_dword", "0", ""},
        {settings + "\\Zones\\2", "2101", "reg_dword", "0", ""},
        {settings + "\\Zones\\2", "1208", "reg_dword", "0", ""},
        {settings, "SecureProtocols", "reg_dword", "168", ""},
        {preApproved + kSafeClsid, "", "reg_sz", "", ""},
        {preApproved + kSignClsid, "", "reg_sz", "", ""},
        {stats + kSafeClsid + allowed, "", "reg_sz", "", ""},
        {stats + kSignClsid + allowed, "", "reg_sz", "", ""},
        {settings + "\\Zones\\3", "2500", "reg_dword", "3", ""},
        {"HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData",
         "UserFilter", "reg_binary", "(checked below)", ""},
    };
    const ConfigGroup& registry = Group("registry");
    ASSERT_EQ(registry.entries.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE("registry entry " + std::to_string(i));
        const ConfigEntry& e = registry.entries[i];
        EXPECT_EQ(e.text, expected[i].text);
        EXPECT_EQ(e.name, expected[i].name);
        EXPECT_EQ(e.type, expected[i].type);
        if (e.type != "reg_binary") {
            EXPECT_EQ(e.value, expected[i].value);
        }
        EXPECT_EQ(e.mask, "");
    }

    EXPECT_EQ(Group("service").entries.at(0).text, WAYFARER_SERVICE_URL);
    for (const auto& e : Group("dns").entries) {
        EXPECT_EQ(e.text, WAYFARER_EBANK_HOST);
        EXPECT_EQ(e.value.rfind("192.0.2.", 0), 0u) << e.value;
    }
    const auto& dns = Group("dns").entries;
    if (dns.size() == 2) {
        EXPECT_NE(dns[0].value, dns[1].value);
    }
    const auto& hosts = Group("host").entries;
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(hosts[0].text, WAYFARER_WEB_HOST);
    EXPECT_EQ(hosts[1].text, WAYFARER_EBANK_HOST);
    EXPECT_EQ(Group("trust").entries.at(0).text, std::string("https://") + WAYFARER_EBANK_HOST);
}

TEST_F(DefaultDocumentTest, UserFilterIsACompatibilityListNamingTheBank) {
    const ConfigGroup& registry = Group("registry");
    ASSERT_FALSE(registry.entries.empty());
    const std::string& hex = registry.entries.back().value;
    ASSERT_EQ(hex.size() % 2, 0u);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        ASSERT_TRUE(high >= 0 && low >= 0) << "not a hex digit at " << i;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }

    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
              (std::vector<uint8_t>{0x41, 0x1F, 0x00, 0x00, 0x53, 0x08, 0xAD, 0xBA}));
    const uint32_t count = Le32(bytes, 8);
    EXPECT_EQ(Le32(bytes, 12), bytes.size() - 12);
    EXPECT_EQ(Le32(bytes, 16), 1u);
    EXPECT_EQ(Le32(bytes, 20), count);

    std::vector<std::string> sites;
    size_t at = 24;
    while (at + 18 <= bytes.size()) {
        EXPECT_EQ(Le32(bytes, at), 0x0Cu);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + at + 9, bytes.begin() + at + 12),
                  (std::vector<uint8_t>{0x84, 0xCD, 0x01}));
        EXPECT_EQ(Le32(bytes, at + 12), 1u);
        const size_t n = bytes[at + 16] | (bytes[at + 17] << 8);
        ASSERT_LE(at + 18 + 2 * n, bytes.size());
        std::string name;
        for (size_t k = 0; k < n; ++k) {
            EXPECT_EQ(bytes[at + 18 + 2 * k + 1], 0) << "not ASCII in UTF-16LE";
            name += static_cast<char>(bytes[at + 18 + 2 * k]);
        }
        sites.push_back(name);
        at += 18 + 2 * n;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(sites.size(), count);
    EXPECT_EQ(sites, std::vector<std::string>{WAYFARER_BANK_DOMAIN});
}

TEST_F(DefaultDocumentTest, HoldsTheFourComponents) {
    const struct {
        const char* type;
        size_t clsidRules;
        std::vector<std::string> fileRules;  // "file" detect rules, after the clsid ones
        const char* className;
    } expected[] = {
        {"SafeActiveX", 6, {}, ""},
        {"SignActiveX", 1, {}, ""},
        {"UkeyActiveX", 1, {"LunmarUKeyCtl.dll", "LunmarUKeyCsp.dll"}, ""},
        {"driver", 0, {"FTePass2000Auto_CSP.dll", "FTePass2000Auto_P11.dll"}, "CFeitianUSBKey"},
    };
    ASSERT_EQ(doc.items.size(), std::size(expected));
    EXPECT_TRUE(doc.components.empty());
    for (size_t i = 0; i < std::size(expected); ++i) {
        const ComponentItem& item = doc.items[i];
        SCOPED_TRACE("item " + item.type);
        EXPECT_EQ(item.type, expected[i].type);
        EXPECT_EQ(item.className, expected[i].className);
        // Shown to the user: Chinese text, so not plain ASCII.
        for (const std::string* text : {&item.name, &item.tips}) {
            EXPECT_NE(std::find_if(text->begin(), text->end(),
                                   [](char c) { return static_cast<unsigned char>(c) >= 0x80; }),
                      text->end())
                << *text;
        }

        // A missing driver file is a failed rule ("not installed"), not an
        // outdated file entry ("update available").
        ASSERT_EQ(item.detects.size(), expected[i].clsidRules + expected[i].fileRules.size());
        for (size_t r = 0; r < item.detects.size(); ++r) {
            const DetectRule& rule = item.detects[r];
            if (r < expected[i].clsidRules) {
                EXPECT_EQ(rule.type, "clsid");
                EXPECT_EQ(rule.text.size(), 38u) << rule.text;
            } else {
                EXPECT_EQ(rule.type, "file");
                // Kept unexpanded: detection expands it on every run.
                EXPECT_EQ(rule.text, "%windir%\\system32\\" + expected[i].fileRules[r - expected[i].clsidRules]);
            }
        }
        EXPECT_TRUE(item.files.empty());

        ASSERT_EQ(item.installers.size(), 1u);
        const InstallerRef& installer = item.installers[0];
        ASSERT_EQ(installer.url.rfind(kDownloadFolder, 0), 0u) << installer.url;
        const std::string file = installer.url.substr(kDownloadFolder.size());
        EXPECT_EQ(file.find('/'), std::string::npos);
        EXPECT_EQ(installer.local, kDownTmp + "\\" + file);
        EXPECT_EQ(installer.command, kSilent);
    }
    // The pre-approved controls of the registry group are the bank's own.
    EXPECT_EQ(doc.items[0].detects.at(0).text, kSafeClsid);
    EXPECT_EQ(doc.items[1].detects.at(0).text, kSignClsid);
}

TEST_F(DefaultDocumentTest, NamesTheUpdateExecutable) {
    EXPECT_EQ(doc.app.version, "1.0.0.2");
    ASSERT_EQ(doc.app.remote.rfind(kDownloadFolder, 0), 0u) << doc.app.remote;
    const std::string file = doc.app.remote.substr(kDownloadFolder.size());
    EXPECT_EQ(file.size() > 4 ? file.substr(file.size() - 4) : "", ".exe");
    EXPECT_EQ(doc.app.local, kDownTmp + "\\" + file);
}

TEST_F(DefaultDocumentTest, EveryHostIsADeploymentName) {
    const std::set<std::string> deployment = {WAYFARER_WEB_HOST, WAYFARER_EBANK_HOST,
                                              HostOf(WAYFARER_DOWNLOAD_BASE)};
    // Every address written anywhere in the file, not only those the model keeps.
    size_t urls = 0;
    for (size_t at = raw.find("://"); at != std::string::npos; at = raw.find("://", at + 3)) {
        const size_t start = raw.find_last_of(" \t\r\n>\"'", at) + 1;
        const std::string url = raw.substr(start, raw.find_first_of("<\"' \r\n", at) - start);
        EXPECT_EQ(url.rfind("https://", 0), 0u) << url;
        EXPECT_EQ(deployment.count(HostOf(url)), 1u) << url;
        ++urls;
    }
    EXPECT_GE(urls, 7u);
    for (const char* type : {"host", "dns"}) {
        for (const auto& e : Group(type).entries) {
            EXPECT_EQ(deployment.count(e.text), 1u) << e.text;
        }
    }
}

}  // namespace
}  // namespace wayfarer
