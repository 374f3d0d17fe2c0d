#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "diag/log_file.h"
#include "temp_dir.h"

using namespace relayon;
using relayon::test::readWholeFile;
using relayon::test::TempDir;
using relayon::test::writeWholeFile;

namespace {

std::uint32_t fakeNow = 0;
std::uint32_t fakeTicks() { return fakeNow; }

}  // namespace

TEST(LogFile, EntriesFollowEarlierContentWithTimeStampKindAndCrLfText) {
    TempDir dir;
    std::string path = dir.file("relay.log");
    writeWholeFile(path, "earlier run\r\n");
    StopWatch watch(fakeTicks);
    LogFile log(watch);
    ASSERT_TRUE(log.open(" " + path + " "));
    fakeNow = 70000;
    watch.start();
    fakeNow += 5;
    log.logLine("hello", kClientLine);
    fakeNow = 71000;
    log.logLine("", kNote);
    fakeNow = 70000 + 61005;
    log.logLine("a\nb", kServerLine);
    log.logLine("abc\r\n", kNote);
    fakeNow = 70000 + 0xFFFFFFFFu;
    log.logLine("longest", kNote);
    EXPECT_EQ(readWholeFile(path),
              "earlier run\r\n0.005: > hello\r\n1.000: - \r\n61.005: < a\r\nb\r\n61.005: - abc\r\n"
              "4294967.295: - longest\r\n");
}

TEST(LogFile, OnlyOneLogOfAFileIsOpenAndAClosedLogWritesNothing) {
    TempDir dir;
    std::string path = dir.file("one.log");
    StopWatch watch(fakeTicks);
    LogFile first(watch);
    LogFile second(watch);
    second.logLine("lost", kNote);
    EXPECT_FALSE(second.open("   "));
    ASSERT_TRUE(first.open(path));
    EXPECT_FALSE(second.open(path));
    EXPECT_FALSE(second.isOpen());
    second.logLine("lost", kNote);
    first.logLine("only", kNote);
    EXPECT_EQ(readWholeFile(path), "0.000: - only\r\n");
    EXPECT_FALSE(processLog().isOpen());
    logLine("nothing", kNote);
}

TEST(LogFile, EntriesFollowContentBeyondFourGibibytes) {
    TempDir dir;
    std::string path = dir.file("large.log");
    const std::uint64_t end = 0x100000010ull;
    {
        TextFile filler;  // a sparse file whose length modulo 2^32 is 16
        ASSERT_TRUE(filler.open(path, kGenericWrite, false, kOpenAlways, false));
        ASSERT_TRUE(filler.write("old", 3, end - 3));
    }
    {
        StopWatch watch(fakeTicks);
        LogFile log(watch);
        ASSERT_TRUE(log.open(path));
        log.logLine("new", kNote);
    }
    TextFile check;
    ASSERT_TRUE(check.open(path, kGenericRead, false, kOpenExisting, false));
    ASSERT_TRUE(check.seek(end - 3));
    std::string line;
    ASSERT_TRUE(check.readLine(line));
    EXPECT_EQ(line, "old0.000: - new");
    char head[4] = {1, 1, 1, 1};
    std::ifstream(path, std::ios::binary).read(head, 4);
    EXPECT_EQ(std::string(head, 4), std::string(4, '\0'));
}

TEST(LogFile, GatheredEntriesWaitForAFlushOrTheNextEntryAndKeepTheirOrder) {
    TempDir dir;
    std::string path = dir.file("gather.log");
    StopWatch watch(fakeTicks);
    LogFile log(watch);
    ASSERT_TRUE(log.open(path));
    fakeNow = 0;
    watch.start();
    log.gatherLine("one", kServerLine);
    fakeNow = 2;
    log.gatherLine("two\n", kServerLine);
    EXPECT_EQ(readWholeFile(path), "");
    log.logLine("note", kNote);
    const std::string before = "0.000: < one\r\n0.002: < two\r\n0.002: - note\r\n";
    EXPECT_EQ(readWholeFile(path), before);
    log.gatherLine("three", kClientLine);
    log.flush();
    EXPECT_EQ(readWholeFile(path), before + "0.002: > three\r\n");
}

TEST(LogFile, ThreadsLoggingAtOnceGiveWholeEntriesInLockOrder) {
    TempDir dir;
    std::string path = dir.file("threads.log");
    StopWatch watch;
    LogFile log(watch);
    ASSERT_TRUE(log.open(path));
    watch.start();
    constexpr int kEach = 10000;
    // B gathers its entries and flushes now and then.
    auto writer = [&log](char name) {
        for (int i = 0; i < kEach; ++i) {
            const std::string text = name + std::to_string(i) + std::string(40, name);
            if (name == 'A') {
                log.logLine(text, kNote);
            } else {
                log.gatherLine(text, kNote);
                if (i % 100 == 99) log.flush();
            }
        }
    };
    std::thread first(writer, 'A');
    std::thread second(writer, 'B');
    first.join();
    second.join();

    std::string content = readWholeFile(path);
    int next[2] = {0, 0};
    unsigned lastStamp = 0;
    for (std::size_t from = 0, end; (end = content.find("\r\n", from)) != std::string::npos; from = end + 2) {
        std::string entry = content.substr(from, end - from);
        unsigned seconds = 0, ms = 0;
        char name = 0;
        int number = -1, used = 0;
        ASSERT_EQ(std::sscanf(entry.c_str(), "%u.%3u: - %c%d%n", &seconds, &ms, &name, &number, &used), 4);
        ASSERT_TRUE(name == 'A' || name == 'B') << entry;
        ASSERT_EQ(entry.substr(static_cast<std::size_t>(used)), std::string(40, name)) << entry;
        ASSERT_EQ(number, next[name - 'A']++) << entry;
        ASSERT_GE(seconds * 1000 + ms, lastStamp) << entry;  // stamps are read under the lock
        lastStamp = seconds * 1000 + ms;
    }
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
}
