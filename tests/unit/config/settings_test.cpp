#include <gtest/gtest.h>

#include "config/settings.h"

using namespace relayon;

TEST(ParseFlag, TrueOnlyForTOnAndLeadingDigitOneToNine) {
    for (const char* text : {"T", "true", "Tx", "ON", "oN", "1", "10", "9abc"}) EXPECT_TRUE(parseFlag(text)) << text;
    for (const char* text : {"", "F", "OFF", "0", "01", "-1", "YES", "ONE", "onx", " 1", "\x80"}) {
        EXPECT_FALSE(parseFlag(text)) << text;
    }
}

TEST(PriorityNames, WordsInAnyCaseOthersNotSet) {
    constexpr int none = kPriorityNotSet;
    const struct {
        const char* name;
        int priorityClass;
        int threadPriority;
    } cases[] = {{"low", 64, -1},  // low is idle for a class, below normal for a thread
                 {"IDLE", 64, -15},      {"below", 16384, -1},   {"Normal", 32, 0},
                 {"above", 32768, 1},    {"HIGH", 128, 1},       {"RealTime", 256, none},
                 {"LOWEST", none, -2},   {"HighEst", none, 2},   {"timecritical", none, 15},
                 {"", none, none},       {"high ", none, none},  {"hig", none, none},
                 {"time critical", none, none}};
    for (const auto& c : cases) {
        EXPECT_EQ(priorityClassFromName(c.name), c.priorityClass) << c.name;
        EXPECT_EQ(threadPriorityFromName(c.name), c.threadPriority) << c.name;
    }
}
