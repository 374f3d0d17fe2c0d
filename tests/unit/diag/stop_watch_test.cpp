#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "diag/stop_watch.h"

using relayon::StopWatch;

namespace {

// A tick counter that the tests move by hand.
std::uint32_t fakeNow = 0;
std::uint32_t fakeTicks() { return fakeNow; }

}  // namespace

TEST(StopWatch, CountsInUnsigned32BitArithmeticAcrossTheWrap) {
    fakeNow = 1234;
    StopWatch watch(fakeTicks);
    fakeNow += 5000;
    EXPECT_EQ(watch.elapsed(), 0u);  // a new watch stays at zero

    fakeNow = 0xFFFFFF00u;
    watch.start();
    fakeNow = 0x10;
    EXPECT_EQ(watch.elapsed(), 0x110u);  // 272 ms across the tick counter's wrap
    EXPECT_EQ(watch.stop(), 0x110u);
    fakeNow = 0x5000;
    EXPECT_EQ(watch.elapsed(), 0x110u);  // stopped: constant
    watch.start();
    EXPECT_EQ(watch.elapsed(), 0u);  // a second start begins again from zero

    // The total itself wraps after 2^32 ms.
    fakeNow = 0;
    watch.start();
    fakeNow = 0xFFFFFFF0u;
    watch.stop();
    fakeNow = 7;
    watch.resume();
    fakeNow = 7 + 0x20;
    EXPECT_EQ(watch.elapsed(), 0x10u);
}

TEST(StopWatch, StopAndResumeLeaveTheGapUncounted) {
    StopWatch watch(fakeTicks);
    fakeNow = 100;
    watch.start();
    fakeNow = 300;
    EXPECT_EQ(watch.stop(), 200u);
    fakeNow = 10000;
    watch.resume();
    fakeNow = 10050;
    EXPECT_EQ(watch.elapsed(), 250u);
    watch.resume();  // a resume while running drops the interval in progress
    fakeNow = 10060;
    EXPECT_EQ(watch.elapsed(), 210u);
    watch.reset();
    fakeNow = 20000;
    EXPECT_EQ(watch.elapsed(), 0u);
}

TEST(StopWatch, SetReplacesTheTotal) {
    StopWatch watch(fakeTicks);
    watch.set(-2147483647 - 1);
    EXPECT_EQ(watch.elapsed(), 0u);
    watch.set(700);
    fakeNow += 5000;
    EXPECT_EQ(watch.elapsed(), 700u);  // a stopped watch keeps the value set

    fakeNow = 8000;
    watch.start();
    fakeNow = 8700;
    watch.set(5000);  // a running watch counts on from the value set
    EXPECT_EQ(watch.elapsed(), 5000u);
    fakeNow = 8725;
    EXPECT_EQ(watch.elapsed(), 5025u);
    watch.set(-5);
    fakeNow = 8730;
    EXPECT_EQ(watch.elapsed(), 5u);
}

TEST(StopWatch, FollowsTheSystemTickCounter) {
    StopWatch watch;
    watch.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    std::uint32_t first = watch.elapsed();
    EXPECT_GE(first, 40u);  // the tick counter may lag by one timer period
    EXPECT_LT(first, 10000u);
}
