#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "diag/stop_watch.h"

using relayon::StopWatch;

namespace {

std::uint32_t now = 0;  // the tick counter of the watch under test, moved by hand
std::uint32_t ticks() { return now; }

}  // namespace

TEST(StopWatch, CountsIn32BitsAcrossTheWrapLeavesStoppedGapsOutAndTakesSetTotals) {
    StopWatch watch(ticks);
    auto at = [&watch](std::uint32_t tick) -> StopWatch& {
        now = tick;
        return watch;
    };
    EXPECT_EQ(at(5000).elapsed(), 0u);  // a new watch stays at zero
    at(0xFFFFFF00u).start();
    EXPECT_EQ(at(0x10).stop(), 272u);
    EXPECT_EQ(at(0x5000).elapsed(), 272u);  // stopped: constant
    at(10000).resume();
    EXPECT_EQ(at(10050).elapsed(), 322u);
    watch.resume();  // a resume while running drops the interval in progress
    EXPECT_EQ(at(10060).elapsed(), 282u);
    at(10070).set(5000);  // a running watch counts on from the value set
    EXPECT_EQ(at(10095).elapsed(), 5025u);
    watch.set(-5);
    EXPECT_EQ(at(10100).elapsed(), 5u);
    watch.start();  // a start begins again from zero
    EXPECT_EQ(at(10110).elapsed(), 10u);
    // The total itself wraps after 2^32 ms.
    at(0).start();
    at(0xFFFFFFF0u).stop();
    at(7).resume();
    EXPECT_EQ(at(7 + 0x20).elapsed(), 0x10u);
    watch.reset();
    EXPECT_EQ(at(20000).elapsed(), 0u);
    watch.set(700);
    EXPECT_EQ(at(30000).elapsed(), 700u);  // a stopped watch keeps the value set
}

TEST(StopWatch, FollowsTheSystemTickCounter) {
    StopWatch watch;
    watch.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(watch.elapsed(), 40u);  // the tick counter may lag by one timer period
    EXPECT_LT(watch.elapsed(), 10000u);
}
