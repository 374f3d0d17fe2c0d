#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "diag/console.h"
#include "platform/console_display.h"
#include "probes.h"
#include "temp_dir.h"

using namespace relayon;

namespace {

// The POSIX display is the file named by RELAYON_CONSOLE; putenv keeps the buffer.
bool showDisplayIn(const std::string& path) {
    static char setting[1024];
    std::snprintf(setting, sizeof setting, "RELAYON_CONSOLE=%s", path.c_str());
    putenv(setting);
    return test::platformName() == "posix";
}

}  // namespace

TEST(Console, ClosingWhileAnotherThreadWritesEndsItsWritesCleanly) {
    test::TempDir dir;
    if (!showDisplayIn(dir.file("display.txt"))) GTEST_SKIP() << "a console screen buffer cannot be opened here";
    Console console;
    ASSERT_TRUE(console.open());
    std::atomic<int> refused{0};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) refused += console.write("x\n", kNoticeColour) ? 0 : 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    console.close();
    writer.join();
    showDisplayIn("");
    EXPECT_GT(refused.load(), 0);
    EXPECT_FALSE(console.isOpen());
}

TEST(Console, TextsOfTwoThreadsAreShownWholeInTheirColours) {
    test::TempDir dir;
    if (!showDisplayIn(dir.file("display.txt"))) GTEST_SKIP() << "a console screen buffer cannot be read back here";
    constexpr int kEach = 3000;
    {
        Console console;
        ASSERT_TRUE(console.open());
        EXPECT_TRUE(console.write("Starting server: srv\r\n", kNoticeColour));
        EXPECT_TRUE(console.write("", kToServerColour));  // shows nothing
        auto writer = [&console](char name, std::uint16_t colour) {
            for (int i = 0; i < kEach; ++i) console.write(name + std::to_string(i) + std::string(100, name), colour);
        };
        std::thread blue(writer, 'b', kToServerColour);
        std::thread red(writer, 'r', kToClientColour);
        blue.join();
        red.join();
    }
    showDisplayIn("");
    const std::string shown = test::readWholeFile(dir.file("display.txt"));
    const std::string notice = "\x1b[92mStarting server: srv\r\n\x1b[0m";
    ASSERT_EQ(shown.substr(0, notice.size()), notice);
    int next[2] = {0, 0};
    for (std::size_t at = notice.size(), end; at < shown.size(); at = end + 4) {
        ASSERT_TRUE(shown.compare(at, 5, "\x1b[94m") == 0 || shown.compare(at, 5, "\x1b[91m") == 0) << at;
        const char name = shown[at + 3] == '4' ? 'b' : 'r';
        end = shown.find("\x1b[0m", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(shown.substr(at + 5, end - at - 5), name + std::to_string(next[name == 'r']++) + std::string(100, name));
    }
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
}
