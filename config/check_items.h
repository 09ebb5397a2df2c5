// The bank's configuration document in memory, and the parser that fills it.
// Portable: everything the parser needs of the operating system comes through
// DocumentEnvironment. All text is UTF-8, as the document holds it after
// entity decoding; nothing is trimmed, case-folded or validated here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wayfarer {

class XmlDocument;

struct ConfigEntry {
    std::string text;
    std::string name;   // "registry" and "dns" groups
    std::string type;   // "registry"
    std::string value;  // "registry": value; "dns": ip
    std::string mask;   // "registry"
};

struct ConfigGroup {
    std::string type;
    std::vector<ConfigEntry> entries;
};

struct DetectRule {
    std::string text;
    std::string type;
};

struct InstallerRef {
    std::string url;
    std::string command;
    std::string local;
    std::string md5;
};

struct FileRef {
    std::string text;
    std::string local;
    std::string remote;
    std::string version;
    std::string md5;
    std::string install;
};

// The state word of a component: detection code in bits 0-29 plus two flags.
namespace component_state {
constexpr uint32_t kCurrent = 0;
constexpr uint32_t kOutdated = 1;
constexpr uint32_t kUpgradable = 2;
constexpr uint32_t kMissing = 4;
constexpr uint32_t kInstallable = 5;
constexpr uint32_t kNotDetected = 7;
constexpr uint32_t kCodeMask = 0x3FFFFFFF;
constexpr uint32_t kDisabled = 0x40000000;
constexpr uint32_t kKeyAbsent = 0x80000000;
}  // namespace component_state

struct ComponentItem {
    std::string name;
    std::string type;
    std::string tips;
    std::string image;
    std::string className;
    std::vector<DetectRule> detects;
    std::vector<InstallerRef> installers;
    std::vector<FileRef> files;
    int32_t selectedId = 0;
    uint32_t state = component_state::kNotDetected;
};

struct AppInfo {
    std::string version;
    std::string remote;
    std::string local;
    std::string md5;
};

// Per-check results; each check writes its own field.
struct CheckState {
    bool serviceDone = false;
    bool homePageOk = false;
    bool registryOk = false;
    bool hostsOk = false;
    bool connected = false;
    bool dnsOk = false;
    bool serviceOk = false;
    bool securityLevelOk = false;
    bool trustedSitesOk = false;
    bool certificatesOk = false;
    std::string dnsMatchName;
};

// What the parser needs of the operating system. The Windows implementation
// makes the ANSI calls the document's paths were written for; tests use a fake.
class DocumentEnvironment {
public:
    virtual ~DocumentEnvironment() = default;
    // The user's temporary directory (UTF-8, usually with a trailing
    // backslash); empty when it cannot be had.
    virtual std::string TempDirectory() = 0;
    // True when the folder exists or was created (one level).
    virtual bool EnsureDirectory(const std::string& path) = 0;
    // %NAME% references expanded; empty when expansion fails or the result
    // would not fit a path buffer.
    virtual std::string ExpandEnvironment(const std::string& text) = 0;
    // The operating system's major version; 0 when it cannot be had.
    virtual uint32_t OsMajorVersion() = 0;
};

class CheckItems : public CheckState {
public:
    explicit CheckItems(DocumentEnvironment& env) : env_(&env) {}

    bool configLoaded = false;
    std::string base;
    std::vector<ConfigGroup> groups;
    std::vector<ComponentItem> items;
    std::vector<ComponentItem> components;
    AppInfo app;

    // Appends the document's groups, items and components and takes its base
    // (and appinfo, when present). False, with nothing changed, when the text
    // is not well-formed or its root is not "checkitems".
    bool LoadFromText(std::string_view text);

    // The group of exactly this type; null when there is none.
    const ConfigGroup* FindGroup(std::string_view type) const;

    // `text` when it holds "://", else base followed by it.
    std::string ResolveUrl(const std::string& text) const;
    // %NAME% references expanded; empty when the result is too long.
    std::string ExpandLocalPath(const std::string& text) const;
    // Where the download of `url` goes: the DownTmp folder of the temporary
    // directory (created when missing) joined with the URL's last segment;
    // the folder itself when that segment is empty. A backslash ends a
    // segment too, so a download never lands outside DownTmp. Empty for an
    // empty URL, a name with a colon, or a path over path::kMaxUnits.
    std::string TempDownloadPath(const std::string& url) const;
    // True for "", for "NT6" on NT 6 or later and for "NT5" before it.
    bool ConditionHolds(std::string_view condition) const;
    bool IsNt6OrLater() const;

    DocumentEnvironment& Environment() const { return *env_; }

    // Fills `item` from the reader's current element (an item or component).
    void ParseComponentItem(XmlDocument& reader, ComponentItem& item) const;

private:
    // The parse reads the new document's base before it is taken over, so
    // that a failed load leaves `base` as it was.
    static std::string ResolveAgainst(const std::string& docBase, const std::string& text);
    void ParseComponent(XmlDocument& reader, ComponentItem& item, const std::string& docBase) const;

    DocumentEnvironment* env_;
};

}  // namespace wayfarer
