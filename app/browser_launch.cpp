#include "app/browser_launch.h"

#include <cwchar>

#include "common/handles.h"
#include "common/os_version.h"
#include "common/text.h"

namespace wayfarer {

namespace {

constexpr DWORD kPrimaryTokenAccess = TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE |
                                      TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

bool BeforeVista() { return ReportedOsMajorVersion() < 6; }

// SeIncreaseQuotaPrivilege, which CreateProcessWithTokenW needs; a privilege
// the account does not hold counts as a failure.
bool EnableIncreaseQuotaPrivilege() {
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        return false;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, SE_INCREASE_QUOTA_NAME,
                                 &privileges.Privileges[0].Luid)) {
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return ::GetLastError() == ERROR_SUCCESS;
}

}  // namespace

bool CopyCommandLine(std::wstring_view commandLine, wchar_t (&buffer)[kCommandLineUnits]) {
    buffer[0] = L'\0';
    if (commandLine.empty() || commandLine.size() >= kCommandLineUnits ||
        commandLine.find(L'\0') != std::wstring_view::npos) {
        return false;
    }
    std::wmemcpy(buffer, commandLine.data(), commandLine.size());
    buffer[commandLine.size()] = L'\0';
    return true;
}

std::wstring BankSiteCommandLine() {
    const std::wstring browser = ExpandPath(L"%ProgramFiles%\\Internet Explorer\\iexplore.exe");
    if (browser.empty()) {
        return {};
    }
    return L"\"" + browser + L"\" " + Utf8ToWide(WAYFARER_HOME_PAGE);
}

bool LaunchPlain(std::wstring_view commandLine) {
    wchar_t buffer[kCommandLineUnits];
    if (!CopyCommandLine(commandLine, buffer)) {
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return false;
    }
    const unique_handle processHandle(process.hProcess);
    const unique_handle threadHandle(process.hThread);
    return true;
}

bool LaunchWithShellToken(std::wstring_view commandLine) {
    wchar_t buffer[kCommandLineUnits];
    if (!CopyCommandLine(commandLine, buffer)) {
        return false;
    }
    if (!EnableIncreaseQuotaPrivilege()) {
        return false;
    }
    const HWND shell = ::GetShellWindow();
    if (shell == nullptr) {
        return false;
    }
    DWORD shellProcessId = 0;
    ::GetWindowThreadProcessId(shell, &shellProcessId);
    if (shellProcessId == 0) {
        return false;
    }
    const unique_handle shellProcess(
        ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
    if (!shellProcess) {
        return false;
    }
    unique_handle shellToken;
    if (!::OpenProcessToken(shellProcess.get(), TOKEN_DUPLICATE, &shellToken)) {
        return false;
    }
    unique_handle primaryToken;
    if (!::DuplicateTokenEx(shellToken.get(), kPrimaryTokenAccess, nullptr, SecurityImpersonation,
                            TokenPrimary, &primaryToken)) {
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessWithTokenW(primaryToken.get(), 0, nullptr, buffer, 0, nullptr, nullptr,
                                   &startup, &process)) {
        return false;
    }
    const unique_handle processHandle(process.hProcess);
    const unique_handle threadHandle(process.hThread);
    return true;
}

bool LaunchAsShellUser(std::wstring_view commandLine) {
    return BeforeVista() ? LaunchPlain(commandLine) : LaunchWithShellToken(commandLine);
}

HRESULT OpenBankSite() {
    // Nothing is shown when the browser does not start.
    LaunchAsShellUser(BankSiteCommandLine());
    return S_OK;
}

}  // namespace wayfarer
