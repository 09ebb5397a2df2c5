#include "components/detection.h"

#include <cstddef>

#include "common/number.h"

namespace wayfarer {

namespace {

// One dot-separated piece, as atoi reads it; only its low 16 bits count.
uint32_t VersionPiece(std::string_view piece) {
    const int64_t value = number::ParseLeading(piece, 0x7FFFFFFF, 0x80000000);
    return static_cast<uint32_t>(value) & 0xFFFFu;
}

}  // namespace

bool FileVersionMeets(std::string_view required, uint32_t fileMs, uint32_t fileLs) {
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t start = 0;
    for (uint32_t& part : parts) {
        if (start > required.size()) {
            break;
        }
        const size_t dot = required.find('.', start);
        const size_t end = dot == std::string_view::npos ? required.size() : dot;
        part = VersionPiece(required.substr(start, end - start));
        start = end + 1;
    }
    const uint32_t requiredMs = (parts[0] << 16) | parts[1];
    const uint32_t requiredLs = (parts[2] << 16) | parts[3];
    return fileMs >= requiredMs && fileLs >= requiredLs;
}

}  // namespace wayfarer
