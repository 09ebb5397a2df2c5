// Running the installers of the installation queue (and the restarted
// executable after an update). Windows only.
#pragma once

#include <string>

namespace wayfarer {

// Starts `line` (no application name, inherited environment and folder) and,
// with `wait`, waits for it to end; the exit code is not examined. A line
// that does not fit the 260-unit buffer, or holds a NUL, is refused rather
// than cut: false, as for a program that could not be started.
bool RunCommandLine(const std::wstring& line, bool wait);

}  // namespace wayfarer
