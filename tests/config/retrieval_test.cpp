// The portable half of configuration retrieval: request flags, the rules a
// body or a download must meet, the progress arithmetic, the local copy's
// scramble and the order of the three sources.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/retrieval.h"
#include "tests/config/fake_environment.h"

namespace wayfarer {
namespace {

TEST(RequestFlagsTest, SecureFlagFollowsTheSchemeInAnyCase) {
    struct Case {
        const wchar_t* url;
        uint32_t flags;
    };
    const Case cases[] = {
        {L"https://localhost/item.xml", 0x84800001u},
        {L"HTTPS://LOCALHOST/item.xml", 0x84800001u},
        {L"hTtPs://x", 0x84800001u},
        {L"http://localhost/item.xml", 0x84000001u},
        {L"https:/x", 0x84000001u},
        {L"https:", 0x84000001u},
        {L"", 0x84000001u},
        {L" https://x", 0x84000001u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RequestFlags(c.url), c.flags) << std::wstring(c.url).size();
    }
}

struct OutcomeCase {
    const char* name;
    HttpOutcome outcome;
    bool bodyAccepted;
    uint32_t download;
};

TEST(HttpOutcomeTest, BodyAndDownloadRules) {
    const OutcomeCase cases[] = {
        {"200 with its length", {true, 200, 10, 10, false}, true, 10},
        {"200 without a length, read to the end", {true, 200, 0, 7, false}, true, 7},
        {"200 empty without a length", {true, 200, 0, 0, false}, true, 0},
        {"200 shorter than its length", {true, 200, 10, 6, false}, false, 0},
        {"200 longer than its length", {true, 200, 10, 12, false}, false, 0},
        {"200 whose read failed", {true, 200, 0, 5, true}, false, 0},
        {"404 with a length", {true, 404, 9, 0, false}, false, 0},
        {"no status", {true, 0, 0, 0, false}, false, 0},
        {"never opened", {false, 0, 0, 0, false}, false, 0},
    };
    for (const OutcomeCase& c : cases) {
        EXPECT_EQ(BodyAccepted(c.outcome), c.bodyAccepted) << c.name;
        EXPECT_EQ(DownloadResult(c.outcome), c.download) << c.name;
    }
}

TEST(HttpOutcomeTest, ProgressIsComputedWithoutOverflow) {
    EXPECT_EQ(ProgressPercent(0, 4096), 0);
    EXPECT_EQ(ProgressPercent(2048, 4096), 50);
    EXPECT_EQ(ProgressPercent(4096, 4096), 100);
    EXPECT_EQ(ProgressPercent(5, 0), 0);
    // 32-bit arithmetic would wrap at 43 MB.
    EXPECT_EQ(ProgressPercent(0xFFFFFFF0u, 0xFFFFFFFFu), 99);
    EXPECT_EQ(ProgressPercent(0xFFFFFFFFu, 0xFFFFFFFFu), 100);
}

std::string KeyBytes(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(static_cast<char>(ScrambleKeyByte(i)));
    }
    return text;
}

TEST(ScrambleTest, RoundTripsEveryTextInFull) {
    std::string large = "<checkitems>";
    while (large.size() < 20000) {
        large += "<config type=\"host\"><entry>www.lunmarbank.example</entry></config>";
    }
    large += "</checkitems>";
    const std::string texts[] = {
        "",
        "<checkitems/>",
        KeyBytes(17),                       // every byte equal to its key byte
        std::string("a\0b", 3),            // a zero inside
        "\xE5\xB7\xA5\xE5\x95\x86",         // UTF-8
        large,                              // past the 8092 bytes of old readers
    };
    for (const std::string& text : texts) {
        std::string bytes = text;
        ScrambleText(bytes);
        EXPECT_EQ(bytes.size(), text.size());
        if (!text.empty()) {
            EXPECT_NE(bytes, text);
        }
        ScrambleText(bytes);
        EXPECT_EQ(bytes, text);
    }
}

TEST(ScrambleTest, KeyBytesAreNotAllTheSame) {
    // A single repeated key byte would be a plain one-byte XOR.
    const std::string key = KeyBytes(5);
    EXPECT_NE(key.find_first_not_of(key[0]), std::string::npos);
    EXPECT_EQ(KeyBytes(10), key + key);
}

TEST(ScrambleTest, OlderCopyCutAtItsFirstZeroStillReads) {
    // Older builds stopped writing at the first byte that scrambled to zero.
    std::string text = "<checkitems>";
    text.push_back(static_cast<char>(ScrambleKeyByte(text.size())));
    text += "</checkitems>";
    std::string written = text;
    ScrambleText(written);
    const size_t cut = written.find('\0');
    ASSERT_EQ(cut, 12u);
    std::string old = written.substr(0, cut);
    ScrambleText(old);
    EXPECT_EQ(old, text.substr(0, cut));
}

class FakeSources : public ConfigSources {
public:
    std::string server;
    bool localExists = false;
    std::string local;
    std::string builtIn;
    std::vector<std::string> events;
    std::string saved;

