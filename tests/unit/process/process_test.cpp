// The reader threads, and the server process with its priorities and throttle, on pipes and
// with the tests' own line server.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <limits>
#include <random>
#include <sstream>
#include <thread>

#include "platform/io.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/priority.h"
#include "platform/signals.h"
#include "probes.h"
#include "process/input_thread.h"
#include "process/server_process.h"
#include "../support.h"

using namespace relayon;
using Lines = test::LineCollector;
using test::testServerCommand;
namespace fs = std::filesystem;

namespace {

// Milliseconds since it was made.
struct Watch {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    auto ms() const { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(); }
};

struct Pipe {
    std::shared_ptr<os::Handle> read = std::make_shared<os::Handle>();
    os::Handle write;
    Pipe() { EXPECT_EQ(os::createPipe(*read, write), 0); }
    void send(const std::string& text) { ASSERT_TRUE(os::writeAll(write.get(), text.data(), text.size())); }
};

// A test with one server process and the lines of its output.
class Server : public ::testing::Test {
protected:
    // Starts the test server and waits for its "ready" (in ASSERT_NO_FATAL_FAILURE).
    void start(const std::string& arguments = "") {
        ASSERT_NE(server.start(testServerCommand(arguments)), 0u) << arguments;
        lines = std::make_unique<Lines>(server.outputReader());
        ASSERT_EQ(lines->next(), "ready");
    }
    std::string ask(const std::string& question) {
        const std::string line = question + "\n";
        server.writeInput(line.data(), line.size());
        return lines->next();
    }
    ServerProcess server;
    std::unique_ptr<Lines> lines;  // after the server: its reader stops first
};

}  // namespace

TEST(InputThread, DeliversExactlyTheLinesOfALongStreamWrittenInRandomChunks) {
    // One million lines with CR LF, lone CRs, empty lines and zero bytes; the expected texts are
    // made byte by byte as the callback contract says. Read in the usual blocks, and in blocks of
    // 61 bytes, so that many lines, and line ends of two bytes, lie across two reads.
    std::mt19937 random(12345);
    std::string stream;
    std::vector<std::string> expected;
    const char pieces[] = "abcxyz\r\r\0 \t";
    for (int i = 0; i < 1000000; ++i) {
        std::string line, text;
        for (int k = static_cast<int>(random() % 9); k > 0; --k) line += pieces[random() % (sizeof pieces - 1)];
        stream += line + ((random() % 3 == 0) ? "\r\n" : "\n");
        std::copy_if(line.begin(), line.end(), std::back_inserter(text), [](char c) { return c != '\r'; });
        expected.push_back(text.substr(0, text.find('\0')));
    }
    stream += "unfinished";  // never delivered

    for (const std::size_t readSize : {InputThread::kReadSize, std::size_t{61}}) {
        Pipe pipe;
        Lines lines(pipe.read, readSize);
        std::mt19937 sizes(777);
        for (std::size_t at = 0, size; at < stream.size(); at += size) {
            size = std::min<std::size_t>(1 + sizes() % 70000, stream.size() - at);
            ASSERT_TRUE(os::writeAll(pipe.write.get(), stream.data() + at, size));
        }
        pipe.write.close();  // the end of the input ends the reader
        ASSERT_TRUE(lines.endsWithin(60000)) << readSize;
        EXPECT_GE(lines.reads, stream.size() / readSize);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(lines.next(0), expected[i]) << "line " << i << ", blocks of " << readSize;
        }
        EXPECT_EQ(lines.next(0), "<none>");
    }
}

