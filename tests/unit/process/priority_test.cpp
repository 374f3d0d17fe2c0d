#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include "config/settings.h"
#include "platform/priority.h"
#include "probes.h"
#include "process/server_process.h"
#include "test_support.h"

using relayon::test::ServerTest;
using relayon::test::StopWatch;
namespace os = relayon::os;

using Throttle = ServerTest;
using Priority = ServerTest;

TEST_F(Throttle, CycleTableForEveryScale) {
    const struct {
        double percent;
        int runMs, suspendMs;
    } cases[] = {{50, 250, 250},  {25, 250, 750}, {12.5, 125, 875}, {5, 250, 4750}, {1, 100, 9900},
                 {0.5, 50, 9950}, {99.9, 499, 1}, {0.001, 1, 9999}, {26, 130, 370}, {10, 500, 4500},
                 // no throttling at all
                 {100, 0, 0}, {150, 0, 0}, {0, 0, 0}, {-3, 0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(relayon::throttleCycle(c.percent).runMs, c.runMs) << c.percent;
        EXPECT_EQ(relayon::throttleCycle(c.percent).suspendMs, c.suspendMs) << c.percent;
    }
}

TEST_F(Throttle, SetCpuPowerStartsRetunesAndEndsTheThrottle) {
    for (double off : {100.0, 150.0, 0.0}) {
        server.setCpuPower(off);
        EXPECT_FALSE(server.throttling()) << off;
    }
    server.setCpuPower(50);
    EXPECT_TRUE(server.throttling());
    EXPECT_EQ(server.runMs(), 250);
    EXPECT_EQ(server.suspendMs(), 250);
    server.setCpuPower(25);
    EXPECT_EQ(server.suspendMs(), 750);
    server.setCpuPower(100);
    EXPECT_FALSE(server.throttling());
    EXPECT_EQ(server.suspendMs(), 0);
}

TEST_F(Throttle, ABusyServerAtHalfPowerGetsAboutHalfACoreAndRunsAgainAfterStop) {
    ASSERT_NO_FATAL_FAILURE(start("busy linger 2"));
    // The share of a core that the server's main thread gets over the next ms milliseconds, from
    // its processor time and the time since its start as it reports them.
    auto share = [this](int ms) {
        long long cpu0 = 0, wall0 = 0, cpu1 = 0, wall1 = 0;
        std::string word;
        std::istringstream(ask("cputime")) >> word >> cpu0 >> wall0;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::istringstream(ask("cputime")) >> word >> cpu1 >> wall1;
        return double(cpu1 - cpu0) / double(wall1 - wall0);
    };
    const double full = share(1000);  // on a loaded machine, less than a whole core
    ASSERT_GT(full, 0.2) << "the machine is too busy to measure a share";
    server.setCpuPower(50);
    // Measured beside other work, so the bounds only tell a throttle that works (about half)
    // from one that never suspends (about 1) or never resumes (about 0).
    const double half = share(4000) / std::min(full, 1.0);
    EXPECT_GT(half, 0.2) << "unthrottled share " << full;
    EXPECT_LT(half, 0.8) << "unthrottled share " << full;

    // Stopping resumes it: it ends 2 s after the end of its input, within the stop's wait. The
    // answer above came in a run period (natively the whole server is suspended); stop in the
    // suspended period after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(375));
    StopWatch watch;
    server.stop(false);
    EXPECT_LT(watch.ms(), 4500);
    EXPECT_TRUE(lines->endsWithin(5000));
}

TEST_F(Priority, TheServerRunsAtTheAppliedPrioritiesAndARestartKeepsThem) {
    EXPECT_EQ(server.priorityClass(), os::currentPriorityClass());
    EXPECT_EQ(server.threadPriority(), os::currentThreadPriority());
    ASSERT_NO_FATAL_FAILURE(start());
    server.applyPriorityClass(os::kBelowNormalPriorityClass);
    server.applyThreadPriority(os::kThreadPriorityLowest);
    server.applyBoost(false);
    EXPECT_EQ(ask("priority"), "priority 16384 -2");
    // What the system refuses is not stored: a level outside the class's range (-7 to 6 are
    // for realtime only), a class that does not exist.
    server.applyThreadPriority(6);
    server.applyPriorityClass(12345);
    EXPECT_EQ(ask("priority"), "priority 16384 -2");
    server.stop(false);
    EXPECT_EQ(server.priorityClass(), os::kBelowNormalPriorityClass);
    EXPECT_EQ(server.threadPriority(), os::kThreadPriorityLowest);
    EXPECT_FALSE(server.boost());

    if (relayon::test::runningUnderWine()) GTEST_SKIP() << "Wine ignores the priority class given at process creation";
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(ask("priority"), "priority 16384 -2");
}

TEST_F(Priority, FollowOwnPrioritiesCopiesOnlyWhatWasNotRequested) {
    const unsigned ownClass = os::currentPriorityClass();
    const int ownThread = os::currentThreadPriority();
    const unsigned otherClass = ownClass == os::kIdlePriorityClass ? os::kNormalPriorityClass : os::kIdlePriorityClass;
    const int otherThread = ownThread == os::kThreadPriorityIdle ? os::kThreadPriorityNormal : os::kThreadPriorityIdle;
    server.applyPriorityClass(otherClass);
    server.applyThreadPriority(otherThread);
    server.followOwnPriorities(os::kHighPriorityClass, os::kThreadPriorityHighest);  // both requested
    EXPECT_EQ(server.priorityClass(), otherClass);
    EXPECT_EQ(server.threadPriority(), otherThread);
    server.followOwnPriorities(relayon::kPriorityNotSet, os::kThreadPriorityHighest);
    EXPECT_EQ(server.priorityClass(), ownClass);
    EXPECT_EQ(server.threadPriority(), otherThread);
    server.followOwnPriorities(relayon::kPriorityNotSet, relayon::kPriorityNotSet);
    EXPECT_EQ(server.threadPriority(), ownThread);
}
