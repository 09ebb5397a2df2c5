#include "common/os_version.h"

#include <windows.h>

namespace wayfarer {

uint32_t ReportedOsMajorVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    // Deprecated, but its callers only ask "NT 6 or later", which every
    // answer it can give settles.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    const BOOL ok = ::GetVersionExW(&info);
#if defined(_MSC_VER)
#pragma warning(pop)
#endif
    if (!ok) {
        return 0;
    }
    return info.dwMajorVersion;
}

}  // namespace wayfarer
