#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/resources.h"
#include "platform/system_info.h"
#include "process/server_process.h"
#include "test_support.h"

using relayon::ServerProcess;
using relayon::test::LineCollector;
using relayon::test::testServerCommand;

namespace {

// Ended children and joined threads may take a moment to be gone from the system's lists, so
// a count is taken again for a while until it reaches what is expected.
int settled(int (*count)(), int expected) {
    int now = count();
    for (int i = 0; i < 20 && now != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        now = count();
    }
    return now;
}

// One start, exchange, throttle and stop; a hard stop every other time.
void cycle(ServerProcess& server, int i) {
    ASSERT_NE(server.start(testServerCommand()), 0u) << "cycle " << i;
    LineCollector lines(server.outputReader());
    const std::string line = "cycle " + std::to_string(i) + "\n";
    server.writeInput(line.data(), line.size());
    ASSERT_EQ(lines.next(), "ready");
    ASSERT_EQ(lines.next(), "cycle " + std::to_string(i));
    server.setCpuPower(50);  // a throttle thread comes and goes with each server
    server.stop(i % 2 == 0);
    ASSERT_TRUE(lines.endsWithin(5000));
}

}  // namespace

TEST(ServerProcess, AHundredStartsAndStopsLeaveNoHandleThreadOrChildBehind) {
    ServerProcess server;
    // The first cycle, and counting itself, may open what the process then keeps for good.
    cycle(server, 0);
    relayon::os::openHandleCount();
    relayon::os::threadCount();
    const int handles = relayon::os::openHandleCount();
    const int threads = relayon::os::threadCount();
    EXPECT_EQ(settled(relayon::os::childProcessCount, 0), 0);

    for (int i = 1; i <= 100; ++i) {
        cycle(server, i);
        if (HasFatalFailure()) return;
    }

    EXPECT_EQ(settled(relayon::os::childProcessCount, 0), 0);
    EXPECT_EQ(settled(relayon::os::threadCount, threads), threads);
    if (handles < 0) GTEST_SKIP() << "the system does not count this process's handles";
    if (relayon::os::runningUnderWine()) {
        // Wine opens a few handles of its own at times it chooses; a leak would add one or more
        // per cycle.
        EXPECT_LT(relayon::os::openHandleCount(), handles + 10);
    } else {
        EXPECT_EQ(settled(relayon::os::openHandleCount, handles), handles);
    }
}
