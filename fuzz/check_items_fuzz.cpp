// libFuzzer target for CheckItems::LoadFromText. Beyond the sanitizers it
// checks that a rejected document changes nothing, and that every download
// path the parser makes stays inside DownTmp.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "config/check_items.h"
#include "tests/config/fake_environment.h"

namespace {

const std::string kDownTmp = "C:\\Users\\u\\AppData\\Local\\Temp\\DownTmp";

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void RequireInsideDownTmp(const std::string& path) {
    if (path.empty() || path == kDownTmp) {
        return;
    }
    Require(path.compare(0, kDownTmp.size() + 1, kDownTmp + "\\") == 0);
    const std::string name = path.substr(kDownTmp.size() + 1);
    Require(!name.empty());
    Require(name.find_first_of("\\/:") == std::string::npos);
    Require(name.find_first_not_of(". ") != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    wayfarer::test::FakeEnvironment env;
    env.osMajorVersion = size % 2 == 0 ? 10 : 5;
    wayfarer::CheckItems doc(env);
    doc.base = "previous";
    doc.groups.push_back({"host", {{"h.example", "", "", "", ""}}});
    doc.items.emplace_back();
    doc.app.version = "1.0.0.1";

    if (!doc.LoadFromText(text)) {
        Require(!doc.configLoaded);
        Require(doc.base == "previous");
        Require(doc.groups.size() == 1 && doc.groups[0].entries.size() == 1);
        Require(doc.items.size() == 1 && doc.components.empty());
        Require(doc.app.version == "1.0.0.1");
        Require(env.ensuredFolders.empty() && env.expandCalls == 0);
        return 0;
    }

    Require(doc.configLoaded);
    Require(doc.groups.at(0).type == "host" && !doc.groups[0].entries.empty());
    std::set<std::string> types;
    for (const auto& group : doc.groups) {
        Require(types.insert(group.type).second);
    }
    for (const auto* list : {&doc.items, &doc.components}) {
        for (const auto& item : *list) {
            Require(item.state == wayfarer::component_state::kNotDetected);
            for (const auto& installer : item.installers) {
                RequireInsideDownTmp(installer.local);
            }
        }
    }
    RequireInsideDownTmp(doc.app.local);
    for (const auto& folder : env.ensuredFolders) {
        Require(folder == kDownTmp);
    }
    return 0;
}
