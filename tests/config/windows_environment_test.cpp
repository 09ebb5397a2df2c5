#include "config/windows_environment.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace wayfarer {
namespace {

TEST(WindowsEnvironment, DownloadPathsLandInDownTmp) {
    WindowsEnvironment env;
    const std::string temp = env.TempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');

    const std::wstring folder = Utf8ToWide(temp + "DownTmp");
    RemoveDirectoryW(folder.c_str());  // only succeeds when empty; fine either way

    CheckItems doc(env);
    EXPECT_EQ(doc.TempDownloadPath("https://download.example/dir/setup.exe"),
              temp + "DownTmp\\setup.exe");
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the folder was created";
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(WindowsEnvironment, ExpandsThroughTheAnsiCodePage) {
    WindowsEnvironment env;
    wchar_t windir[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableW(L"windir", windir, MAX_PATH), 0u);
    EXPECT_EQ(env.ExpandEnvironment("%windir%\\system32\\a.dll"),
              WideToUtf8(windir) + "\\system32\\a.dll");

    // "网银" in a variable: survives when the code page can hold it.
    ASSERT_TRUE(SetEnvironmentVariableW(L"WAYFARER_CN", L"C:\\\x7F51\x94F6"));
    const std::string expanded = env.ExpandEnvironment("%WAYFARER_CN%\\x");
    if (GetACP() == 936) {
        EXPECT_EQ(expanded, "C:\\\xE7\xBD\x91\xE9\x93\xB6\\x");
    } else {
        EXPECT_FALSE(expanded.empty());
    }

    const std::wstring tooLong(300, L'z');
    ASSERT_TRUE(SetEnvironmentVariableW(L"WAYFARER_CN", tooLong.c_str()));
    EXPECT_TRUE(env.ExpandEnvironment("%WAYFARER_CN%").empty());
    SetEnvironmentVariableW(L"WAYFARER_CN", nullptr);
}

TEST(WindowsEnvironment, InstallerConditionsFollowTheSystem) {
    WindowsEnvironment env;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(env.OsMajorVersion(), info.dwMajorVersion);
    CheckItems doc(env);
    EXPECT_TRUE(doc.ConditionHolds("NT6")) << "every supported system is NT 6 or later";
    EXPECT_FALSE(doc.ConditionHolds("NT5"));
}

}  // namespace
}  // namespace wayfarer
