#include "config/retrieval.h"

namespace wayfarer {

namespace {

// Only the low byte of each entry is used; the copy is read only by the
// program that wrote it.
constexpr uint32_t kScrambleKey[5] = {0x6B1F03A7u, 0x2C5D91E4u, 0x0E7A4C3Bu, 0x51D8B6F2u, 0x3394E05Du};

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace

uint32_t RequestFlags(std::wstring_view url) {
    constexpr std::wstring_view kHttps = L"https://";
    bool secure = url.size() >= kHttps.size();
    for (size_t i = 0; secure && i < kHttps.size(); ++i) {
        secure = AsciiLower(url[i]) == kHttps[i];
    }
    return secure ? (kRequestFlags | kSecureFlag) : kRequestFlags;
}

bool BodyAccepted(const HttpOutcome& outcome) {
    if (!outcome.opened || outcome.readFailed || outcome.status != 200) {
        return false;
    }
    return outcome.length == 0 || outcome.received == outcome.length;
}

uint32_t DownloadResult(const HttpOutcome& outcome) {
    if (!BodyAccepted(outcome)) {
        return 0;
    }
    if (outcome.length != 0) {
        return outcome.length;
    }
    // A body past 4 GiB without a length cannot be told as a 32-bit result.
    return outcome.received > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(outcome.received);
}

int32_t ProgressPercent(uint64_t position, uint32_t length) {
    if (length == 0) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(position * 100u / length));
}

uint8_t ScrambleKeyByte(size_t index) {
    return static_cast<uint8_t>(kScrambleKey[index % 5] & 0xFFu);
}

void ScrambleText(std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(static_cast<uint8_t>(bytes[i]) ^ ScrambleKeyByte(i));
    }
}

ConfigRetrieval RetrieveConfiguration(ConfigSources& sources, CheckItems& fresh,
                                      const std::function<void()>& fetchFailed) {
    ConfigRetrieval result;
    std::string text = sources.FetchServerDocument();
    if (!text.empty()) {
        sources.SaveLocalCopy(text);
        fresh.LoadFromText(text);
        result.documentObtained = true;
        result.source = ConfigSource::Server;
        return result;
    }
    if (fetchFailed) {
        fetchFailed();
    }
    if (sources.LocalCopyExists()) {
        text = sources.LoadLocalCopy();
        if (!text.empty()) {
            result.documentObtained = true;
            if (fresh.LoadFromText(text)) {
                result.source = ConfigSource::LocalCopy;
                return result;
            }
        }
        // An unreadable or damaged copy must not leave the program without
        // any document while the built-in one is at hand.
    }
    text = sources.LoadBuiltInDocument();
    if (!text.empty()) {
        result.documentObtained = true;
        result.source = ConfigSource::BuiltIn;
        fresh.LoadFromText(text);
    }
    return result;
}

}  // namespace wayfarer
