#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "diag/console.h"
#include "diag/log_file.h"
#include "diag/queued_writer.h"
#include "diag/stop_watch.h"
#include "platform/console_display.h"
#include "platform/io.h"
#include "probes.h"
#include "../support.h"

using namespace relayon;
using test::readWholeFile;
using test::TempDir;

namespace {

// The tick counter of the watches under test, moved by hand.
std::uint32_t fakeNow = 0;
std::uint32_t fakeTicks() { return fakeNow; }

// The POSIX display is the file named by RELAYON_CONSOLE; putenv keeps the buffer.
bool showDisplayIn(const std::string& path) {
    static char setting[1024];
    std::snprintf(setting, sizeof setting, "RELAYON_CONSOLE=%s", path.c_str());
    putenv(setting);
    return test::platformName() == "posix";
}

}  // namespace

// The log writes each entry's text with CR LF line ends: a lone CR stays, every LF becomes one
// CR LF, and a CR LF at the end is not doubled. Gathered entries wait for a flush or the next
// entry, in their order.
TEST(LogFile, EntriesFollowEarlierContentWithTimeStampKindAndCrLfText) {
    TempDir dir;
    std::string path = dir.file("relay.log");
    test::writeWholeFile(path, "earlier run\r\n");
    StopWatch watch(fakeTicks);
    LogFile log(watch);
    ASSERT_TRUE(log.open(" " + path + " "));
    fakeNow = 70000;
    watch.start();
    fakeNow += 5;
    log.logLine("hello", kClientLine);
    fakeNow = 71000;
    log.gatherLine("", kNote);
    log.gatherLine("a\nb", kServerLine);
    EXPECT_EQ(readWholeFile(path), "earlier run\r\n0.005: > hello\r\n");
    fakeNow = 70000 + 61005;
    for (const char* text : {"abc\r\n", "x\n\n", "a\rb", "\r\r\n"}) log.logLine(text, kServerLine);
    fakeNow = 70000 + 0xFFFFFFFFu;
    log.gatherLine("longest", kNote);
    log.flush();
    EXPECT_EQ(readWholeFile(path),
              "earlier run\r\n0.005: > hello\r\n1.000: - \r\n1.000: < a\r\nb\r\n61.005: < abc\r\n"
              "61.005: < x\r\n\r\n61.005: < a\rb\r\n61.005: < \r\r\n4294967.295: - longest\r\n");
}

TEST(LogFile, EntriesFollowContentBeyondFourGibibytes) {
    TempDir dir;
    std::string path = dir.file("large.log");
    const std::uint64_t end = 0x100000010ull;
    test::writeWholeFile(path, "");
    std::filesystem::resize_file(path, end - 3);  // sparse, with a length of 13 modulo 2^32
    std::ofstream(path, std::ios::binary | std::ios::app) << "old";
    {
        StopWatch watch(fakeTicks);
        LogFile log(watch);
        ASSERT_TRUE(log.open(path));
        log.logLine("new", kNote);
    }
    std::ifstream check(path, std::ios::binary);
    check.seekg(static_cast<std::streamoff>(end - 3));
    std::string line;
    ASSERT_TRUE(std::getline(check, line));
    EXPECT_EQ(line, "old0.000: - new\r");
}

// A logs each entry, B gathers its entries and flushes now and then.
TEST(LogFile, ThreadsLoggingAtOnceGiveWholeEntriesInLockOrder) {
    TempDir dir;
    std::string path = dir.file("threads.log");
    StopWatch watch;
    LogFile log(watch);
    ASSERT_TRUE(log.open(path));
    watch.start();
    constexpr int kEach = 10000;
    auto writer = [&log](char name) {
        for (int i = 0; i < kEach; ++i) {
            const std::string text = name + std::to_string(i) + std::string(40, name);
            name == 'A' ? log.logLine(text, kNote) : log.gatherLine(text, kNote);
            if (i % 100 == 99) log.flush();
        }
    };
    std::thread first(writer, 'A'), second(writer, 'B');
    first.join();
    second.join();
    std::istringstream content(readWholeFile(path));
    int next[2] = {0, 0};
    unsigned lastStamp = 0, seconds = 0, ms = 0;
    for (std::string entry; std::getline(content, entry);) {
        char name = 0;
        int number = -1, used = 0;
        ASSERT_EQ(std::sscanf(entry.c_str(), "%u.%3u: - %c%d%n", &seconds, &ms, &name, &number, &used), 4);
        ASSERT_TRUE(name == 'A' || name == 'B') << entry;
        ASSERT_EQ(entry.substr(static_cast<std::size_t>(used)), std::string(40, name) + "\r") << entry;
        ASSERT_EQ(number, next[name - 'A']++) << entry;
        ASSERT_GE(seconds * 1000 + ms, lastStamp) << entry;  // stamps are read under the lock
        lastStamp = seconds * 1000 + ms;
    }
    EXPECT_EQ(next[0] + next[1], 2 * kEach);
}

