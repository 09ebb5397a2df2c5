// Configuration retrieval without the platform: the request flags, the
// rules that decide whether a body or a download counts, the scramble of the
// local copy, and the order of the three sources over an injected set of
// sources. Portable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "config/check_items.h"

namespace wayfarer {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_ASCII.
constexpr uint32_t kRequestFlags = 0x84000001;
constexpr uint32_t kSecureFlag = 0x00800000;  // INTERNET_FLAG_SECURE
constexpr size_t kReadChunk = 4096;

// The open flags for `url`: the secure flag when it begins with "https://"
// in any letter case.
uint32_t RequestFlags(std::wstring_view url);

// What one request came to, as the two primitives see it.
struct HttpOutcome {
    bool opened = false;       // a request handle resulted and was sent
    uint32_t status = 0;       // 0 when the query failed
    uint32_t length = 0;       // Content-Length; 0 when absent
    uint64_t received = 0;     // body bytes read (and, for a download, written)
    bool readFailed = false;   // a read or a write failed before the end
};

// True when a fetched body is to be kept: status 200, read to its end, and
// as long as its Content-Length says when it says one.
bool BodyAccepted(const HttpOutcome& outcome);

// The result of a download: its length when the whole body was stored, or
// the bytes stored when the response had no length and was read to its end
// (0 for an empty one); 0 on every failure.
uint32_t DownloadResult(const HttpOutcome& outcome);

// position * 100 / length in 64 bits, stored in 32; 0 without a length.
int32_t ProgressPercent(uint64_t position, uint32_t length);

// The low byte of the key entry that scrambles byte `index`.
uint8_t ScrambleKeyByte(size_t index);

// XORs every byte with its key byte, the whole length, zero bytes included;
// applying it twice restores the bytes. A copy written by an older build
// (cut at its first zero) still reads back as the text up to that cut.
void ScrambleText(std::string& bytes);

// The three sources of the configuration document.
class ConfigSources {
public:
    virtual ~ConfigSources() = default;
    // The server's document; empty on any failure.
    virtual std::string FetchServerDocument() = 0;
    virtual void SaveLocalCopy(const std::string& text) = 0;
    virtual bool LocalCopyExists() = 0;
    // Unscrambled; empty when it cannot be read.
    virtual std::string LoadLocalCopy() = 0;
    virtual std::string LoadBuiltInDocument() = 0;
};

// Where the parsed text came from; None when no source gave any.
enum class ConfigSource { None, Server, LocalCopy, BuiltIn };

struct ConfigRetrieval {
    bool documentObtained = false;  // some text was handed to the parser
    ConfigSource source = ConfigSource::None;
    bool fromServer() const { return source == ConfigSource::Server; }
};

// Server first (saved as the local copy before it is parsed), else
// `fetchFailed` (the notice) and then the local copy when it exists, else
// the built-in document. Parses into `fresh`.
ConfigRetrieval RetrieveConfiguration(ConfigSources& sources, CheckItems& fresh,
                                      const std::function<void()>& fetchFailed);

}  // namespace wayfarer
