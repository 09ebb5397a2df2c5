// Putting a downloaded executable in place of the running one, and the
// command line that starts it. Portable: the file operations come through
// ProgramFiles, so that every situation of the swap runs on a simulated file
// system in the tests.
#pragma once

#include <string>

namespace wayfarer {

// The file operations of the swap, named after the calls that implement
// them on Windows. Each returns true on success.
class ProgramFiles {
public:
    virtual ~ProgramFiles() = default;
    virtual bool Exists(const std::wstring& path) = 0;
    virtual bool Delete(const std::wstring& path) = 0;
    // Never over an existing file.
    virtual bool Move(const std::wstring& from, const std::wstring& to) = 0;
    virtual bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) = 0;
    // At the next start of Windows: `from` moved over `to` (replacing it), or
    // deleted when `to` is empty. Needs administrator rights; may fail.
    virtual bool ScheduleAtReboot(const std::wstring& from, const std::wstring& to) = 0;
};

enum class SwapOutcome {
    Replaced,              // the target is the new executable, the download is gone
    ReplacedDownloadLeft,  // the target is the new executable, the download stays
    Unchanged,             // the target is still the old executable
    Missing,               // nothing is at the target; the old one stays at target + ".old"
};

// The moved-aside executable: the target followed by ".old".
std::wstring OldProgramPath(const std::wstring& target);

// Puts `download` in place of `target`, the running executable, which
// Windows lets be renamed but not deleted. The normal course: target renamed
// to target.old, the download copied to target and deleted, target.old
// deleted or, while the old process still runs from it, deleted at the next
// start of Windows. Whenever that course breaks off, the download is
// registered to replace the target at the next start of Windows (never the
// reverse), and a target renamed aside is renamed back at once, so the
// application is not left without its executable. Only when that rename
// back fails too is the target missing (Missing): the old executable stays
// as target.old and the download goes in at the next start of Windows.
// A target that does not exist only gets a copy of the download.
SwapOutcome SwapProgramFile(ProgramFiles& files, const std::wstring& target, const std::wstring& download);

// `"target" /update`; empty when the line would not fit the 260-unit buffer
// that starts it (with its terminator), since a cut line would start
// something else.
std::wstring RestartCommandLine(const std::wstring& target);

}  // namespace wayfarer
