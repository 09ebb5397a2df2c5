// Named character references understood by XmlDocument::DecodeText: the
// HTML 4.01 set plus "apos". Portable.
#pragma once

#include <cstdint>
#include <string_view>

namespace wayfarer {
namespace xml_entities {

// Code point of the reference `lowerName` (already lower-cased), 0 when the
// name is unknown. Names that differ only by case share one key; the variant
// with a capital letter wins, so "eacute" gives U+00C9.
uint32_t Lookup(std::string_view lowerName);

}  // namespace xml_entities
}  // namespace wayfarer