TEST(StopWatch, CountsFromItsStartIn32BitsAcrossTheWrap) {
    StopWatch watch(fakeTicks);
    fakeNow = 5000;
    EXPECT_EQ(watch.elapsed(), 0u);  // not started: zero
    watch.start();
    fakeNow = 0xFFFFFF00u;
    watch.start();  // again from zero
    fakeNow = 0x10;
    EXPECT_EQ(watch.elapsed(), 0x110u);
}

TEST(StopWatch, FollowsTheSystemTickCounter) {
    StopWatch watch;
    watch.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(watch.elapsed(), 40u);  // the tick counter may lag by one timer period
    EXPECT_LT(watch.elapsed(), 10000u);
}

// Two threads' texts are shown whole, in order and in their colours (a colour's texts in a row
// may share one colour sequence); a close while a third thread writes ends its writes cleanly.
TEST(Console, TextsOfThreadsAreShownWholeInTheirColoursUntilAClose) {
    test::TempDir dir;
    if (!showDisplayIn(dir.file("display.txt"))) GTEST_SKIP() << "a console screen buffer cannot be read back here";
    constexpr int kEach = 3000;
    Console console;
    ASSERT_TRUE(console.open());
    EXPECT_TRUE(console.write("Starting server: srv\r\n", kNoticeColour));
    EXPECT_TRUE(console.write("", kToServerColour));  // shows nothing
    auto writer = [&console](char name, std::uint16_t colour) {
        for (int i = 0; i < kEach; ++i) console.write(name + std::to_string(i) + std::string(100, name), colour);
    };
    std::thread blue(writer, 'b', kToServerColour), red(writer, 'r', kToClientColour);
    blue.join();
    red.join();
    std::thread late([&] { while (console.write("x\n", kNoticeColour)) {} });  // until the close refuses
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    console.close();
    late.join();
    showDisplayIn("");
    EXPECT_FALSE(console.isOpen());
    const std::string shown = test::readWholeFile(dir.file("display.txt"));
    const std::string notice = "\x1b[92mStarting server: srv\r\n\x1b[0m";
    ASSERT_EQ(shown.substr(0, notice.size()), notice);
    int next[2] = {0, 0};
    std::size_t at = notice.size();
    while (next[0] + next[1] < 2 * kEach) {
        ASSERT_TRUE(shown.compare(at, 5, "\x1b[94m") == 0 || shown.compare(at, 5, "\x1b[91m") == 0) << at;
        const char name = shown[at + 3] == '4' ? 'b' : 'r';
        const std::size_t end = shown.find("\x1b[0m", at);
        ASSERT_NE(end, std::string::npos);
        for (at += 5; at < end;) {
            const std::string text = name + std::to_string(next[name == 'r']++) + std::string(100, name);
            ASSERT_EQ(shown.compare(at, text.size(), text), 0) << at;
            at += text.size();
        }
        at = end + 4;
    }
    // The late texts, in runs of their colour.
    std::string lateTexts = shown.substr(at);
    EXPECT_EQ(lateTexts.substr(0, 5), "\x1b[92m");
    for (const std::string mark : {"\x1b[92m", "\x1b[0m"}) {
        for (std::size_t found; (found = lateTexts.find(mark)) != std::string::npos;) lateTexts.erase(found, mark.size());
    }
    EXPECT_EQ(lateTexts.find_first_not_of("x\n"), std::string::npos);
}

// A short text put while nothing waits is written on the caller's thread, and so is a long one
// handed over with anyLength. When the caller's interrupt ends such a write, its rest is written
// first, before a text put meanwhile; a text over the limit goes to the writer thread, handed
// over whole, and the caller's buffer comes back empty.
TEST(QueuedWriter, ARestLeftByACallersInterruptedWriteComesFirst) {
    if (test::platformName() != "posix") GTEST_SKIP() << "the writer thread writes every text here";
    relayon::os::IoInterrupt interrupt;
    interrupt.attachCurrentThread();
    const std::thread::id caller = std::this_thread::get_id();
    std::string out;  // what the caller's thread writes is marked with a '='
    QueuedWriter writer(
        [&](std::string_view text, std::uint16_t, std::size_t& written) {
            written = text.substr(0, 3) == "cut" ? 2 : text.size();
            out.append(std::this_thread::get_id() == caller ? "=" : "").append(text.substr(0, written));
            if (written == text.size()) return true;
            EXPECT_TRUE(writer.put("later\n"));
            interrupt.interrupt();
            return false;
        },
        64, QueuedWriter::WhenFull::Wait, 8);
    ASSERT_TRUE(writer.start());
    std::string handed = "a long text, written here\n";
    EXPECT_TRUE(writer.hand(handed, 0, true));
    EXPECT_EQ(handed, "");
    EXPECT_TRUE(writer.put("one\n"));
    EXPECT_TRUE(writer.put("cut me\n"));
    interrupt.clear();
    handed = "a text over the limit\n";
    EXPECT_TRUE(writer.hand(handed));
    EXPECT_EQ(handed, "");
    handed = "another one, also long\n";
    EXPECT_TRUE(writer.hand(handed));
    EXPECT_TRUE(writer.finish(-1));
    interrupt.detach();
    EXPECT_EQ(out, "=a long text, written here\n=one\n=cut me\nlater\na text over the limit\n"
                   "another one, also long\n");
}
