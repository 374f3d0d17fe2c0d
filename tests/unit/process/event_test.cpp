#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "process/event.h"
#include "test_support.h"

using relayon::Event;
using relayon::kInfinite;
using relayon::kWaitTimeout;
using relayon::waitForAny;

TEST(Event, AutoResetLetsOneWaitThroughManualResetStaysSetAndTheLowestIndexWins) {
    Event automatic;
    Event initially(Event::kAutoReset, true);
    Event manual(Event::kManualReset);
    EXPECT_FALSE(automatic.wait(0));
    automatic.set();
    EXPECT_TRUE(automatic.isSet());
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0));
    EXPECT_TRUE(initially.wait(0));

    Event* events[] = {&automatic, &initially, &manual};
    initially.set();
    automatic.set();
    EXPECT_EQ(waitForAny(events, 3, 0), 0);
    EXPECT_EQ(waitForAny(events, 3, 0), 1);
    EXPECT_EQ(waitForAny(events, 3, 0), kWaitTimeout);
    manual.set();
    EXPECT_EQ(waitForAny(events, 3, 0), 2);
    EXPECT_EQ(waitForAny(events, 3, 0), 2);  // a manual-reset event is not taken
    manual.reset();
    EXPECT_FALSE(manual.wait(0));
}

TEST(Event, WaitsTimeOutAfterTheirTimeAndWakeOnASetFromAnotherThread) {
    Event first;
    Event second;
    Event* events[] = {&first, &second};
    relayon::test::StopWatch timeout;
    EXPECT_EQ(waitForAny(events, 2, 200), kWaitTimeout);
    EXPECT_GE(timeout.ms(), 190);
    EXPECT_LT(timeout.ms(), 2000);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        second.set();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        first.set();
    });
    relayon::test::StopWatch woken;
    EXPECT_EQ(waitForAny(events, 2, kInfinite), 1);
    EXPECT_TRUE(first.wait(5000));
    EXPECT_LT(woken.ms(), 2000);
    setter.join();
}
