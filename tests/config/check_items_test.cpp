#include "config/check_items.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/path.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

using test::FakeEnvironment;

const std::string kDownTmp = "C:\\Users\\u\\AppData\\Local\\Temp\\DownTmp";

std::vector<std::string> Texts(const std::vector<ConfigEntry>& entries) {
    std::vector<std::string> texts;
    for (const auto& entry : entries) {
        texts.push_back(entry.text);
    }
    return texts;
}

std::vector<std::string> GroupTypes(const CheckItems& doc) {
    std::vector<std::string> types;
    for (const auto& group : doc.groups) {
        types.push_back(group.type);
    }
    return types;
}

std::vector<std::string> Names(const std::vector<ComponentItem>& list) {
    std::vector<std::string> names;
    for (const auto& item : list) {
        names.push_back(item.name);
    }
    return names;
}

// Every field of the record, for before/after comparisons.
std::string Describe(const CheckItems& doc) {
    std::ostringstream out;
    out << "loaded=" << doc.configLoaded << " state=" << doc.serviceDone << doc.homePageOk
        << doc.registryOk << doc.hostsOk << doc.connected << doc.dnsOk << doc.serviceOk
        << doc.securityLevelOk << doc.trustedSitesOk << doc.certificatesOk << " dnsMatch="
        << doc.dnsMatchName << "\nbase=" << doc.base << "\n";
    for (const auto& group : doc.groups) {
        out << "group " << group.type << "\n";
        for (const auto& e : group.entries) {
            out << "  entry " << e.text << "|" << e.name << "|" << e.type << "|" << e.value << "|"
                << e.mask << "\n";
        }
    }
    auto items = [&out](const char* label, const std::vector<ComponentItem>& list) {
        for (const auto& item : list) {
            out << label << " " << item.name << "|" << item.type << "|" << item.tips << "|"
                << item.image << "|" << item.className << "|" << item.selectedId << "|"
                << item.state << "\n";
            for (const auto& d : item.detects) {
                out << "  detect " << d.type << "|" << d.text << "\n";
            }
            for (const auto& f : item.files) {
                out << "  file " << f.text << "|" << f.local << "|" << f.remote << "|" << f.version
                    << "|" << f.md5 << "|" << f.install << "\n";
            }
            for (const auto& i : item.installers) {
                out << "  installer " << i.url << "|" << i.command << "|" << i.local << "|"
                    << i.md5 << "\n";
            }
        }
    };
    items("item", doc.items);
    items("component", doc.components);
    out << "app " << doc.app.version << "|" << doc.app.remote << "|" << doc.app.local << "|"
        << doc.app.md5 << "\n";
    return out.str();
}

class CheckItemsTest : public ::testing::Test {
protected:
    FakeEnvironment env;
    CheckItems doc{env};
};

