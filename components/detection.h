// Component detection: what the document's detect rules and file entries
// say about each component. The rules are portable; the probes that touch
// the registry, files and the USB tree are Windows only.
#pragma once

#include <cstdint>
#include <string_view>

namespace wayfarer {

// Whether a file whose fixed version block holds `fileMs` and `fileLs`
// meets the required "a.b.c.d" (missing pieces 0, each read like atoi, low
// 16 bits). The two halves are compared on their own: 2.0.0.0 does not meet
// 1.0.0.2, because its low half 0.0 is below 0.2.
bool FileVersionMeets(std::string_view required, uint32_t fileMs, uint32_t fileLs);

}  // namespace wayfarer
