// The application object: start-up in a fixed order, the single-instance
// lock, the main dialog run modally, and the end of the process.
// Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace wayfarer {

class CWayfarerApp {
public:
    CWayfarerApp() noexcept;

    // Always false: the process ends when it returns. When the dialog has
    // run, the process ends inside it instead (see the definition).
    BOOL InitInstance();

private:
    // Registration with the Restart Manager, as the restart flags ask.
    void RegisterForRestart() noexcept;
    // The settings key's name is kept; nothing is ever stored under it.
    void SetRegistryKey(const wchar_t* name) { registryKey_ = name; }
    void RunMainDialog();

    DWORD restartFlags_ = 0;
    std::wstring registryKey_;
};

}  // namespace wayfarer
