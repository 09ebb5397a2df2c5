// The document model's view of the running system. Windows only.
#pragma once

#include "config/check_items.h"

namespace wayfarer {

class WindowsEnvironment final : public DocumentEnvironment {
public:
    std::string TempDirectory() override;
    bool EnsureDirectory(const std::string& path) override;
    std::string ExpandEnvironment(const std::string& text) override;
    uint32_t OsMajorVersion() override;
};

}  // namespace wayfarer
