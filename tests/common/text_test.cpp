#include "common/text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace wayfarer {
namespace {

// "网银助手" (online-banking assistant)
const char kUtf8[] = "\xE7\xBD\x91\xE9\x93\xB6\xE5\x8A\xA9\xE6\x89\x8B";
const wchar_t kWide[] = L"\x7F51\x94F6\x52A9\x624B";
const char kGbk[] = "\xCD\xF8\xD2\xF8\xD6\xFA\xCA\xD6";

TEST(TextConversion, ChineseRoundTripsThroughUtf16) {
    EXPECT_EQ(Utf8ToWide(kUtf8), kWide);
    EXPECT_EQ(WideToUtf8(kWide), kUtf8);
    EXPECT_EQ(ToWide(kGbk, 936), kWide);
    EXPECT_EQ(ToNarrow(kWide, 936), kGbk);
}

TEST(TextConversion, EmbeddedZerosAreKept) {
    const std::string text("a\0b", 3);
    EXPECT_EQ(Utf8ToWide(text), std::wstring(L"a\0b", 3));
}

TEST(TextConversion, EmptyOrFailedGivesEmpty) {
    EXPECT_TRUE(Utf8ToWide("").empty());
    EXPECT_TRUE(WideToUtf8(L"").empty());
    EXPECT_TRUE(ToWide("abc", 12345).empty()) << "unknown code page";
    EXPECT_TRUE(ToNarrow(L"abc", 12345).empty());
}

TEST(TextConversion, AnsiIsTheSystemCodePage) {
    if (GetACP() != 936) {
        GTEST_SKIP() << "needs the Chinese ANSI code page 936; this system has " << GetACP();
    }
    EXPECT_EQ(Utf8ToAnsi(kUtf8), kGbk);
    EXPECT_EQ(AnsiToUtf8(kGbk), kUtf8);
    // Text the code page cannot hold does not survive, as on a real system.
    EXPECT_NE(AnsiToUtf8(Utf8ToAnsi("\xE0\xB8\x81")), "\xE0\xB8\x81");  // Thai
}

TEST(TextExpandPath, ExpandsAndRefusesWhatWouldNotFit) {
    wchar_t windir[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"windir", windir, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(ExpandPath(L"%windir%\\system32"), std::wstring(windir) + L"\\system32");
    EXPECT_EQ(ExpandPath(L"%wayfarer_no_such_name%"), L"%wayfarer_no_such_name%");
    EXPECT_TRUE(ExpandPath(L"").empty());

    const std::wstring longValue(300, L'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"WAYFARER_LONG", longValue.c_str()));
    EXPECT_TRUE(ExpandPath(L"%WAYFARER_LONG%").empty()) << "a cut path would name another file";
    const std::wstring justFits(MAX_PATH - 1, L'y');
    ASSERT_TRUE(SetEnvironmentVariableW(L"WAYFARER_LONG", justFits.c_str()));
    EXPECT_EQ(ExpandPath(L"%WAYFARER_LONG%"), justFits);
    SetEnvironmentVariableW(L"WAYFARER_LONG", nullptr);
}

}  // namespace
}  // namespace wayfarer
