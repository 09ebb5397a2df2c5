// The start-up decisions of wayfarer.exe that come before the window: the
// "/update" argument, the moved-aside ".old" executable, and the
// single-instance lock. Windows only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "common/handles.h"

namespace wayfarer {

// The lock's name; in the logon session's namespace, not the global one.
inline constexpr const wchar_t* kInstanceMutexName = L"{AB553B62-906D-45F5-BC1B-8A892C1EB794}";

// True when the first argument after the program's name is exactly
// "/update". A command line that cannot be split has no arguments.
bool IsUpdateStart(const wchar_t* commandLine);

// The running executable's full path with ".old" appended; empty when the
// module path does not fit its buffer.
std::wstring OldExecutablePath();

enum class OldFileOutcome {
    Absent,             // nothing to wait for
    Deleted,            // deleted, perhaps after the previous instance ended
    ScheduledAtReboot,  // never deletable in time; removed at the next boot
    Left,               // could not even be scheduled; start-up goes on anyway
};

// Deletes the previous executable, which stays mapped (so undeletable) until
// the previous instance has exited. Tries `attempts` times with `pause`
// between tries, then gives up on waiting: a file that is read-only or held
// open elsewhere must not keep the new instance waiting forever.
OldFileOutcome RemoveOldExecutable(const std::wstring& path, unsigned attempts,
                                   const std::function<void()>& pause);

// 300 tries 100 ms apart: the previous instance has 30 s to end.
OldFileOutcome RemoveOldExecutable(const std::wstring& path);

enum class InstanceLock { Acquired, AlreadyRunning, Failed };

struct SingleInstance {
    InstanceLock state = InstanceLock::Failed;
    unique_handle mutex;  // held while the instance runs; empty unless Acquired
};

// Creates the named mutex, initially owned.
SingleInstance AcquireSingleInstance(const wchar_t* name = kInstanceMutexName);

}  // namespace wayfarer
