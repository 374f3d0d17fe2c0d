#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include "config/settings.h"
#include "platform/priority.h"
#include "platform/system_info.h"
#include "process/server_process.h"
#include "test_support.h"

using relayon::ServerProcess;
using relayon::ThrottleCycle;
using relayon::test::LineCollector;
using relayon::test::StopWatch;
using relayon::test::testServerCommand;
namespace os = relayon::os;

namespace {

std::string cycleOf(double percent) {
    ThrottleCycle cycle = relayon::throttleCycle(percent);
    return std::to_string(cycle.runMs) + "/" + std::to_string(cycle.suspendMs);
}

std::string ask(ServerProcess& server, LineCollector& lines, const std::string& question) {
    const std::string line = question + "\n";
    server.writeInput(line.data(), line.size());
    return lines.next();
}

// The main thread's processor time and the time since start, in ms, as the busy server says.
void cpuTime(ServerProcess& server, LineCollector& lines, long long& cpu, long long& wall) {
    std::istringstream answer(ask(server, lines, "cputime"));
    std::string word;
    answer >> word >> cpu >> wall;
    ASSERT_EQ(word, "cputime");
}

}  // namespace

TEST(Throttle, CycleTableForEveryScale) {
    EXPECT_EQ(cycleOf(50), "250/250");
    EXPECT_EQ(cycleOf(25), "250/750");
    EXPECT_EQ(cycleOf(12.5), "125/875");
    EXPECT_EQ(cycleOf(5), "250/4750");
    EXPECT_EQ(cycleOf(1), "100/9900");
    EXPECT_EQ(cycleOf(0.5), "50/9950");
    EXPECT_EQ(cycleOf(99.9), "499/1");
    EXPECT_EQ(cycleOf(0.001), "1/9999");
    EXPECT_EQ(cycleOf(26), "130/370");
    EXPECT_EQ(cycleOf(10), "500/4500");
    // No throttling at all.
    EXPECT_EQ(cycleOf(100), "0/0");
    EXPECT_EQ(cycleOf(150), "0/0");
    EXPECT_EQ(cycleOf(0), "0/0");
    EXPECT_EQ(cycleOf(-3), "0/0");
    EXPECT_EQ(cycleOf(std::numeric_limits<double>::quiet_NaN()), "0/0");
}

TEST(Throttle, SetCpuPowerStartsRetunesAndEndsTheThrottle) {
    ServerProcess server;
    for (double off : {100.0, 150.0, 0.0}) {
        server.setCpuPower(off);
        EXPECT_FALSE(server.throttling()) << off;
    }
    server.setCpuPower(50);
    EXPECT_TRUE(server.throttling());
    EXPECT_EQ(server.runMs(), 250);
    EXPECT_EQ(server.suspendMs(), 250);
    server.setCpuPower(25);
    EXPECT_EQ(server.runMs(), 250);
    EXPECT_EQ(server.suspendMs(), 750);
    server.setCpuPower(100);
    EXPECT_FALSE(server.throttling());
    EXPECT_EQ(server.suspendMs(), 0);
}

