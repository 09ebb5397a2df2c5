// The system's major version as GetVersionExW reports it to this program
// (which depends on the manifest: 6 without a Windows 10 entry). Windows only.
#pragma once

#include <cstdint>

namespace wayfarer {

// 0 when the system will not say.
uint32_t ReportedOsMajorVersion();

}  // namespace wayfarer
