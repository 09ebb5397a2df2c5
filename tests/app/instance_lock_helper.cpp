// Takes the single-instance lock in a process of its own and says, by its
// exit code, what it found: 0 taken, 1 another instance holds it, 2 failed.
//   instance_lock_helper.exe [NAME]
#include <windows.h>
#include <shellapi.h>

#include "app/startup.h"

int main() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const wchar_t* name = wayfarer::kInstanceMutexName;
    if (argv != nullptr && count >= 2) {
        name = argv[1];
    }
    const wayfarer::SingleInstance instance = wayfarer::AcquireSingleInstance(name);
    ::LocalFree(argv);
    switch (instance.state) {
    case wayfarer::InstanceLock::Acquired: return 0;
    case wayfarer::InstanceLock::AlreadyRunning: return 1;
    default: return 2;
    }
}
