#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/path.h"
#include "platform/resources.h"
#include "platform/system_info.h"
#include "process/server_process.h"
#include "test_support.h"

using relayon::ServerProcess;
using relayon::test::LineCollector;
using relayon::test::StopWatch;
using relayon::test::TempDir;
using relayon::test::testServerCommand;
namespace fs = std::filesystem;

namespace {

// A copy of the test server as "srv" (plus the platform's suffix) in a folder whose name holds
// blanks.
struct ServerCopy {
    TempDir dir{"relayon server dir "};
    std::string folder;  // with its final separator
    std::string command;  // the program without its suffix

    ServerCopy() {
        std::error_code error;
        fs::copy_file(relayon::test::testServerPath(),
                      dir.path() / (std::string("srv") + relayon::os::executableSuffix()), error);
        EXPECT_FALSE(error) << error.message();
        std::string full;
        EXPECT_TRUE(relayon::os::fullPath(dir.path().string(), full));
        folder = full + (fs::path::preferred_separator == '\\' ? "\\" : "/");
        command = folder + "srv";
    }
};

}  // namespace

TEST(ServerProcess, FindsItsProgramByCuttingArgumentsAtBlanks) {
    ServerCopy copy;
    std::string directory;
    EXPECT_TRUE(relayon::resolveServerDirectory(copy.command + " -p  5\tx", directory));
    EXPECT_EQ(directory, copy.folder);
    EXPECT_TRUE(relayon::resolveServerDirectory(copy.command, directory));
    EXPECT_EQ(directory, copy.folder);

    relayon::ServerProgram program;
    ASSERT_TRUE(relayon::findServerProgram(copy.command + " one \"two three\"", program));
    EXPECT_EQ(program.arguments, "one \"two three\"");
    const fs::path file = copy.dir.path() / (std::string("srv") + relayon::os::executableSuffix());
    EXPECT_TRUE(fs::equivalent(program.path, file));

    // Only blanks and control characters cut: a name continuing past the file's is not it.
    EXPECT_FALSE(relayon::resolveServerDirectory(copy.command + "x -p", directory));
    EXPECT_EQ(directory, "");
    EXPECT_FALSE(relayon::resolveServerDirectory(copy.folder + "missing srv", directory));
}

TEST(ServerProcess, RunsInItsExecutablesDirectoryAndRelaysBothWays) {
    ServerCopy copy;
    ServerProcess server;
    const std::uint32_t id = server.start(copy.command + " cwd");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(server.processId(), id);
    EXPECT_TRUE(server.running());

    LineCollector lines(server.outputReader());
    std::string cwd = lines.next();
    ASSERT_EQ(cwd.compare(0, 4, "cwd "), 0) << cwd;
    EXPECT_TRUE(fs::equivalent(cwd.substr(4), copy.dir.path())) << cwd;
    EXPECT_EQ(lines.next(), "ready");

    const std::string hello = "hello server\r\n";
    EXPECT_TRUE(server.writeInput(hello.data(), hello.size()));
    EXPECT_EQ(lines.next(), "hello server");

    // The server ends at the end of its input, so a soft stop is quick.
    StopWatch watch;
    server.stop(false);
    EXPECT_LT(watch.ms(), 4000);
    EXPECT_TRUE(lines.endsWithin(5000));
    EXPECT_FALSE(server.running());
    EXPECT_EQ(server.processId(), id);  // kept after the stop
    EXPECT_EQ(server.outputReader(), nullptr);
    EXPECT_FALSE(server.writeInput(hello.data(), hello.size()));
    server.stop(false);  // nothing left to stop
}

TEST(ServerProcess, TheServerInheritsOnlyItsThreeStandardHandles) {
    if (relayon::os::platformName() == "win32") {
        GTEST_SKIP() << "a Windows process's own handle count includes what the system opens for it";
    }
    ServerProcess server;
    ASSERT_NE(server.start(testServerCommand()), 0u);
    LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");
    const std::string line = "handles\n";
    server.writeInput(line.data(), line.size());
    EXPECT_EQ(lines.next(), "handles 3");
    server.stop(false);
}

