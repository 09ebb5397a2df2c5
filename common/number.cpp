#include "common/number.h"

#include <algorithm>

namespace wayfarer::number {

int64_t ParseLeading(std::string_view text, uint64_t positiveLimit, uint64_t negativeLimit) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Limits above 2^62 would not survive the multiplication below.
    const uint64_t limit = std::min<uint64_t>(negative ? negativeLimit : positiveLimit, uint64_t{1} << 62);
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min<uint64_t>(magnitude * 10 + static_cast<uint64_t>(text[i] - '0'), limit);
    }
    const auto value = static_cast<int64_t>(magnitude);
    return negative ? -value : value;
}

}  // namespace wayfarer::number
