// The HTML view: its client site's UI handler (no context menu, accelerators
// swallowed, host flags, window.external), and the browser engine where the
// system has one.
#include "app/html_view.h"

#include <gtest/gtest.h>

#include <mshtmhst.h>
#include <ole2.h>

#include "app/external_dispatch.h"
#include "app/script_call.h"
#include "tests/app/process_runner.h"

namespace wayfarer {
namespace {

class NullMethods : public ExternalMethods {
public:
    void install(int32_t) override {}
    void installcom(int32_t) override {}
    void installmulti(int32_t, int32_t) override {}
    void fix(int32_t) override {}
    void check(int32_t) override {}
    void installandfix() override {}
    void stop(int32_t) override {}
};

class HtmlViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        // Message-only: the tests run without a display. Under Wine the first
        // window of a fresh prefix is now and then refused while its desktop
        // process starts, so a refusal is retried briefly.
        DWORD error = 0;
        for (int attempt = 0; attempt < 20 && window == nullptr; ++attempt) {
            window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 836, 592, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
            if (window == nullptr) {
                error = GetLastError();
                Sleep(100);
            }
        }
        ASSERT_NE(window, nullptr) << "CreateWindowExW failed, error " << error;
    }
    void TearDown() override {
        view.Destroy();
        DestroyWindow(window);
        OleUninitialize();
    }

    HWND window = nullptr;
    CHtmlView view;
};

TEST_F(HtmlViewTest, UiHandlerKeepsTheEngineQuietAndHandsOutTheExternalObject) {
    NullMethods methods;
    com_ptr<CExternalDispatch> external = CExternalDispatch::Create(methods);
    view.SetExternal(external.query<IDispatch>());
    view.SetHostFlags(DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME |
                      DOCHOSTUIFLAG_DIALOG);
    view.Create(window);  // the site is there also when the engine is not
    ASSERT_NE(view.Site(), nullptr);
    com_ptr<IDocHostUIHandler> handler;
    ASSERT_EQ(view.Site()->QueryInterface(IID_IDocHostUIHandler, handler.put_void()), S_OK);

    DOCHOSTUIINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_EQ(handler->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, 0x4000Du) << "themed, no border, no scroll bars, dialog";

    POINT at{10, 10};
    EXPECT_EQ(handler->ShowContextMenu(CONTEXT_MENU_DEFAULT, &at, nullptr, nullptr), S_OK)
        << "handled, that is, no menu";
    for (UINT key : {UINT{VK_F5}, UINT{'F'}, UINT{'P'}, UINT{'N'}, UINT{VK_BROWSER_BACK}}) {
        MSG message{window, WM_KEYDOWN, key, 0, 0, {0, 0}};
        EXPECT_EQ(handler->TranslateAccelerator(&message, nullptr, 0), S_OK)
            << "key " << key << " is swallowed";
    }

    IDispatch* given = nullptr;
    ASSERT_EQ(handler->GetExternal(&given), S_OK);
    const com_ptr<IDispatch> owned(given);
    EXPECT_EQ(given, static_cast<IDispatch*>(external.get()));
}

TEST_F(HtmlViewTest, PageFromTheExecutablesResources) {
    if (FAILED(view.Create(window))) {
        GTEST_SKIP() << "no WebBrowser control here (Wine without Gecko): the view is compiled only";
    }
    const unique_hmodule exe(LoadLibraryExW(test::Widen(WAYFARER_EXE).c_str(), nullptr,
                                            LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(exe);
    view.NavigateToResource(exe.get(), 104);
    if (!GetScriptObject(view.Browser())) {
        GTEST_SKIP() << "the browser engine cannot render here (Wine without Gecko): no HTML "
                        "document, so the page, CallScript on it and the onOpen click are "
                        "compiled only";
    }
    SUCCEED() << "an HTML document was created from res://.../104";
}

}  // namespace
}  // namespace wayfarer
