// One-shot steps on a window's timer, armed from any thread. SetTimer only
// accepts a window of the calling thread, so an arming from a worker is
// posted to the window and made there. Windows only.
#pragma once

#include <windows.h>

namespace wayfarer {

// Private messages of a window that uses these helpers.
constexpr UINT kArmTimerMessage = WM_APP + 0x101;   // wParam id, lParam delay
constexpr UINT kKillTimerMessage = WM_APP + 0x102;  // wParam id

// Arms (or re-arms, restarting its delay) timer `id` of `window`.
bool ArmWindowTimer(HWND window, UINT_PTR id, UINT delayMs);
bool KillWindowTimer(HWND window, UINT_PTR id);

// For the window procedure: makes a posted arming or kill; true when
// `message` was one of them.
bool HandleWindowTimerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace wayfarer
