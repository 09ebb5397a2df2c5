// Starting the browser: the command line's buffer, the plain start and the
// start under the desktop shell's token.
#include "app/browser_launch.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace wayfarer {
namespace {

TEST(CopyCommandLine, TakesOnlyWhatFitsWholeWithItsZero) {
    const struct {
        std::wstring text;
        bool fits;
    } cases[] = {
        {L"", false},
        {L"a", true},
        {std::wstring(258, L'x'), true},
        {std::wstring(259, L'x'), true},
        {std::wstring(260, L'x'), false},
        {std::wstring(1000, L'x'), false},
        {std::wstring(L"a\0b", 3), false},
    };
    for (const auto& c : cases) {
        wchar_t buffer[kCommandLineUnits];
        buffer[0] = L'?';
        EXPECT_EQ(CopyCommandLine(c.text, buffer), c.fits) << c.text.size() << " units";
        EXPECT_EQ(std::wstring(buffer), c.fits ? c.text : std::wstring())
            << "never a cut command line";
    }
}

// cmd.exe, ended at once, its command line padded to a length.
std::wstring PaddedCommand(size_t length) {
    std::wstring line = L"cmd.exe /c exit 0";
    line.resize(length, L' ');
    return line;
}

TEST(LaunchPlain, StartsWhatFitsAndRefusesWhatWouldBeCut) {
    EXPECT_TRUE(LaunchPlain(PaddedCommand(259)));
    // Cut to 259 units this would still start cmd.exe: it must not.
    EXPECT_FALSE(LaunchPlain(PaddedCommand(260)));
    EXPECT_FALSE(LaunchPlain(L"Z:\\no\\such\\program.exe"));
}

TEST(LaunchWithShellToken, NoShellWindowNoProcessAndNoFallback) {
    if (GetShellWindow() != nullptr) {
        GTEST_SKIP() << "a desktop shell is running here; this checks the case without one";
    }
    // Wine never has a shell window: the start fails although a plain start
    // of the same command line would succeed.
    EXPECT_FALSE(LaunchWithShellToken(PaddedCommand(20)));
    EXPECT_FALSE(LaunchAsShellUser(PaddedCommand(20))) << "Vista and later: no plain fallback";
    EXPECT_EQ(OpenBankSite(), S_OK) << "a browser that does not start is silent";
}

TEST(BankSiteCommandLine, QuotedBrowserPathThenTheHomePage) {
    const std::wstring browser = ExpandPath(L"%ProgramFiles%\\Internet Explorer\\iexplore.exe");
    ASSERT_FALSE(browser.empty());
    EXPECT_EQ(BankSiteCommandLine(), L"\"" + browser + L"\" " + Utf8ToWide(WAYFARER_HOME_PAGE));
    wchar_t buffer[kCommandLineUnits];
    EXPECT_TRUE(CopyCommandLine(BankSiteCommandLine(), buffer)) << "the deployment's fits";
}

}  // namespace
}  // namespace wayfarer
