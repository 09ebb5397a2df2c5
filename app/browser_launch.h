// Starts Internet Explorer with the bank's home page, under the desktop
// user's token so that the browser does not inherit our elevation.
// Windows only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace wayfarer {

// The units a command line may take, its terminating zero included.
constexpr size_t kCommandLineUnits = 260;

// Copies `commandLine` into the writable buffer the process calls need.
// False, with the buffer emptied, when it is empty or does not fit whole: a
// cut command line could start something else than was meant.
bool CopyCommandLine(std::wstring_view commandLine, wchar_t (&buffer)[kCommandLineUnits]);

// "\"<expanded iexplore.exe path>\" <home page>"; empty when the path
// cannot be expanded.
std::wstring BankSiteCommandLine();

// Windows before Vista: a plain process. Vista and later: the process gets a
// duplicate of the desktop shell's token; no shell window, no process.
bool LaunchAsShellUser(std::wstring_view commandLine);
bool LaunchPlain(std::wstring_view commandLine);
bool LaunchWithShellToken(std::wstring_view commandLine);

// The click on the page's "登录" link. Silent whatever happens.
HRESULT OpenBankSite();

}  // namespace wayfarer
