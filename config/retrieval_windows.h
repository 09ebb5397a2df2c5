// The configuration's sources on Windows: the bank's server, the scrambled
// local copy "./item.xml" in the current directory and the built-in
// "ITEM.XML" resource. Windows only.
#pragma once

#include <functional>
#include <string>

#include "config/check_items.h"
#include "config/retrieval.h"

namespace wayfarer {

// The configuration address: built in from the deployment settings. A test
// build alone lets the environment variable WAYFARER_TEST_CONFIG_URL
// replace it (see cmake/deployment.cmake).
std::wstring ConfigurationAddress();

// The configuration address's body over a session of its own; empty on any
// failure.
std::string FetchConfigDocument();

// The local copy, written and read in full, hidden between uses.
void SaveLocalCopy(const std::string& text);
std::string LoadLocalCopy();
bool LocalCopyExists();

// The raw bytes of a resource of the executable's own module; empty when it
// is missing or empty.
std::string LoadResourceText(const wchar_t* name, const wchar_t* type);

class WindowsConfigSources final : public ConfigSources {
public:
    // `builtInFile`: a document that stands in for the built-in resource
    // (the console checker's test option); empty for the resource.
    explicit WindowsConfigSources(std::wstring builtInFile = {});

    std::string FetchServerDocument() override;
    void SaveLocalCopy(const std::string& text) override;
    bool LocalCopyExists() override;
    std::string LoadLocalCopy() override;
    std::string LoadBuiltInDocument() override;

private:
    std::wstring builtInFile_;
};

// The configuration worker's body: the three sources in order, parsed into
// `fresh`; `fetchFailed` shows the notice when the server gave nothing.
ConfigRetrieval ConfigWorker(CheckItems& fresh, const std::function<void()>& fetchFailed,
                             const std::wstring& builtInFile = {});

}  // namespace wayfarer
