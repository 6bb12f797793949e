// The timer: ticks on its own thread's message loop, never while stopped.

#include "controls/timer.h"

#include <gtest/gtest.h>

#include "support/message_pump.h"
#include "support/windows_test.h"

namespace kt::test {
namespace {

using namespace std::chrono_literals;
using TimerTest = WindowsTest;

TEST_F(TimerTest, TicksRepeatedlyOnTheCreatingThreadUntilStopped) {
    SSubTimer timer;
    int ticks = 0;
    DWORD tickThread = 0;
    const auto events = timer.ThatTime.subscribe([&] {
        tickThread = GetCurrentThreadId();
        if (++ticks == 3) timer.Interval(0);
    });
    timer.Interval(10);
    EXPECT_TRUE(pumpUntil([&] { return ticks == 3; }, 2000ms));
    pumpFor(100ms);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(tickThread, GetCurrentThreadId());
}

TEST_F(TimerTest, NoTickArrivesWhileStoppedEvenIfOneWasDue) {
    SSubTimer timer;
    int ticks = 0;
    const auto events = timer.ThatTime.subscribe([&] { ++ticks; });
    timer.Interval(1);
    Sleep(30);  // a tick is due now
    timer.Interval(0);
    pumpFor(100ms);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(timer.Interval(), 0);
}

TEST_F(TimerTest, DroppedSubscriptionHearsNothing) {
    SSubTimer timer;
    int ticks = 0;
    {
        const auto events = timer.ThatTime.subscribe([&] { ++ticks; });
    }
    timer.Interval(5);
    pumpFor(60ms);
    EXPECT_EQ(ticks, 0);
}

}  // namespace
}  // namespace kt::test
