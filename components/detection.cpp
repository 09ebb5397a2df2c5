#include "components/detection.h"

#include <algorithm>
#include <cstddef>

#include "common/number.h"

namespace wayfarer {

namespace {

// One dot-separated piece, as atoi reads it; only its low 16 bits count.
uint32_t VersionPiece(std::string_view piece) {
    const int64_t value = number::ParseLeading(piece, 0x7FFFFFFF, 0x80000000);
    return static_cast<uint32_t>(value) & 0xFFFFu;
}

// White space as isspace sees it in the "C" locale.
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A digit's value in bases up to 36; 36 for anything else.
unsigned DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned>(c - 'a') + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<unsigned>(c - 'A') + 10;
    }
    return 36;
}

// strtol(piece, nullptr, 0) with a 32-bit long, over a piece that need not be
// terminated: the result saturates at the long's limits.
int32_t ReadLikeStrtol(std::string_view piece) {
    size_t i = 0;
    while (i < piece.size() && IsCSpace(piece[i])) {
        ++i;
    }
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < piece.size() && piece[i] == '0') {
        // "0x" counts as a prefix only with a hex digit after it; otherwise
        // the 0 alone is read and the x ends the number.
        if (i + 2 < piece.size() && (piece[i + 1] == 'x' || piece[i + 1] == 'X') &&
            DigitValue(piece[i + 2]) < 16) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    constexpr uint64_t kBeyond = uint64_t{1} << 32;  // past either limit
    uint64_t magnitude = 0;
    for (; i < piece.size(); ++i) {
        const unsigned digit = DigitValue(piece[i]);
        if (digit >= base) {
            break;
        }
        magnitude = std::min(magnitude * base + digit, kBeyond);
    }
    if (negative) {
        return magnitude >= 0x80000000u ? INT32_MIN : -static_cast<int32_t>(magnitude);
    }
    return magnitude > 0x7FFFFFFFu ? INT32_MAX : static_cast<int32_t>(magnitude);
}

bool Installable(const ComponentItem& item) {
    return !item.installers.empty() ||
           std::any_of(item.files.begin(), item.files.end(),
                       [](const FileRef& file) { return !file.remote.empty(); });
}

void DetectComponent(ComponentItem& item, DetectionProbe& probe) {
    using namespace component_state;
    uint32_t flags = 0;
    uint32_t code = kCurrent;
    for (const DetectRule& rule : item.detects) {
        if (rule.type == "clsid") {
            if (probe.AddonDisabled(rule.text)) {
                flags |= kDisabled;
            }
            if (!probe.ClassRegistered(rule.text)) {
                code = kMissing;
                break;
            }
        } else if (rule.type == "reg") {
            if (!probe.RegistryPathExists(rule.text)) {
                code = kMissing;
                break;
            }
        } else if (rule.type == "file") {
            if (!probe.FileRuleExists(rule.text)) {
                code = kMissing;
                break;
            }
        } else if (rule.type == "usbkey") {
            // An empty list matches no device: no need to walk the tree.
            const std::vector<uint32_t> ids = ParseUsbKeyIds(rule.text);
            if (!ids.empty() && probe.UsbDevicePresent(ids)) {
                flags &= ~kKeyAbsent;
            } else {
                flags |= kKeyAbsent;
            }
        }
        // "service" and unknown types say nothing about presence.
    }
    if (code == kCurrent) {
        for (const FileRef& file : item.files) {
            if (!probe.FileEntryOk(file)) {
                code = kOutdated;
                break;
            }
        }
    }
    if ((code == kOutdated || code == kMissing) && Installable(item)) {
        code = code == kOutdated ? kUpgradable : kInstallable;
    }
    item.state = flags | code;
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

std::vector<uint32_t> ParseUsbKeyIds(std::string_view text) {
    std::vector<uint32_t> ids;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const size_t end = comma == std::string_view::npos ? text.size() : comma;
        const int32_t value = ReadLikeStrtol(text.substr(start, end - start));
        if (value != 0) {
            ids.push_back(static_cast<uint32_t>(value));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return ids;
}

void DetectComponents(std::vector<ComponentItem>& list, DetectionProbe& probe) {
    for (ComponentItem& item : list) {
        DetectComponent(item, probe);
    }
}

}  // namespace wayfarer