// Stopped 200 ms after it began to wait, a reader blocked in a read, or in a write to a pipe
// nobody reads (one that holds a byte already, so that it has less room than its size), ends;
// one waiting where no interrupt reaches is left after a second and ends once released.
TEST(InputThread, StopEndsAReaderBlockedInAReadOrAWriteAndLeavesAStuckOne) {
    Pipe unread;
    unread.send("x");
    const std::string block(1 << 20, 'x');  // more than a pipe holds
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const InputThread::Callback callbacks[] = {
        [&](std::string_view) { return os::writeAll(unread.write.get(), block.data(), block.size()); },
        [released](std::string_view) { return released.wait(), true; }};
    for (const std::string blockedIn : {"read", "write", "stuck"}) {
        const bool stuck = blockedIn == "stuck";
        Pipe input;
        InputThread reader;
        reader.setHandle(input.read);
        reader.callback = callbacks[stuck];
        ASSERT_TRUE(reader.start(0));
        input.send(blockedIn == "read" ? "a line without its end" : "go\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Watch watch;
        EXPECT_EQ(reader.stop(), !stuck) << blockedIn;
        EXPECT_LT(watch.ms(), stuck ? 3000 : 900) << blockedIn;
        EXPECT_FALSE(reader.registered());
        if (!stuck) continue;
        release.set_value();
        EXPECT_TRUE(reader.ended().wait(5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST_F(Server, FindsItsProgramByCuttingTheCommandLineAtBlanks) {
    test::TempDir dir("relayon server dir ");
    const std::string suffix = os::executableSuffix();
    fs::copy_file(testServerCommand(), dir.path() / ("srv" + suffix));
    std::string folder;
    ASSERT_TRUE(os::fullPath(dir.path().string(), folder));
    folder += static_cast<char>(fs::path::preferred_separator);
    ServerProgram program;
    ASSERT_TRUE(findServerProgram(folder + "srv\tone \"two three\"\tx", program));
    EXPECT_EQ(program.arguments, "one \"two three\"\tx");
    EXPECT_EQ(program.directory, folder);
    EXPECT_TRUE(fs::equivalent(program.path, dir.path() / ("srv" + suffix)));
    // Only blanks and control characters cut: a name continuing past the file's is not it.
    EXPECT_FALSE(findServerProgram(folder + "srvx -p", program));
    EXPECT_FALSE(findServerProgram(folder + "missing srv", program));

    // The start runs it in its folder, with its standard error on the output pipe.
    ASSERT_NE(server.start(folder + "srv cwd stderr early"), 0u);
    lines = std::make_unique<Lines>(server.outputReader());
    const std::string cwd = lines->next();
    ASSERT_EQ(cwd.compare(0, 4, "cwd "), 0) << cwd;
    EXPECT_TRUE(fs::equivalent(cwd.substr(4), dir.path())) << cwd;
    EXPECT_EQ(lines->next(), "early");
    EXPECT_EQ(lines->next(), "ready");
    EXPECT_EQ(ask("stderr later"), "later");
    Watch watch;
    EXPECT_TRUE(server.stop(false));  // the server ends at the end of its input: no waiting
    EXPECT_LT(watch.ms(), 4000);
    EXPECT_TRUE(lines->endsWithin(5000));
    EXPECT_FALSE(server.running());
    EXPECT_FALSE(server.writeInput("x\n", 2));
}

// Descriptors, threads and children left by stop and start cycles are counted by the black-box
// tests.
TEST_F(Server, RefusedStartsChangeNothing) {
    EXPECT_EQ(server.start(testServerCommand() + "-missing arg"), 0u);
    EXPECT_EQ(server.start("relayon-no-such-program-anywhere"), 0u);
    // 260 characters and more are refused before anything is made; 259 still start.
    const std::string base = testServerCommand("x ");
    const std::string at259 = base + std::string(259 - base.size(), 'x');
    EXPECT_EQ(server.start(at259 + "x"), 0u);
    EXPECT_FALSE(server.running());
    ASSERT_NE(server.start(at259), 0u);
    EXPECT_EQ(server.start(testServerCommand()), 0u);  // refused over a running server, which it leaves alone
    EXPECT_TRUE(server.running());
    EXPECT_EQ(Lines(server.outputReader()).next(), "ready");
}

// Control events go only to a server still held: a stopped one's id may be reused. One travels
// without the server's lock (on Windows a helper process carries it, for tens of milliseconds):
// the server is written to and answers meanwhile.
TEST_F(Server, HardStopKillsAServerThatDoesNotEndWithinFiveSecondsAndEventsStop) {
    EXPECT_FALSE(server.sendControlEvent(os::kCtrlCEvent));  // none started yet
    ASSERT_NO_FATAL_FAILURE(start("signals linger 60"));
    Watch sending;
    auto sent = std::async(std::launch::async, [this] { return server.sendControlEvent(os::kCtrlCEvent); });
    int answered = 0, arrived = 0;
    while (sent.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        const std::string line = ask("echo");
        arrived += line == "control 0";
        answered += (line == "control 0" ? lines->next() : line) == "echo";
    }
    const auto sendingMs = sending.ms();  // natively the signal is sent at once
    EXPECT_TRUE(sent.get());
    EXPECT_TRUE(arrived == 1 || lines->next() == "control 0");
    EXPECT_TRUE(sendingMs < 40 || answered >= 5) << answered << " answers in " << sendingMs << " ms";
    Watch watch;
    EXPECT_TRUE(server.stop(true));
    EXPECT_GE(watch.ms(), 4900);
    EXPECT_LT(watch.ms(), 8000);
    EXPECT_TRUE(lines->endsWithin(3000));  // killed, so its output pipe ends
    EXPECT_FALSE(server.sendControlEvent(os::kCtrlCEvent));
}

TEST_F(Server, WritesMeetingAStopFailCleanly) {
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

TEST(Throttle, CycleForEveryScale) {
    const struct {
        double percent;
        int runMs, suspendMs;
    } cases[] = {{50, 250, 250}, {25, 250, 750},  {12.5, 125, 875}, {5, 250, 4750},  {1, 100, 9900},
                 {0.5, 50, 9950}, {99.9, 499, 1}, {0.001, 1, 9999}, {26, 130, 370}, {10, 500, 4500},
                 {100, 0, 0},     {150, 0, 0},    {0, 0, 0},        {-3, 0, 0},     {std::numeric_limits<double>::quiet_NaN(), 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(throttleCycle(c.percent).runMs, c.runMs) << c.percent;
        EXPECT_EQ(throttleCycle(c.percent).suspendMs, c.suspendMs) << c.percent;
    }
}

TEST_F(Server, ABusyServerAtHalfPowerGetsAboutHalfACoreAndRunsAgainAfterStop) {
    ASSERT_NO_FATAL_FAILURE(start("busy linger 2"));
    // The share of a core the server's main thread gets over ms milliseconds, from its processor
    // time and the time since its start as it reports them.
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
    const double half = share(4000) / std::min(full, 1.0);
    // Measured beside other work, so the bounds only tell a throttle that works (about half)
    // from one that never suspends (about 1) or never resumes (about 0).
    EXPECT_GT(half, 0.2) << "unthrottled share " << full;
    EXPECT_LT(half, 0.8) << "unthrottled share " << full;
    // Stopping resumes it: it ends 2 s after the end of its input, within the stop's wait. The
    // answer came in a run period (natively the whole server is suspended); stop in the
    // suspended period after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(375));
    Watch watch;
    server.stop(false);
    EXPECT_LT(watch.ms(), 4500);
    EXPECT_TRUE(lines->endsWithin(5000));
}

TEST_F(Server, RunsAtTheAppliedPrioritiesAndARestartKeepsThem) {
    ASSERT_NO_FATAL_FAILURE(start());
    server.applyPriorityClass(os::kBelowNormalPriorityClass);
    server.applyThreadPriority(os::kThreadPriorityLowest);
    EXPECT_EQ(ask("priority"), "priority 16384 -2");
    // What the system refuses is not stored: a level outside the class's range (-7 to 6 are
    // for realtime only), a class that does not exist.
    server.applyThreadPriority(6);
    server.applyPriorityClass(12345);
    EXPECT_EQ(ask("priority"), "priority 16384 -2");
    server.stop(false);
    if (test::runningUnderWine()) GTEST_SKIP() << "Wine ignores the priority class given at process creation";
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(ask("priority"), "priority 16384 -2");
}
