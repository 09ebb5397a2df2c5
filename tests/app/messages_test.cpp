// Prompt and Notice: what the task dialog (or the fallback message box) is
// given, with the texts of wayfarer.exe's string table.
#include "app/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "tests/app/process_runner.h"

namespace wayfarer {
namespace {

// What the fakes saw; the fakes are plain functions, so this is global.
struct Seen {
    int taskDialogs = 0;
    HWND owner = nullptr;
    TASKDIALOG_FLAGS flags = 0;
    TASKDIALOG_COMMON_BUTTON_FLAGS commonButtons = 0;
    std::wstring title, heading, content;
    bool headingGiven = false;
    std::vector<std::pair<int, std::wstring>> buttons;
    int boxes = 0;
    HWND boxOwner = nullptr;
    std::wstring boxText, boxCaption;
    UINT boxType = 0;
    // How the user answers.
    int choose = IDYES;
    HRESULT taskStatus = S_OK;
};
Seen g_seen;

HRESULT WINAPI FakeTaskDialog(const TASKDIALOGCONFIG* config, int* button, int*, BOOL*) {
    Seen& s = g_seen;
    ++s.taskDialogs;
    s.owner = config->hwndParent;
    s.flags = config->dwFlags;
    s.commonButtons = config->dwCommonButtons;
    s.title = config->pszWindowTitle;
    s.headingGiven = config->pszMainInstruction != nullptr;
    s.heading = s.headingGiven ? config->pszMainInstruction : L"";
    s.content = config->pszContent;
    s.buttons.clear();
    for (UINT i = 0; i < config->cButtons; ++i) {
        s.buttons.emplace_back(config->pButtons[i].nButtonID, config->pButtons[i].pszButtonText);
    }
    if (FAILED(s.taskStatus)) {
        return s.taskStatus;
    }
    *button = s.buttons.empty() ? IDOK : s.choose;
    return S_OK;
}

int WINAPI FakeMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    Seen& s = g_seen;
    ++s.boxes;
    s.boxOwner = owner;
    s.boxText = text;
    s.boxCaption = caption;
    s.boxType = type;
    return IDOK;
}

class MessagesTest : public ::testing::Test {
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
    void SetUp() override {
        ASSERT_NE(module_, nullptr) << "cannot load " << WAYFARER_EXE;
        g_seen = Seen();
    }

    static MessageTexts Texts(int text, int heading, int first) {
        return LoadMessageTexts(module_, text, heading, first);
    }

