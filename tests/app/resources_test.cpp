// The resources built into wayfarer.exe, read from the executable itself:
// message texts, the window template, icon, version block, manifest and the
// built-in configuration document.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/res/resource.h"
#include "common/handles.h"
#include "tests/app/process_runner.h"

namespace wayfarer {
namespace {

class WayfarerResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExW(test::Widen(WAYFARER_EXE).c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << WAYFARER_EXE; }

    static std::string Bytes(const wchar_t* type, const wchar_t* name) {
        HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) {
            return {};
        }
        HGLOBAL loaded = LoadResource(module_, found);
        const char* data = static_cast<const char*>(LockResource(loaded));
        return data == nullptr ? std::string() : std::string(data, SizeofResource(module_, found));
    }

    static HMODULE module_;
};
HMODULE WayfarerResources::module_ = nullptr;

TEST_F(WayfarerResources, MessageTextsAreTheApplicationsOwn) {
    const struct {
        int id;
        const wchar_t* text;
    } table[] = {
        {135, L"IE缓存清除成功"},
        {136, L"Lunmar银行网银助手"},
        {137, L"正在进行检测"},
        {138, L"检测完毕"},
        {139, L"应用程序有更新，并且已经下载完毕\n是否立即应用更新"},
        {140, L"修复完成"},
        {141, L"SSL缓存清除成功"},
        {142, L"更新程序"},
        {143, L"立即更新程序"},
        {144, L"下次启动更新"},
        {145, L"下载失败，是否继续下一个"},
        {146, L"下载发生错误"},
        {147, L"继续下载下一项"},
        {148, L"停止下载"},
        {149, L"安装失败，是否继续下一个"},
        {150, L"安装时发生了一个错误"},
        {151, L"继续安装下一项"},
        {152, L"停止安装"},
        {153, L"系统对时成功"},
        {154, L"系统对时失败，请手工对时"},
        {155, L"下载配置文件失败，请确认你的电脑能够访问银行网站"},
        {156, L"为了您更方便的使用我行网银助手，请您立即更新程序。"},
    };
    for (const auto& entry : table) {
        EXPECT_EQ(LoadText(module_, entry.id), entry.text) << "string " << entry.id;
    }
    EXPECT_EQ(LoadText(module_, 134), L"");
    EXPECT_EQ(LoadText(module_, 157), L"");
}

// The extended dialog template's fixed head, then its variable-length parts.
TEST_F(WayfarerResources, WindowTemplateIsAnEmptyExtendedDialog) {
    const std::string raw = Bytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_WAYFARER_DIALOG));
    ASSERT_GE(raw.size(), 26u);
    auto word = [&](size_t at) {
        WORD w;
        std::memcpy(&w, raw.data() + at, sizeof(w));
        return w;
    };
    auto dword = [&](size_t at) {
        DWORD d;
        std::memcpy(&d, raw.data() + at, sizeof(d));
        return d;
    };
    EXPECT_EQ(word(0), 1) << "dlgVer";
    EXPECT_EQ(word(2), 0xFFFF) << "extended template";
    EXPECT_EQ(dword(8), static_cast<DWORD>(WS_EX_APPWINDOW));
    const DWORD style = dword(12);
    const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                         DS_MODALFRAME | DS_SETFONT;
    EXPECT_EQ(style, wanted);
    EXPECT_EQ(word(16), 0) << "no controls";
    EXPECT_EQ(word(22), 355);
    EXPECT_EQ(word(24), 233);

    // Menu, class, title: zero-terminated UTF-16 (an empty menu and class
    // are a single zero), then the font's size, weight, italic, charset, face.
    std::vector<std::wstring> texts;
    size_t at = 26;
    for (int i = 0; i < 3; ++i) {
        std::wstring text;
        for (; at + 1 < raw.size() && word(at) != 0; at += 2) {
            text.push_back(static_cast<wchar_t>(word(at)));
        }
        at += 2;
        texts.push_back(text);
    }
    EXPECT_EQ(texts[0], L"");
    EXPECT_EQ(texts[1], L"");
    EXPECT_EQ(texts[2], L"Lunmar银行网银助手 1.0.0.1");
    EXPECT_EQ(word(at), 9) << "points";
    std::wstring face;
    for (at += 6; at + 1 < raw.size() && word(at) != 0; at += 2) {
        face.push_back(static_cast<wchar_t>(word(at)));
    }
    EXPECT_EQ(face, L"MS Shell Dlg");
}

TEST_F(WayfarerResources, IconGroupHasTheSizesWindowsAsksFor) {
    const std::string group = Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_GE(group.size(), 6u);
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, sizeof(count));
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<int> widths;
    for (WORD i = 0; i < count; ++i) {
        const unsigned char width = static_cast<unsigned char>(group[6 + 14 * i]);
        widths.push_back(width == 0 ? 256 : width);
    }
    for (int size : {16, 32, 48, 256}) {
        EXPECT_NE(std::find(widths.begin(), widths.end(), size), widths.end()) << size << " px";
    }
    EXPECT_NE(LoadImageW(module_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0), nullptr);
}

TEST_F(WayfarerResources, VersionIsOneZeroZeroOne) {
    const std::wstring path = test::Widen(WAYFARER_EXE);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"1.0.0.1");
}

TEST_F(WayfarerResources, ManifestAsksForElevationCommonControlsAndDpiAwareness) {
    const std::string manifest = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    const char* const required[] = {
        "level=\"requireAdministrator\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        ">true</dpiAware>",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
    };
    for (const char* text : required) {
        EXPECT_NE(manifest.find(text), std::string::npos) << text;
    }
}

TEST_F(WayfarerResources, BuiltInDocumentIsTheSourceFileByteForByte) {
    std::ifstream in(WAYFARER_SOURCE_DIR "/app/res/item.xml", std::ios::binary);
    const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(Bytes(MAKEINTRESOURCEW(23), L"item.xml"), source) << "found by name in any case";
}

TEST_F(WayfarerResources, PageIsHtmlResource104) {
    if (GetFileAttributesW(test::Widen(WAYFARER_SOURCE_DIR "/app/res/page.rc").c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "this tree has no page yet (app/res/page.rc)";
    }
    const std::string page = Bytes(MAKEINTRESOURCEW(23), MAKEINTRESOURCEW(IDR_HTML_PAGE));
    EXPECT_NE(page.find("setState"), std::string::npos);
}

}  // namespace
}  // namespace wayfarer
