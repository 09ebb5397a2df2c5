#include "common/path.h"

#include <gtest/gtest.h>

#include <string>

namespace wayfarer::path {
namespace {

TEST(PathUtf16Length, CountsWhatTheWideCallsWillSee) {
    struct Case {
        const char* what;
        std::string text;
        size_t units;
    } const cases[] = {
        {"ascii", "C:\\Temp\\a.exe", 13},
        {"two-byte", "\xC3\xA9", 1},
        {"chinese, three bytes each", "\xE7\xBD\x91\xE9\x93\xB6", 2},
        {"outside the BMP: a surrogate pair", "\xF0\x9F\x98\x80", 2},
        {"lone continuation byte", "\x80", 1},
        {"cut sequence counts each byte", "\xE7\xBD", 2},
        {"overlong encoding is invalid", "\xC0\xAF", 2},
        {"encoded surrogate is invalid", "\xED\xA0\x80", 3},
        {"above U+10FFFF is invalid", "\xF4\x90\x80\x80", 4},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16Length(c.text), c.units) << c.what;
    }
}

TEST(PathFits, BoundaryIsMaxPathWithTerminator) {
    EXPECT_TRUE(Fits(std::string(kMaxUnits, 'a')));
    EXPECT_FALSE(Fits(std::string(kMaxUnits + 1, 'a')));
    // 130 Chinese characters are 390 bytes but 130 units: they fit.
    std::string chinese;
    for (int i = 0; i < 130; ++i) {
        chinese += "\xE7\xBD\x91";
    }
    EXPECT_TRUE(Fits(chinese));
}

TEST(PathJoin, OneBackslashBetweenParts) {
    EXPECT_EQ(Join("C:\\Temp\\", "DownTmp"), "C:\\Temp\\DownTmp");
    EXPECT_EQ(Join("C:\\Temp", "DownTmp"), "C:\\Temp\\DownTmp");
    EXPECT_EQ(Join("C:\\Temp\\\\", "a.exe"), "C:\\Temp\\a.exe");
}

}  // namespace
}  // namespace wayfarer::path
