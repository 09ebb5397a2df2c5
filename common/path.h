// Path helpers shared by the document model and the Windows code. Portable.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wayfarer::path {

// Longest path, in UTF-16 units without the terminator, that the program
// hands to the system; longer results become empty text rather than being cut.
constexpr size_t kMaxUnits = 259;

// Length of UTF-8 text once converted to UTF-16. Each byte of an invalid
// sequence counts as one unit, so the count never comes out short.
size_t Utf16Length(std::string_view utf8);

// True when the UTF-8 path fits a MAX_PATH buffer with its terminator.
inline bool Fits(std::string_view utf8) { return Utf16Length(utf8) <= kMaxUnits; }

// Joins with exactly one backslash between the parts.
std::string Join(std::string_view folder, std::string_view name);

}  // namespace wayfarer::path
