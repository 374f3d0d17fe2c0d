#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/path.h"
#include "probes.h"
#include "platform/signals.h"
#include "process/server_process.h"
#include "test_support.h"
#include "../diag/temp_dir.h"

using relayon::test::LineCollector;
using relayon::test::ServerTest;
using relayon::test::StopWatch;
using relayon::test::testServerCommand;
namespace fs = std::filesystem;

// The tests start the test server, some of them as a copy named "srv" (without the platform's
// suffix) in a folder whose name holds blanks.
class ServerProcess : public ServerTest {
protected:
    void SetUp() override {
        std::error_code error;
        fs::copy_file(relayon::test::testServerPath(), dir.path() / ("srv" + suffix), error);
        ASSERT_FALSE(error) << error.message();
        ASSERT_TRUE(relayon::os::fullPath(dir.path().string(), folder));
        folder += static_cast<char>(fs::path::preferred_separator);
    }
    relayon::test::TempDir dir{"relayon server dir "};
    const std::string suffix = relayon::os::executableSuffix();
    std::string folder;  // with its final separator
};

TEST_F(ServerProcess, FindsItsProgramByCuttingArgumentsAtBlanks) {
    std::string directory;
    EXPECT_TRUE(relayon::resolveServerDirectory(folder + "srv -p  5\tx", directory));
    EXPECT_EQ(directory, folder);
    EXPECT_TRUE(relayon::resolveServerDirectory(folder + "srv", directory));
    EXPECT_EQ(directory, folder);
    relayon::ServerProgram program;
    ASSERT_TRUE(relayon::findServerProgram(folder + "srv one \"two three\"", program));
    EXPECT_EQ(program.arguments, "one \"two three\"");
    EXPECT_TRUE(fs::equivalent(program.path, dir.path() / ("srv" + suffix)));
    // Only blanks and control characters cut: a name continuing past the file's is not it.
    EXPECT_FALSE(relayon::resolveServerDirectory(folder + "srvx -p", directory));
    EXPECT_EQ(directory, "");
    EXPECT_FALSE(relayon::resolveServerDirectory(folder + "missing srv", directory));
}

TEST_F(ServerProcess, RunsInItsDirectoryWithStandardErrorOnTheOutputPipe) {
    const std::uint32_t id = server.start(folder + "srv cwd stderr early");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(server.processId(), id);
    EXPECT_TRUE(server.running());
    lines = std::make_unique<LineCollector>(server.outputReader());
    const std::string cwd = lines->next();
    ASSERT_EQ(cwd.compare(0, 4, "cwd "), 0) << cwd;
    EXPECT_TRUE(fs::equivalent(cwd.substr(4), dir.path())) << cwd;
    EXPECT_EQ(lines->next(), "early");
    EXPECT_EQ(lines->next(), "ready");
    EXPECT_EQ(ask("stderr later"), "later");
    EXPECT_EQ(ask("hello server\r"), "hello server");
    // On Windows the system opens handles of its own in every process.
    if (suffix.empty()) {
        EXPECT_EQ(ask("handles"), "handles 3");
    }

    StopWatch watch;
    server.stop(false);  // the server ends at the end of its input: no waiting
    EXPECT_LT(watch.ms(), 4000);
    EXPECT_TRUE(lines->endsWithin(5000));
    EXPECT_FALSE(server.running());
    EXPECT_EQ(server.outputReader(), nullptr);
    EXPECT_FALSE(server.writeInput("x\n", 2));
    server.stop(false);  // nothing left to stop
}

TEST_F(ServerProcess, RefusedStartsReturnZeroAndLeaveNothingOpen) {
    ASSERT_NO_FATAL_FAILURE(start());  // whatever the first start opens for good
    server.stop(true);
    lines.reset();
    const int handles = relayon::test::openHandleCount();
    const int threads = relayon::test::threadCount();
    EXPECT_EQ(server.start(folder + "no such program arg"), 0u);
    EXPECT_EQ(server.start("relayon-no-such-program-anywhere"), 0u);
    EXPECT_EQ(server.processId(), 0u);
    // 260 characters and more are refused before anything is made; 259 still start.
    const std::string base = testServerCommand("exit 0 ");
    ASSERT_LT(base.size(), 259u);
    const std::string at259 = base + std::string(259 - base.size(), 'x');
    EXPECT_EQ(server.start(at259 + "x"), 0u);
    EXPECT_FALSE(server.running());
    server.stop(false);
    EXPECT_EQ(relayon::test::openHandleCount(), handles);
    EXPECT_EQ(relayon::test::threadCount(), threads);

    ASSERT_NE(server.start(at259), 0u);
    // A second start over a running server is refused and leaves the first one alone.
    EXPECT_EQ(server.start(testServerCommand()), 0u);
    EXPECT_TRUE(server.running());
    EXPECT_EQ(LineCollector(server.outputReader()).next(), "ready");
}

TEST_F(ServerProcess, SoftStopWaitsFiveSecondsAndLeavesAServerThatIgnoresItsInputEnd) {
    ASSERT_NO_FATAL_FAILURE(start("linger 8"));
    StopWatch watch;
    server.stop(false);
    EXPECT_GE(watch.ms(), 4900);
    EXPECT_LT(watch.ms(), 7000);
    EXPECT_FALSE(server.running());
    // Still running without Relayon's pipes: its output ends only when it ends by itself.
    EXPECT_FALSE(lines->endsWithin(0));
    EXPECT_TRUE(lines->endsWithin(15000));
    EXPECT_GE(watch.ms(), 7500);
}

TEST_F(ServerProcess, HardStopKillsAServerThatDoesNotEndWithinFiveSeconds) {
    ASSERT_NO_FATAL_FAILURE(start("linger 60"));
    StopWatch watch;
    server.stop(true);
    EXPECT_GE(watch.ms(), 4900);
    EXPECT_LT(watch.ms(), 8000);
    EXPECT_TRUE(lines->endsWithin(3000));  // killed, so its output pipe ends
}

TEST_F(ServerProcess, ControlEventsGoOnlyToAServerStillHeld) {
    EXPECT_FALSE(server.sendControlEvent(relayon::os::kCtrlCEvent));  // none started yet
    ASSERT_NO_FATAL_FAILURE(start("signals"));
    if (!relayon::test::runningUnderWine()) {  // WINE: no control events for processes on pipes
        EXPECT_TRUE(server.sendControlEvent(relayon::os::kCtrlCEvent));
        EXPECT_EQ(lines->next(), "control 0");
    }
    server.stop(true);
    EXPECT_NE(server.processId(), 0u);
    EXPECT_FALSE(server.sendControlEvent(relayon::os::kCtrlCEvent));  // its id may be reused
}

TEST_F(ServerProcess, WritesMeetingAStopFailCleanly) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        while (!done) failures += server.writeInput("x\n", 2) ? 0 : 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.stop(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = true;
    writer.join();
    EXPECT_GT(failures.load(), 0);
    EXPECT_TRUE(lines->endsWithin(10000));
}

TEST_F(ServerProcess, ReleaseForExitContinuesTheServerAndEndsItsInput) {
    ASSERT_NO_FATAL_FAILURE(start());
    server.suspendServer();
    server.releaseForExit();
    server.suspendServer();  // the throttle's next suspension does nothing now
    EXPECT_TRUE(lines->endsWithin(5000));  // it runs and sees the end of its input
}