    std::string FetchServerDocument() override {
        events.push_back("server");
        return server;
    }
    void SaveLocalCopy(const std::string& text) override {
        events.push_back("save");
        saved = text;
    }
    bool LocalCopyExists() override {
        events.push_back("exists");
        return localExists;
    }
    std::string LoadLocalCopy() override {
        events.push_back("local");
        return local;
    }
    std::string LoadBuiltInDocument() override {
        events.push_back("builtin");
        return builtIn;
    }
};

std::string Document(const std::string& base) {
    return "<checkitems base=\"" + base + "\"><config type=\"host\"><entry>x</entry></config></checkitems>";
}

struct ChainCase {
    const char* name;
    std::string server;
    bool localExists;
    std::string local;
    std::string builtIn;
    std::vector<std::string> events;
    bool notice;
    bool obtained;
    ConfigSource source;
    bool loaded;
    std::string base;  // the document that was parsed
};

TEST(RetrieveConfigurationTest, SourcesInOrder) {
    const std::string server = Document("https://server/");
    const std::string local = Document("https://local/");
    const std::string builtIn = Document("https://builtin/");
    const ChainCase cases[] = {
        {"server answers", server, true, local, builtIn, {"server", "save"}, false, true, ConfigSource::Server, true, "https://server/"},
        {"server document that does not parse is still saved and used", "<broken", true, local, builtIn,
         {"server", "save"}, false, true, ConfigSource::Server, false, ""},
        {"local copy", "", true, local, builtIn, {"server", "exists", "local"}, true, true, ConfigSource::LocalCopy, true,
         "https://local/"},
        {"no local copy", "", false, local, builtIn, {"server", "exists", "builtin"}, true, true, ConfigSource::BuiltIn, true,
         "https://builtin/"},
        {"unreadable local copy falls to the built-in one", "", true, "", builtIn,
         {"server", "exists", "local", "builtin"}, true, true, ConfigSource::BuiltIn, true, "https://builtin/"},
        {"damaged local copy falls to the built-in one", "", true, "<check", builtIn,
         {"server", "exists", "local", "builtin"}, true, true, ConfigSource::BuiltIn, true, "https://builtin/"},
        {"nothing anywhere", "", false, "", "", {"server", "exists", "builtin"}, true, false, ConfigSource::None, false, ""},
    };
    for (const ChainCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSources sources;
        sources.server = c.server;
        sources.localExists = c.localExists;
        sources.local = c.local;
        sources.builtIn = c.builtIn;
        test::FakeEnvironment env;
        CheckItems fresh(env);
        int notices = 0;
        const ConfigRetrieval result = RetrieveConfiguration(sources, fresh, [&notices] { ++notices; });
        EXPECT_EQ(sources.events, c.events);
        EXPECT_EQ(notices, c.notice ? 1 : 0);
        EXPECT_EQ(result.documentObtained, c.obtained);
        EXPECT_EQ(result.source, c.source);
        EXPECT_EQ(fresh.configLoaded, c.loaded);
        EXPECT_EQ(fresh.base, c.base);
        if (c.source == ConfigSource::Server) {
            EXPECT_EQ(sources.saved, c.server);  // saved before it was parsed, unchanged
        }
    }
}

}  // namespace
}  // namespace wayfarer
