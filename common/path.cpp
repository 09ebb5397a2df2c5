#include "common/path.h"

#include <cstdint>

namespace wayfarer::path {

size_t Utf16Length(std::string_view text) {
    size_t units = 0;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t min = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            min = 0x10000;
        }
        bool valid = length != 0 && n - i >= length;
        uint32_t cp = length == 1 ? lead : (lead & (0x7Fu >> length));
        for (size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) {
                valid = false;
            } else {
                cp = (cp << 6) | (c & 0x3Fu);
            }
        }
        if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
            valid = false;
        }
        if (!valid) {
            units += 1;
            i += 1;
        } else {
            units += cp >= 0x10000 ? 2 : 1;
            i += length;
        }
    }
    return units;
}

std::string Join(std::string_view folder, std::string_view name) {
    while (!folder.empty() && folder.back() == '\\') {
        folder.remove_suffix(1);
    }
    std::string joined;
    joined.reserve(folder.size() + 1 + name.size());
    joined.append(folder);
    joined.push_back('\\');
    joined.append(name);
    return joined;
}

}  // namespace wayfarer::path