TEST_F(CheckItemsTest, ConfigElementsOfOneTypeMergeWhereTheFirstStood) {
    ASSERT_TRUE(doc.LoadFromText(R"(<checkitems>
        <config type="host"><entry>a.example</entry></config>
        <item name="x"/>
        <config type="registry"><entry>HKCU\k</entry></config>
        <config type="host"><entry>b.example</entry><entry>c.example</entry></config>
        <config><entry>untyped</entry></config>
        <config type="trust"/>
      </checkitems>)"));

    EXPECT_EQ(GroupTypes(doc), (std::vector<std::string>{"host", "registry", "", "trust"}));
    EXPECT_EQ(Texts(doc.groups[0].entries),
              (std::vector<std::string>{"a.example", "b.example", "c.example"}));
    EXPECT_TRUE(doc.groups[3].entries.empty());

    // A second document, loaded without clearing, adds to the groups it finds.
    ASSERT_TRUE(doc.LoadFromText(R"(<checkitems>
        <config type="dns"><entry>d.example</entry></config>
        <config type="host"><entry>e.example</entry></config>
      </checkitems>)"));
    EXPECT_EQ(GroupTypes(doc), (std::vector<std::string>{"host", "registry", "", "trust", "dns"}));
    EXPECT_EQ(Texts(doc.groups[0].entries),
              (std::vector<std::string>{"a.example", "b.example", "c.example", "e.example"}));
}

TEST_F(CheckItemsTest, FindGroupComparesTheWholeTypeCaseSensitively) {
    ASSERT_TRUE(doc.LoadFromText(R"(<checkitems>
        <config type="registry"><entry>r</entry></config>
        <config type="dns "><entry>d</entry></config>
        <config><entry>u</entry></config>
      </checkitems>)"));

    const struct {
        const char* query;
        const char* found;  // entry text of the group found; null for none
    } cases[] = {
        {"registry", "r"}, {"Registry", nullptr}, {"registr", nullptr}, {"registry2", nullptr},
        {"dns", nullptr},  {"dns ", "d"},         {"", "u"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("query '") + c.query + "'");
        const ConfigGroup* group = doc.FindGroup(c.query);
        if (c.found == nullptr) {
            EXPECT_EQ(group, nullptr);
        } else {
            ASSERT_NE(group, nullptr);
            EXPECT_EQ(group->type, c.query);
            EXPECT_EQ(Texts(group->entries), std::vector<std::string>{c.found});
        }
    }
}

TEST_F(CheckItemsTest, EntryAttributesAreReadAccordingToTheGroupType) {
    const struct {
        const char* groupType;
        ConfigEntry expected;
    } cases[] = {
        {"registry", {" h ", "N", "T", "V", "M"}},
        {"dns", {" h ", "N", "", "I", ""}},
        {"host", {" h ", "", "", "", ""}},
        {"service", {" h ", "", "", "", ""}},
        {"Registry", {" h ", "", "", "", ""}},
        {"dns ", {" h ", "", "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("group '") + c.groupType + "'");
        FakeEnvironment fresh;
        CheckItems d(fresh);
        ASSERT_TRUE(d.LoadFromText(std::string("<checkitems><config type=\"") + c.groupType +
                                   "\"><entry name=\"N\" type=\"T\" value=\"V\" mask=\"M\" "
                                   "ip=\"I\"> h </entry></config></checkitems>"));
        ASSERT_EQ(d.groups.size(), 1u);
        ASSERT_EQ(d.groups[0].entries.size(), 1u);
        const ConfigEntry& e = d.groups[0].entries[0];
        EXPECT_EQ(e.text, c.expected.text);
        EXPECT_EQ(e.name, c.expected.name);
        EXPECT_EQ(e.type, c.expected.type);
        EXPECT_EQ(e.value, c.expected.value);
        EXPECT_EQ(e.mask, c.expected.mask);
    }
}

TEST_F(CheckItemsTest, FileAndInstallerAddressesAreResolvedAgainstBase) {
    const struct {
        const char* base;    // null: no base attribute
        const char* remote;  // null: no remote attribute / empty installer
        std::string url;
        std::string local;
    } cases[] = {
        {"https://d.example/dl/", "f.exe", "https://d.example/dl/f.exe", kDownTmp + "\\f.exe"},
        {"https://d.example/dl/", nullptr, "https://d.example/dl/", kDownTmp},
        {"https://d.example/dl/", "", "https://d.example/dl/", kDownTmp},
        // Plain concatenation: no separator is added.
        {"https://d.example/dl", "f.exe", "https://d.example/dlf.exe", kDownTmp + "\\dlf.exe"},
        {"https://d.example/dl/", "http://o.example/g.exe", "http://o.example/g.exe",
         kDownTmp + "\\g.exe"},
        {"https://d.example/dl/", "sub/a://b.exe", "sub/a://b.exe", kDownTmp + "\\b.exe"},
        {nullptr, "f.exe", "f.exe", kDownTmp + "\\f.exe"},
        {nullptr, nullptr, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("base '") + (c.base ? c.base : "(none)") + "' remote '" +
                     (c.remote ? c.remote : "(none)") + "'");
        FakeEnvironment fresh;
        CheckItems d(fresh);
        std::string text = "<checkitems";
        if (c.base != nullptr) {
            text += std::string(" base=\"") + c.base + "\"";
        }
        text += "><item name=\"x\">";
        if (c.remote != nullptr) {
            text += std::string("<file remote=\"") + c.remote + "\"/>";
            text += std::string("<installer>") + c.remote + "</installer>";
        } else {
            text += "<file/><installer/>";
        }
        text += "</item></checkitems>";
        ASSERT_TRUE(d.LoadFromText(text));
        ASSERT_EQ(d.items.size(), 1u);
        const ComponentItem& item = d.items[0];
        ASSERT_EQ(item.files.size(), 1u);
        ASSERT_EQ(item.installers.size(), 1u);
        EXPECT_EQ(item.files[0].remote, c.url);
        EXPECT_EQ(item.files[0].local, c.local);
        EXPECT_EQ(item.installers[0].url, c.url);
        EXPECT_EQ(item.installers[0].local, c.local);
    }
}

TEST_F(CheckItemsTest, AppInfoIsTakenVerbatimAndKeptWhenTheNextDocumentHasNone) {
    ASSERT_TRUE(doc.LoadFromText(R"(<checkitems base="https://d.example/dl/">
        <appinfo version="1.0.0.1" remote="old.exe" md5="00ff"/>
        <appinfo version="1.0.0.2" remote="wayfarer.exe"/>
      </checkitems>)"));
    // The last appinfo wins whole: its absent md5 does not inherit the first one's.
    EXPECT_EQ(doc.app.version, "1.0.0.2");
    EXPECT_EQ(doc.app.remote, "wayfarer.exe");
    EXPECT_EQ(doc.app.local, kDownTmp + "\\wayfarer.exe");
    EXPECT_EQ(doc.app.md5, "");
    EXPECT_EQ(doc.base, "https://d.example/dl/");

    ASSERT_TRUE(doc.LoadFromText("<checkitems><item name=\"x\"/></checkitems>"));
    EXPECT_EQ(doc.app.version, "1.0.0.2");
    EXPECT_EQ(doc.app.remote, "wayfarer.exe");
    EXPECT_EQ(doc.base, "");
}

TEST_F(CheckItemsTest, InstallerConditionsSelectByOperatingSystem) {
    const std::string text = R"(<checkitems><item name="x">
        <installer>any</installer>
        <installer condition="NT6">nt6</installer>
        <installer condition="NT5">nt5</installer>
        <installer condition="nt6">lower</installer>
        <installer condition="NT6 ">spaced</installer>
        <installer condition="NT7">nt7</installer>
        <installer condition="NT">nt</installer>
      </item></checkitems>)";
    const struct {
        uint32_t major;
        std::vector<std::string> urls;
    } cases[] = {
        {5, {"any", "nt5"}},
        {6, {"any", "nt6"}},
        {10, {"any", "nt6"}},
        {0, {"any", "nt5"}},  // version unknown
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("major version " + std::to_string(c.major));
        FakeEnvironment fresh;
        fresh.osMajorVersion = c.major;
        CheckItems d(fresh);
        ASSERT_TRUE(d.LoadFromText(text));
        ASSERT_EQ(d.items.size(), 1u);
        std::vector<std::string> urls;
        for (const auto& installer : d.items[0].installers) {
            urls.push_back(installer.url);
        }
        EXPECT_EQ(urls, c.urls);
    }
}

TEST_F(CheckItemsTest, SelectedIdReadsLeadingDecimalAndSaturates) {
    const struct {
        const char* attribute;  // null: absent
        int32_t expected;
    } cases[] = {
        {"12abc", 12},
        {nullptr, 0},
        {"", 0},
        {"abc", 0},
        {" \t\n-7", -7},
        {"+3", 3},
        {"- 5", 0},
        {"0x10", 0},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-99999999999999999999", INT32_MIN},
    };
    std::string text = "<checkitems>";
    for (const auto& c : cases) {
        text += c.attribute ? std::string("<item selectedid=\"") + c.attribute + "\"/>"
                            : std::string("<item/>");
    }
    text += "</checkitems>";
    ASSERT_TRUE(doc.LoadFromText(text));
    ASSERT_EQ(doc.items.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(doc.items[i].selectedId, cases[i].expected)
            << "selectedid '" << (cases[i].attribute ? cases[i].attribute : "(absent)") << "'";
    }
}

TEST_F(CheckItemsTest, RejectedDocumentLeavesTheRecordUntouched) {
    ASSERT_TRUE(doc.LoadFromText(R"(<checkitems base="https://d.example/">
        <config type="host"><entry>h.example</entry></config>
        <item name="i" type="driver"><file remote="f.dll"/><installer>s.exe</installer></item>
        <component name="c"/>
        <appinfo version="1.0.0.2" remote="u.exe"/>
      </checkitems>)"));
    doc.configLoaded = false;  // as the dialog does before a refetch
    doc.registryOk = true;
    doc.items[0].state = component_state::kMissing;
    const std::string before = Describe(doc);
    const size_t ensured = env.ensuredFolders.size();
    const int expanded = env.expandCalls;

    // Each of these carries content that a parse would add, had it begun.
    const char* const documents[] = {
        "",
        "   ",
        "<?xml version=\"1.0\"?>",
        "<config type=\"host\"><entry>x.example</entry></config>",
        "<CheckItems base=\"x\"><config type=\"host\"><entry>x</entry></config></CheckItems>",
        "<checkitems2 base=\"x\"><item name=\"n\"/></checkitems2>",
        "<checkitems base=\"x\"><item name=\"n\"/></checkitems><checkitems/>",
        "<checkitems base=\"x\"><config type=\"host\"><entry>x</entry></checkitems>",
        "<checkitems base=\"x\"><item name=\"n\"/></file></checkitems>",
        "<checkitems base=\"x\"><item name=\"n\"/><!- x --></checkitems>",
        "<checkitems base=\"x\"><item name=\"n\"/><appinfo version=\"9\" remote=\"u\"/>",
        "<checkitems base=\"x\"><item name=\"n\"><installer>s.exe</installer></item><",
    };
    for (const char* text : documents) {
        SCOPED_TRACE(std::string("document: ") + text);
        EXPECT_FALSE(doc.LoadFromText(text));
        EXPECT_EQ(Describe(doc), before);
    }
    EXPECT_EQ(env.ensuredFolders.size(), ensured);
    EXPECT_EQ(env.expandCalls, expanded);
}

TEST_F(CheckItemsTest, LoadSetsLoadedFlagAndLeavesCheckResults) {
    doc.registryOk = true;
    doc.certificatesOk = true;
    doc.dnsMatchName = "label";
    ASSERT_TRUE(doc.LoadFromText("\xEF\xBB\xBF<checkitems><item name=\"x\"/></checkitems>"));
    EXPECT_TRUE(doc.configLoaded);
    EXPECT_TRUE(doc.registryOk);
    EXPECT_TRUE(doc.certificatesOk);
    EXPECT_FALSE(doc.hostsOk);
    EXPECT_EQ(doc.dnsMatchName, "label");
    ASSERT_EQ(doc.items.size(), 1u);
    EXPECT_EQ(doc.items[0].state, component_state::kNotDetected);
}

TEST_F(CheckItemsTest, OnlyDirectChildrenCountAndEachKindKeepsItsOwnOrder) {
    ASSERT_TRUE(doc.LoadFromText(R"(<checkitems base="https://d.example/dl/">
        <appinfo version="1"/>
        <component name="c1"/>
        <item name="i1" selectedid="4" type="UkeyActiveX" tips="t" image="k.png" class="CFeitianUSBKey">
          <detect type="clsid">{A}</detect>
          <file local="%windir%\system32\k.dll" remote="k.dll" version="1.2.3.4" md5="abc"
                install="regserver">payload</file>
          <file remote="b.dll"><detect type="file">nested</detect></file>
          <extra><detect type="reg">deep</detect><installer>deep.exe</installer></extra>
          <detect type="usbkey">0x096E0702</detect>
        </item>
        <config type="host"><entry>h1</entry><item name="inside-config"/></config>
        <item name="i2"/>
        <component name="c2"/>
        <appinfo version="2"/>
        <other><item name="deep"/><config type="trust"/></other>
      </checkitems>)"));

    EXPECT_EQ(Names(doc.items), (std::vector<std::string>{"i1", "i2"}));
    EXPECT_EQ(Names(doc.components), (std::vector<std::string>{"c1", "c2"}));
    EXPECT_EQ(GroupTypes(doc), std::vector<std::string>{"host"});
    EXPECT_EQ(Texts(doc.groups[0].entries), std::vector<std::string>{"h1"});
    EXPECT_EQ(doc.app.version, "2");

    const ComponentItem& item = doc.items[0];
    EXPECT_EQ(item.selectedId, 4);
    EXPECT_EQ(item.type, "UkeyActiveX");
    EXPECT_EQ(item.tips, "t");
    EXPECT_EQ(item.image, "k.png");
    EXPECT_EQ(item.className, "CFeitianUSBKey");
    ASSERT_EQ(item.detects.size(), 2u);
    EXPECT_EQ(item.detects[0].type, "clsid");
    EXPECT_EQ(item.detects[0].text, "{A}");
    EXPECT_EQ(item.detects[1].type, "usbkey");
    EXPECT_EQ(item.detects[1].text, "0x096E0702");
    EXPECT_TRUE(item.installers.empty());

    ASSERT_EQ(item.files.size(), 2u);
    const FileRef& k = item.files[0];
    EXPECT_EQ(k.local, "C:\\Windows\\system32\\k.dll");
    EXPECT_EQ(k.remote, "https://d.example/dl/k.dll");
    EXPECT_EQ(k.version, "1.2.3.4");
    EXPECT_EQ(k.md5, "abc");
    EXPECT_EQ(k.install, "regserver");
    EXPECT_EQ(k.text, "payload");
    // Without local, the file is looked for where its download would land.
    EXPECT_EQ(item.files[1].local, kDownTmp + "\\b.dll");
    EXPECT_EQ(item.files[1].text, "");
}

TEST_F(CheckItemsTest, DownloadPathStaysInsideDownTmp) {
    const struct {
        const char* temp;
        const char* url;
        const char* expected;
    } cases[] = {
        {"C:\\T\\", "https://h/a/setup.exe", "C:\\T\\DownTmp\\setup.exe"},
        {"C:\\T", "https://h/a/setup.exe", "C:\\T\\DownTmp\\setup.exe"},
        {"C:\\T\\\\", "https://h/a/setup.exe", "C:\\T\\DownTmp\\setup.exe"},
        {"C:\\T\\", "setup.exe", "C:\\T\\DownTmp\\setup.exe"},
        {"C:\\T\\", "https://h/dir/", "C:\\T\\DownTmp"},
        {"C:\\T\\", "https://h/a/..\\..\\evil.exe", "C:\\T\\DownTmp\\evil.exe"},
        {"C:\\T\\", "https://h/\\\\srv\\share\\x.exe", "C:\\T\\DownTmp\\x.exe"},
        {"C:\\T\\", "https://h/a/..", "C:\\T\\DownTmp"},
        {"C:\\T\\", "https://h/a/. .", "C:\\T\\DownTmp"},
        {"C:\\T\\", "https://h/C:evil.exe", ""},
        {"C:\\T\\", "https://h/x.exe:stream", ""},
        {"", "https://h/a/setup.exe", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("temp '") + c.temp + "' url '" + c.url + "'");
        FakeEnvironment fresh;
        fresh.tempDirectory = c.temp;
        CheckItems d(fresh);
        EXPECT_EQ(d.TempDownloadPath(c.url), c.expected);
        if (*c.expected != '\0') {
            EXPECT_EQ(fresh.ensuredFolders, std::vector<std::string>{"C:\\T\\DownTmp"});
        }
    }

    EXPECT_EQ(doc.TempDownloadPath(""), "");
    EXPECT_TRUE(env.ensuredFolders.empty());
}

TEST_F(CheckItemsTest, PathsLongerThanTheLimitBecomeEmpty) {
    // Room left for the file name after "<DownTmp>\".
    const size_t room = path::kMaxUnits - kDownTmp.size() - 1;
    const std::string url = "https://h/";
    std::string chinese;  // three UTF-8 bytes, one UTF-16 unit each
    for (size_t i = 0; i < room; ++i) {
        chinese += "\xE6\x8E\xA7";
    }
    const struct {
        std::string name;
        bool fits;
    } cases[] = {
        {std::string(room, 'a'), true},
        {std::string(room + 1, 'a'), false},
        {chinese, true},
        {chinese + "\xE6\x8E\xA7", false},
        // A character outside the BMP takes two UTF-16 units.
        {std::string(room - 2, 'a') + "\xF0\x9F\x98\x80", true},
        {std::string(room - 1, 'a') + "\xF0\x9F\x98\x80", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("name of " + std::to_string(c.name.size()) + " bytes");
        EXPECT_EQ(doc.TempDownloadPath(url + c.name), c.fits ? kDownTmp + "\\" + c.name : "");
    }

    env.variables["LONG"] = "C:\\" + std::string(247, 'x');  // 250 characters
    EXPECT_EQ(doc.ExpandLocalPath("%LONG%\\abcdefgh"), env.variables["LONG"] + "\\abcdefgh");
    EXPECT_EQ(doc.ExpandLocalPath("%LONG%\\abcdefghi"), "");

    // A local path that cannot be had falls back to the download location.
    ASSERT_TRUE(doc.LoadFromText(
        R"(<checkitems><item><file local="%LONG%\abcdefghi" remote="https://h/f.dll"/></item></checkitems>)"));
    EXPECT_EQ(doc.items[0].files[0].local, kDownTmp + "\\f.dll");

    // A temporary directory with no room for DownTmp yields nothing, and
    // nothing is created.
    FakeEnvironment deep;
    deep.tempDirectory = "C:\\" + std::string(path::kMaxUnits - 8 - 3 + 1, 'd') + "\\";
    CheckItems d(deep);
    EXPECT_EQ(d.TempDownloadPath("https://h/f.exe"), "");
    EXPECT_TRUE(deep.ensuredFolders.empty());
}

}  // namespace
}  // namespace wayfarer
