#include "app/window_timer.h"

namespace wayfarer {

namespace {

bool OnWindowThread(HWND window) {
    return ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId();
}

}  // namespace

bool ArmWindowTimer(HWND window, UINT_PTR id, UINT delayMs) {
    if (window == nullptr) {
        return false;
    }
    if (OnWindowThread(window)) {
        return ::SetTimer(window, id, delayMs, nullptr) != 0;
    }
    return ::PostMessageW(window, kArmTimerMessage, id, static_cast<LPARAM>(delayMs)) != FALSE;
}

bool KillWindowTimer(HWND window, UINT_PTR id) {
    if (window == nullptr) {
        return false;
    }
    if (OnWindowThread(window)) {
        return ::KillTimer(window, id) != FALSE;
    }
    return ::PostMessageW(window, kKillTimerMessage, id, 0) != FALSE;
}

bool HandleWindowTimerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kArmTimerMessage:
        ::SetTimer(window, wParam, static_cast<UINT>(lParam), nullptr);
        return true;
    case kKillTimerMessage:
        ::KillTimer(window, wParam);
        return true;
    default:
        return false;
    }
}

}  // namespace wayfarer
