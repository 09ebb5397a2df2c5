#include "app/wayfarer_app.h"

#include <commctrl.h>
#include <ole2.h>

#include "app/startup.h"
#include "app/wayfarer_dlg.h"
#include "app/windows_checks.h"
#include "config/windows_environment.h"

namespace wayfarer {

namespace {

// Restart after a crash, a hang or an update; no recovery, no reopened files.
constexpr DWORD kRestartManagerSupportRestart = 0x01;

// OLE for the thread that hosts the browser engine.
class OleSession {
public:
    OleSession() noexcept : ok_(SUCCEEDED(::OleInitialize(nullptr))) {}
    ~OleSession() {
        if (ok_) {
            ::OleUninitialize();
        }
    }
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;

private:
    bool ok_;
};

}  // namespace

CWayfarerApp::CWayfarerApp() noexcept : restartFlags_(kRestartManagerSupportRestart) {}

void CWayfarerApp::RegisterForRestart() noexcept {
    if ((restartFlags_ & kRestartManagerSupportRestart) != 0) {
        ::RegisterApplicationRestart(nullptr, 0);
    }
}

BOOL CWayfarerApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    RegisterForRestart();

    // Before the lock: the instance that started us with "/update" still
    // holds it until it has ended, which is what deleting its file waits for.
    if (IsUpdateStart(::GetCommandLineW())) {
        RemoveOldExecutable(OldExecutablePath());
    }

    SingleInstance instance = AcquireSingleInstance();
    if (instance.state == InstanceLock::Acquired) {
        SetRegistryKey(L"Orvinta");
        RunMainDialog();
    }
    return FALSE;
}

void CWayfarerApp::RunMainDialog() {
    const OleSession ole;
    WindowsEnvironment environment;
    // The window has nowhere to note a missing operation; such an operation
    // still answers "not in order", never a pass.
    WindowsChecks operations;
    CWayfarerDlg dialog(operations, environment);
    dialog.DoModal();
    // Workers are never stopped or joined, and they hold the dialog and the
    // operations: end the process here, before any of those is destroyed
    // under a worker still running. The system releases the lock.
    ::ExitProcess(0);
}

}  // namespace wayfarer
