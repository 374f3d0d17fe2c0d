#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "diag/stop_watch.h"

using relayon::StopWatch;

// A watch on a tick counter that the tests move by hand.
class StopWatchTest : public ::testing::Test {
protected:
    static std::uint32_t ticks() { return now; }
    StopWatch& at(std::uint32_t tick) {
        now = tick;
        return watch;
    }
    static inline std::uint32_t now = 0;
    StopWatch watch{ticks};
};

TEST_F(StopWatchTest, CountsInUnsigned32BitArithmeticAcrossTheWrap) {
    EXPECT_EQ(at(5000).elapsed(), 0u);  // a new watch stays at zero
    at(0xFFFFFF00u).start();
    EXPECT_EQ(at(0x10).elapsed(), 272u);
    EXPECT_EQ(watch.stop(), 272u);
    EXPECT_EQ(at(0x5000).elapsed(), 272u);  // stopped: constant
    watch.start();
    EXPECT_EQ(watch.elapsed(), 0u);  // a second start begins again from zero
    // The total itself wraps after 2^32 ms.
    at(0).start();
    at(0xFFFFFFF0u).stop();
    at(7).resume();
    EXPECT_EQ(at(7 + 0x20).elapsed(), 0x10u);
}

TEST_F(StopWatchTest, StopAndResumeLeaveTheGapUncounted) {
    at(100).start();
    EXPECT_EQ(at(300).stop(), 200u);
    at(10000).resume();
    EXPECT_EQ(at(10050).elapsed(), 250u);
    watch.resume();  // a resume while running drops the interval in progress
    EXPECT_EQ(at(10060).elapsed(), 210u);
    watch.reset();
    EXPECT_EQ(at(20000).elapsed(), 0u);
}

TEST_F(StopWatchTest, SetReplacesTheTotal) {
    watch.set(-2147483647 - 1);
    EXPECT_EQ(watch.elapsed(), 0u);
    watch.set(700);
    EXPECT_EQ(at(now + 5000).elapsed(), 700u);  // a stopped watch keeps the value set
    at(8000).start();
    at(8700).set(5000);  // a running watch counts on from the value set
    EXPECT_EQ(at(8725).elapsed(), 5025u);
    watch.set(-5);
    EXPECT_EQ(at(8730).elapsed(), 5u);
}

TEST(StopWatch, FollowsTheSystemTickCounter) {
    StopWatch watch;
    watch.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(watch.elapsed(), 40u);  // the tick counter may lag by one timer period
    EXPECT_LT(watch.elapsed(), 10000u);
}
