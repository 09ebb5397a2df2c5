#include "app/update.h"

#include "common/path.h"

namespace wayfarer {

namespace {

// The new executable goes in at the next start of Windows.
SwapOutcome ReplaceAtReboot(ProgramFiles& files, const std::wstring& target, const std::wstring& download,
                            SwapOutcome outcome) {
    files.ScheduleAtReboot(download, target);
    return outcome;
}

}  // namespace

std::wstring OldProgramPath(const std::wstring& target) { return target + L".old"; }

SwapOutcome SwapProgramFile(ProgramFiles& files, const std::wstring& target, const std::wstring& download) {
    if (!files.Exists(target)) {
        if (!files.Copy(download, target, false)) {
            return SwapOutcome::Missing;
        }
        return files.Delete(download) ? SwapOutcome::Replaced : SwapOutcome::ReplacedDownloadLeft;
    }

    if (files.Delete(target)) {
        // Not the running image after all: nothing to rename aside.
        if (!files.Copy(download, target, false)) {
            // The old file is gone; the new one is all there is to put back.
            if (files.Move(download, target)) {
                return SwapOutcome::Replaced;
            }
            return ReplaceAtReboot(files, target, download, SwapOutcome::Missing);
        }
        if (files.Delete(download)) {
            return SwapOutcome::Replaced;
        }
        return ReplaceAtReboot(files, target, download, SwapOutcome::ReplacedDownloadLeft);
    }

    const std::wstring old = OldProgramPath(target);
    files.Delete(old);  // a leftover of an earlier update
    if (!files.Move(target, old)) {
        return ReplaceAtReboot(files, target, download, SwapOutcome::Unchanged);
    }
    if (!files.Copy(download, target, true)) {
        const SwapOutcome outcome = files.Move(old, target) ? SwapOutcome::Unchanged : SwapOutcome::Missing;
        return ReplaceAtReboot(files, target, download, outcome);
    }
    const bool downloadDeleted = files.Delete(download);
    // Fails while the old process still runs from it, which is the normal
    // case; the restarted instance deletes it as soon as it can.
    if (!files.Delete(old)) {
        files.ScheduleAtReboot(old, std::wstring());
    }
    if (downloadDeleted) {
        return SwapOutcome::Replaced;
    }
    return ReplaceAtReboot(files, target, download, SwapOutcome::ReplacedDownloadLeft);
}

std::wstring RestartCommandLine(const std::wstring& target) {
    if (target.empty() || target.find(L'\0') != std::wstring::npos) {
        return {};
    }
    std::wstring line = L"\"" + target + L"\" /update";
    if (line.size() > path::kMaxUnits) {
        return {};
    }
    return line;
}

}  // namespace wayfarer