TEST(Throttle, ABusyServerAtHalfPowerGetsAboutHalfACoreAndRunsAgainAfterStop) {
    ServerProcess server;
    ASSERT_NE(server.start(testServerCommand("busy linger 2")), 0u);
    LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");

    // Unthrottled share first: on a loaded machine the server gets less than a whole core.
    long long cpu0, wall0, cpu1, wall1, cpu2, wall2;
    cpuTime(server, lines, cpu0, wall0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    cpuTime(server, lines, cpu1, wall1);
    const double full = double(cpu1 - cpu0) / double(wall1 - wall0);
    ASSERT_GT(full, 0.2) << "the machine is too busy to measure a share";

    server.setCpuPower(50);
    cpuTime(server, lines, cpu1, wall1);
    std::this_thread::sleep_for(std::chrono::milliseconds(4000));
    cpuTime(server, lines, cpu2, wall2);
    const double share = double(cpu2 - cpu1) / double(wall2 - wall1) / (full > 1 ? 1 : full);
    RecordProperty("unthrottled_share_percent", static_cast<int>(full * 100));
    RecordProperty("throttled_share_percent", static_cast<int>(share * 100));
    EXPECT_GT(share, 0.35);
    EXPECT_LT(share, 0.65);

    // Stopping resumes it: it ends 2 s after the end of its input, within the stop's wait.
    StopWatch watch;
    server.stop(false);
    EXPECT_LT(watch.ms(), 4500);
    EXPECT_TRUE(lines.endsWithin(5000));
}

TEST(Priority, ReportTexts) {
    EXPECT_EQ(relayon::priorityClassReport(32), "Priority class set to normal\n");
    EXPECT_EQ(relayon::priorityClassReport(64), "Priority class set to idle\n");
    EXPECT_EQ(relayon::priorityClassReport(128), "Priority class set to high\n");
    EXPECT_EQ(relayon::priorityClassReport(256), "Priority class set to realtime\n");
    EXPECT_EQ(relayon::priorityClassReport(16384), "Priority class set to below\n");
    EXPECT_EQ(relayon::priorityClassReport(32768), "Priority class set to above\n");
    EXPECT_EQ(relayon::priorityClassReport(999), "Priority class set to 999\n");
    EXPECT_EQ(relayon::priorityClassReport(4294967295u), "Priority class set to 4294967295\n");

    EXPECT_EQ(relayon::threadPriorityReport(0), "Thread priority set to normal\n");
    EXPECT_EQ(relayon::threadPriorityReport(1), "Thread priority set to above normal\n");
    EXPECT_EQ(relayon::threadPriorityReport(2), "Thread priority set to highest\n");
    EXPECT_EQ(relayon::threadPriorityReport(15), "Thread priority set to timecritical\n");
    EXPECT_EQ(relayon::threadPriorityReport(-15), "Thread priority set to idle\n");
    EXPECT_EQ(relayon::threadPriorityReport(-2), "Thread priority set to lowest\n");
    EXPECT_EQ(relayon::threadPriorityReport(-1), "Thread priority set to below normal\n");
    EXPECT_EQ(relayon::threadPriorityReport(3), "Thread priority set to 3\n");
    EXPECT_EQ(relayon::threadPriorityReport(-7), "Thread priority set to -7\n");
}

TEST(Priority, TheServerRunsAtTheAppliedPrioritiesAndARestartKeepsThem) {
    ServerProcess server;
    EXPECT_EQ(server.priorityClass(), os::currentPriorityClass());
    EXPECT_EQ(server.threadPriority(), os::currentThreadPriority());

    ASSERT_NE(server.start(testServerCommand()), 0u);
    {
        LineCollector lines(server.outputReader());
        ASSERT_EQ(lines.next(), "ready");
        server.applyPriorityClass(os::kBelowNormalPriorityClass);
        server.applyThreadPriority(os::kThreadPriorityLowest);
        server.applyBoost(false);
        EXPECT_EQ(ask(server, lines, "priority"), "priority 16384 -2");
        server.stop(false);
    }
    EXPECT_EQ(server.priorityClass(), os::kBelowNormalPriorityClass);
    EXPECT_EQ(server.threadPriority(), os::kThreadPriorityLowest);
    EXPECT_FALSE(server.boost());

    if (os::runningUnderWine()) {
        GTEST_SKIP() << "Wine ignores the priority class given at process creation";
    }
    ASSERT_NE(server.start(testServerCommand()), 0u);
    LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");
    EXPECT_EQ(ask(server, lines, "priority"), "priority 16384 -2");
    server.stop(false);
}

TEST(Priority, FollowOwnPrioritiesCopiesOnlyWhatWasNotRequested) {
    ServerProcess server;
    const unsigned ownClass = os::currentPriorityClass();
    const int ownThread = os::currentThreadPriority();
    const unsigned otherClass = ownClass == os::kIdlePriorityClass ? os::kNormalPriorityClass : os::kIdlePriorityClass;
    const int otherThread = ownThread == os::kThreadPriorityIdle ? os::kThreadPriorityNormal : os::kThreadPriorityIdle;

    server.applyPriorityClass(otherClass);
    server.applyThreadPriority(otherThread);
    server.followOwnPriorities(os::kHighPriorityClass, os::kThreadPriorityHighest, 0);  // both requested
    EXPECT_EQ(server.priorityClass(), otherClass);
    EXPECT_EQ(server.threadPriority(), otherThread);

    server.followOwnPriorities(relayon::kPriorityNotSet, os::kThreadPriorityHighest, 0);
    EXPECT_EQ(server.priorityClass(), ownClass);
    EXPECT_EQ(server.threadPriority(), otherThread);

    server.followOwnPriorities(relayon::kPriorityNotSet, relayon::kPriorityNotSet, 0);
    EXPECT_EQ(server.threadPriority(), ownThread);
}
