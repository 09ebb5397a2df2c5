#include "config/check_items.h"

#include <cstdint>
#include <utility>

#include "common/number.h"
#include "common/path.h"
#include "config/xml_document.h"

namespace wayfarer {

namespace {

// selectedid as atoi reads it, saturating at the int32 limits instead of
// overflowing.
int32_t ParseDecimal(std::string_view text) {
    return static_cast<int32_t>(number::ParseLeading(text, INT32_MAX, uint64_t{1} << 31));
}

ConfigGroup* FindGroupIn(std::vector<ConfigGroup>& groups, std::string_view type) {
    for (auto& group : groups) {
        if (group.type == type) {
            return &group;
        }
    }
    return nullptr;
}

}  // namespace

bool CheckItems::LoadFromText(std::string_view text) {
    // The reader addresses the text with 32-bit offsets.
    if (text.size() >= static_cast<size_t>(INT32_MAX)) {
        return false;
    }
    XmlDocument reader;
    if (!reader.SetText(text) || !reader.FindElement("checkitems")) {
        return false;
    }

    // Everything is built aside and swapped in at the end, so that the record
    // is either fully updated or left as it was. The copies start from the
    // current lists because a document appends to them.
    std::string newBase = reader.GetAttribute("base");
    std::vector<ConfigGroup> newGroups = groups;
    std::vector<ComponentItem> newItems = items;
    std::vector<ComponentItem> newComponents = components;
    AppInfo newApp;
    bool hasApp = false;

    if (!reader.IntoElement()) {
        return false;
    }

    while (reader.FindElement("config")) {
        const std::string type = reader.GetAttribute("type");
        const bool isDns = type == "dns";
        const bool isRegistry = type == "registry";
        std::vector<ConfigEntry> entries;
        if (reader.IntoElement()) {
            while (reader.FindElement("entry")) {
                ConfigEntry entry;
                entry.text = reader.GetData();
                if (isDns) {
                    entry.name = reader.GetAttribute("name");
                    entry.value = reader.GetAttribute("ip");
                } else if (isRegistry) {
                    entry.name = reader.GetAttribute("name");
                    entry.type = reader.GetAttribute("type");
                    entry.value = reader.GetAttribute("value");
                    entry.mask = reader.GetAttribute("mask");
                }
                entries.push_back(std::move(entry));
            }
            reader.OutOfElement();
        }
        // One group per type, standing where its first config element stood.
        if (ConfigGroup* group = FindGroupIn(newGroups, type)) {
            for (auto& entry : entries) {
                group->entries.push_back(std::move(entry));
            }
        } else {
            newGroups.push_back(ConfigGroup{type, std::move(entries)});
        }
    }

    reader.ResetPosition();
    while (reader.FindElement("item")) {
        ComponentItem item;
        ParseComponent(reader, item, newBase);
        newItems.push_back(std::move(item));
    }

    reader.ResetPosition();
    while (reader.FindElement("component")) {
        ComponentItem item;
        ParseComponent(reader, item, newBase);
        newComponents.push_back(std::move(item));
    }

    reader.ResetPosition();
    while (reader.FindElement("appinfo")) {
        newApp.version = reader.GetAttribute("version");
        // The update's address is used as written, never against base.
        newApp.remote = reader.GetAttribute("remote");
        newApp.md5 = reader.GetAttribute("md5");
        newApp.local = TempDownloadPath(newApp.remote);
        hasApp = true;
    }

    base.swap(newBase);
    groups.swap(newGroups);
    items.swap(newItems);
    components.swap(newComponents);
    if (hasApp) {
        app = std::move(newApp);
    }
    configLoaded = true;
    return true;
}

void CheckItems::ParseComponentItem(XmlDocument& reader, ComponentItem& item) const {
    ParseComponent(reader, item, base);
}

void CheckItems::ParseComponent(XmlDocument& reader, ComponentItem& item,
                                const std::string& docBase) const {
    item.selectedId = ParseDecimal(reader.GetAttribute("selectedid"));
    item.name = reader.GetAttribute("name");
    item.type = reader.GetAttribute("type");
    item.tips = reader.GetAttribute("tips");
    item.image = reader.GetAttribute("image");
    item.className = reader.GetAttribute("class");

    if (!reader.IntoElement()) {
        return;
    }

    while (reader.FindElement("detect")) {
        item.detects.push_back(DetectRule{reader.GetData(), reader.GetAttribute("type")});
    }

    reader.ResetPosition();
    while (reader.FindElement("file")) {
        FileRef file;
        file.local = ExpandLocalPath(reader.GetAttribute("local"));
        file.install = reader.GetAttribute("install");
        file.remote = ResolveAgainst(docBase, reader.GetAttribute("remote"));
        file.version = reader.GetAttribute("version");
        file.md5 = reader.GetAttribute("md5");
        file.text = reader.GetData();
        if (file.local.empty()) {
            file.local = TempDownloadPath(file.remote);
        }
        item.files.push_back(std::move(file));
    }

    reader.ResetPosition();
    while (reader.FindElement("installer")) {
        if (!ConditionHolds(reader.GetAttribute("condition"))) {
            continue;
        }
        InstallerRef installer;
        installer.url = ResolveAgainst(docBase, reader.GetData());
        installer.command = reader.GetAttribute("command");
        installer.md5 = reader.GetAttribute("md5");
        installer.local = TempDownloadPath(installer.url);
        item.installers.push_back(std::move(installer));
    }

    reader.OutOfElement();
}

const ConfigGroup* CheckItems::FindGroup(std::string_view type) const {
    for (const auto& group : groups) {
        if (group.type == type) {
            return &group;
        }
    }
    return nullptr;
}

std::string CheckItems::ResolveUrl(const std::string& text) const {
    return ResolveAgainst(base, text);
}

std::string CheckItems::ResolveAgainst(const std::string& docBase, const std::string& text) {
    // Plain concatenation: the document's base carries its own separator.
    if (text.find("://") != std::string::npos) {
        return text;
    }
    return docBase + text;
}

std::string CheckItems::ExpandLocalPath(const std::string& text) const {
    if (text.empty()) {
        return {};
    }
    std::string expanded = env_->ExpandEnvironment(text);
    if (!path::Fits(expanded)) {
        return {};
    }
    return expanded;
}

std::string CheckItems::TempDownloadPath(const std::string& url) const {
    if (url.empty()) {
        return {};
    }
    const std::string temp = env_->TempDirectory();
    if (temp.empty()) {
        return {};
    }

    // The file name is what follows the last separator. A backslash counts as
    // one too: otherwise a name such as "..\x.exe", "\\host\share\x" or
    // "C:\x" would place the download outside DownTmp.
    const size_t slash = url.find_last_of("/\\");
    std::string_view name(url);
    if (slash != std::string::npos) {
        name.remove_prefix(slash + 1);
    }
    // A colon would make the name drive-relative or an alternate data stream.
    if (name.find(':') != std::string_view::npos) {
        return {};
    }
    // Windows drops trailing dots and spaces from a name, so a name of only
    // those (".", "..") means the folder itself, like an empty one.
    if (name.find_first_not_of(". ") == std::string_view::npos) {
        name = {};
    }

    const std::string folder = path::Join(temp, "DownTmp");
    if (!path::Fits(folder)) {
        return {};
    }
    env_->EnsureDirectory(folder);
    if (name.empty()) {
        return folder;
    }
    std::string path = path::Join(folder, name);
    if (!path::Fits(path)) {
        return {};
    }
    return path;
}

bool CheckItems::ConditionHolds(std::string_view condition) const {
    if (condition.empty()) {
        return true;
    }
    if (condition == "NT6") {
        return IsNt6OrLater();
    }
    if (condition == "NT5") {
        return !IsNt6OrLater();
    }
    return false;
}

bool CheckItems::IsNt6OrLater() const { return env_->OsMajorVersion() >= 6; }

}  // namespace wayfarer