TEST(ServerProcess, StandardErrorArrivesOnTheOutputPipe) {
    ServerProcess server;
    ASSERT_NE(server.start(testServerCommand("stderr early")), 0u);
    LineCollector lines(server.outputReader());
    EXPECT_EQ(lines.next(), "early");
    EXPECT_EQ(lines.next(), "ready");
    const std::string line = "stderr later\n";
    server.writeInput(line.data(), line.size());
    EXPECT_EQ(lines.next(), "later");
    server.stop(true);
}

TEST(ServerProcess, RefusedStartsReturnZeroAndLeaveNothingOpen) {
    ServerProcess server;
    // Warm up whatever the first start opens once for the whole process.
    ASSERT_NE(server.start(testServerCommand()), 0u);
    server.stop(true);
    const int handles = relayon::os::openHandleCount();
    const int threads = relayon::os::threadCount();

    TempDir dir("relayon missing ");
    EXPECT_EQ(server.start((dir.path() / "no such program").string() + " arg"), 0u);
    EXPECT_EQ(server.start("relayon-no-such-program-anywhere"), 0u);
    EXPECT_EQ(server.processId(), 0u);

    // 260 characters and more are refused before anything is made; 259 still start.
    std::string base = testServerCommand("exit 0 ");
    ASSERT_LT(base.size(), 259u);
    std::string at259 = base + std::string(259 - base.size(), 'x');
    std::string at260 = at259 + "x";
    EXPECT_EQ(server.start(at260), 0u);
    EXPECT_FALSE(server.running());
    server.stop(false);
    EXPECT_EQ(relayon::os::openHandleCount(), handles);
    EXPECT_EQ(relayon::os::threadCount(), threads);

    ASSERT_NE(server.start(at259), 0u);
    // A second start over a running server is refused and leaves the first one alone.
    EXPECT_EQ(server.start(testServerCommand()), 0u);
    EXPECT_TRUE(server.running());
    LineCollector lines(server.outputReader());
    EXPECT_EQ(lines.next(), "ready");
    server.stop(false);
}

TEST(ServerProcess, SoftStopWaitsFiveSecondsAndLeavesAServerThatIgnoresItsInputEnd) {
    ServerProcess server;
    ASSERT_NE(server.start(testServerCommand("linger 8")), 0u);
    LineCollector lines(server.outputReader());  // keeps the output pipe open after the stop
    ASSERT_EQ(lines.next(), "ready");

    StopWatch watch;
    server.stop(false);
    EXPECT_GE(watch.ms(), 4900);
    EXPECT_LT(watch.ms(), 7000);
    EXPECT_FALSE(server.running());
    // Still running without Relayon's pipes: its output ends only when it ends by itself.
    EXPECT_FALSE(lines.endsWithin(0));
    EXPECT_TRUE(lines.endsWithin(15000));
    EXPECT_GE(watch.ms(), 7500);
}

TEST(ServerProcess, HardStopKillsAServerThatDoesNotEndWithinFiveSeconds) {
    ServerProcess server;
    ASSERT_NE(server.start(testServerCommand("linger 60")), 0u);
    LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");

    StopWatch watch;
    server.stop(true);
    EXPECT_GE(watch.ms(), 4900);
    EXPECT_LT(watch.ms(), 8000);
    EXPECT_TRUE(lines.endsWithin(3000));  // killed, so its output pipe ends
    EXPECT_LT(watch.ms(), 10000);
}

TEST(ServerProcess, WritesMeetingAStopFailCleanly) {
    ServerProcess server;
    ASSERT_NE(server.start(testServerCommand()), 0u);
    LineCollector lines(server.outputReader());
    ASSERT_EQ(lines.next(), "ready");
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        const std::string line = "x\n";
        while (!done) {
            if (!server.writeInput(line.data(), line.size())) ++failures;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.stop(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = true;
    writer.join();
    EXPECT_GT(failures.load(), 0);
    EXPECT_TRUE(lines.endsWithin(10000));
}