    const MessageApi withTaskDialog{&FakeTaskDialog, &FakeMessageBox};
    const MessageApi withoutTaskDialog{nullptr, &FakeMessageBox};
    const HWND active = reinterpret_cast<HWND>(0x1234);
    const HWND mainWindow = reinterpret_cast<HWND>(0x5678);
    static HMODULE module_;
};
HMODULE MessagesTest::module_ = nullptr;

TEST_F(MessagesTest, PromptOffersTwoCommandLinksUnderTheApplicationsTitle) {
    const struct {
        int text, heading, first;
        const wchar_t* content;
        const wchar_t* headingText;
        const wchar_t* firstChoice;
        const wchar_t* secondChoice;
    } uses[] = {
        {139, 142, 143, L"应用程序有更新，并且已经下载完毕\n是否立即应用更新", L"更新程序", L"立即更新程序", L"下次启动更新"},
        {145, 146, 147, L"下载失败，是否继续下一个", L"下载发生错误", L"继续下载下一项", L"停止下载"},
        {149, 150, 151, L"安装失败，是否继续下一个", L"安装时发生了一个错误", L"继续安装下一项", L"停止安装"},
    };
    for (const auto& use : uses) {
        for (int choice : {IDYES, IDNO}) {
            g_seen.choose = choice;
            EXPECT_EQ(ShowPrompt(withTaskDialog, active, mainWindow, Texts(use.text, use.heading, use.first)),
                      choice);
            EXPECT_EQ(g_seen.owner, active) << "owned by the active window";
            EXPECT_EQ(g_seen.flags, 0x51) << "hyperlinks, command links, footer";
            EXPECT_EQ(g_seen.commonButtons, 0) << "no common buttons";
            EXPECT_EQ(g_seen.title, L"Lunmar银行网银助手");
            EXPECT_EQ(g_seen.heading, use.headingText);
            EXPECT_EQ(g_seen.content, use.content);
            const std::vector<std::pair<int, std::wstring>> links = {{6, use.firstChoice},
                                                                     {7, use.secondChoice}};
            EXPECT_EQ(g_seen.buttons, links);
        }
    }
    EXPECT_EQ(g_seen.boxes, 0);
}

TEST_F(MessagesTest, NoticeShowsTheDefaultOkAndAnEmptyHeadingForZero) {
    const struct {
        int text, heading;
        const wchar_t* content;
        const wchar_t* headingText;
    } uses[] = {
        {141, 0, L"SSL缓存清除成功", nullptr},
        {135, 0, L"IE缓存清除成功", nullptr},
        {155, 146, L"下载配置文件失败，请确认你的电脑能够访问银行网站", L"下载发生错误"},
    };
    for (const auto& use : uses) {
        EXPECT_EQ(ShowNotice(withTaskDialog, active, mainWindow, Texts(use.text, use.heading, 0)), IDOK);
        EXPECT_TRUE(g_seen.buttons.empty());
        EXPECT_EQ(g_seen.commonButtons, 0) << "the task dialog's own OK";
        EXPECT_EQ(g_seen.flags, 0x51);
        EXPECT_EQ(g_seen.title, L"Lunmar银行网银助手");
        EXPECT_EQ(g_seen.content, use.content);
        EXPECT_EQ(g_seen.headingGiven, use.headingText != nullptr);
        if (use.headingText != nullptr) {
            EXPECT_EQ(g_seen.heading, use.headingText);
        }
    }
}

TEST_F(MessagesTest, WithoutTaskDialogsAMessageBoxWithOnlyOk) {
    EXPECT_EQ(ShowPrompt(withoutTaskDialog, active, mainWindow, Texts(145, 146, 147)), IDOK)
        << "callers treat the OK like the first choice";
    EXPECT_EQ(g_seen.boxOwner, mainWindow) << "owned by the main window";
    EXPECT_EQ(g_seen.boxText, L"下载失败，是否继续下一个");
    EXPECT_EQ(g_seen.boxCaption, L"Lunmar银行网银助手");
    EXPECT_EQ(g_seen.boxType, static_cast<UINT>(MB_OK));

    EXPECT_EQ(ShowNotice(withoutTaskDialog, active, mainWindow, Texts(141, 0, 0)), IDOK);
    EXPECT_EQ(g_seen.boxText, L"SSL缓存清除成功");
    EXPECT_EQ(g_seen.boxType, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(g_seen.taskDialogs, 0);
}

TEST_F(MessagesTest, FailingTaskDialogGivesMinusOne) {
    g_seen.taskStatus = E_OUTOFMEMORY;
    EXPECT_EQ(ShowPrompt(withTaskDialog, active, mainWindow, Texts(145, 146, 147)), -1);
    EXPECT_EQ(ShowNotice(withTaskDialog, active, mainWindow, Texts(141, 0, 0)), -1);
    EXPECT_EQ(g_seen.boxes, 0) << "no second box after a failed one";
}

// The manifest's common controls 6 are what bring the task dialog: activate
// wayfarer.exe's own manifest here and ask the way Prompt asks.
TEST(TaskDialogAvailability, WayfarersManifestBringsTheTaskDialog) {
    const std::wstring exe = test::Widen(WAYFARER_EXE);
    ACTCTXW context{};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = exe.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(1);
    const HANDLE created = CreateActCtxW(&context);
    ASSERT_NE(created, INVALID_HANDLE_VALUE) << "wayfarer.exe's manifest is not usable";
    const unique_any<null_handle_traits<HANDLE, &::ReleaseActCtx>> owner(created);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(created, &cookie));
    const unique_hmodule controls(LoadLibraryW(L"comctl32.dll"));
    ASSERT_TRUE(controls);
    const MessageApi api = SystemMessageApi();
    DeactivateActCtx(0, cookie);
    EXPECT_NE(api.taskDialog, nullptr);
    EXPECT_NE(api.messageBox, nullptr);
}

}  // namespace
}  // namespace wayfarer
