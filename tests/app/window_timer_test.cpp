// Steps armed on a window's timer from a worker thread, as the configuration,
// update, probe and install workers do.
#include "app/window_timer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace wayfarer {
namespace {

constexpr UINT_PTR kBackstop = 99;  // ends a test that would otherwise hang

LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (HandleWindowTimerMessage(window, message, wParam, lParam)) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class WindowTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &TimerWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"WayfarerTimerTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"WayfarerTimerTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        SetTimer(window, kBackstop, 60000, nullptr);
    }
    void TearDown() override { DestroyWindow(window); }

    // Pumps the window's messages until a WM_TIMER arrives; its id.
    UINT_PTR NextTimer() {
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_TIMER && message.hwnd == window) {
                KillTimer(window, message.wParam);  // one-shot, as the steps are
                return message.wParam;
            }
            DispatchMessageW(&message);
        }
        return 0;
    }

    HWND window = nullptr;
};

TEST_F(WindowTimerTest, ArmingFromAWorkerReachesTheWindow) {
    bool armed = false;
    std::thread worker([&] { armed = ArmWindowTimer(window, 6, 0); });
    worker.join();
    EXPECT_TRUE(armed);
    EXPECT_EQ(NextTimer(), 6u);
}

TEST_F(WindowTimerTest, AWorkerCannotSetTheWindowsTimerDirectly) {
    UINT_PTR direct = 1;
    std::thread worker([&] { direct = SetTimer(window, 7, 0, nullptr); });
    worker.join();
    if (direct != 0) {
        GTEST_SKIP() << "this system lets a thread set another thread's window timer";
    }
    EXPECT_EQ(direct, 0u) << "which is why a worker's arming is posted to the window";
}

TEST_F(WindowTimerTest, KillFromAWorkerIsMadeBeforeLaterTimers) {
    ASSERT_TRUE(ArmWindowTimer(window, 5, 50000));
    std::thread worker([&] { KillWindowTimer(window, 5); });
    worker.join();
    ASSERT_TRUE(ArmWindowTimer(window, 4, 0));
    EXPECT_EQ(NextTimer(), 4u);
    EXPECT_FALSE(KillTimer(window, 5)) << "timer 5 was already killed by the worker";
}

TEST_F(WindowTimerTest, ReArmingRestartsTheDelay) {
    ASSERT_TRUE(ArmWindowTimer(window, 3, 50000));
    ASSERT_TRUE(ArmWindowTimer(window, 3, 0));
    EXPECT_EQ(NextTimer(), 3u) << "the second arming replaced the long delay";
}

}  // namespace
}  // namespace wayfarer
