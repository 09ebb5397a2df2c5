// Numbers in the configuration's text. Portable.
#pragma once

#include <cstdint>
#include <string_view>

namespace wayfarer::number {

// The leading decimal number of `text`, read as atoi reads it: white space,
// an optional sign, digits up to the first other character, 0 without
// digits. The magnitude stops at `positiveLimit` or `negativeLimit` (by the
// sign) instead of overflowing.
int64_t ParseLeading(std::string_view text, uint64_t positiveLimit, uint64_t negativeLimit);

}  // namespace wayfarer::number
