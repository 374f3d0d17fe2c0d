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
    EXPECT_EQ(priorityClassFromName("low"), 64);  // idle, not below normal
    EXPECT_EQ(priorityClassFromName("IDLE"), 64);
    EXPECT_EQ(priorityClassFromName("below"), 16384);
    EXPECT_EQ(priorityClassFromName("Normal"), 32);
    EXPECT_EQ(priorityClassFromName("above"), 32768);
    EXPECT_EQ(priorityClassFromName("HIGH"), 128);
    EXPECT_EQ(priorityClassFromName("RealTime"), 256);
    EXPECT_EQ(threadPriorityFromName("idle"), -15);
    EXPECT_EQ(threadPriorityFromName("LOWEST"), -2);
    EXPECT_EQ(threadPriorityFromName("low"), -1);
    EXPECT_EQ(threadPriorityFromName("below"), -1);
    EXPECT_EQ(threadPriorityFromName("normal"), 0);
    EXPECT_EQ(threadPriorityFromName("above"), 1);
    EXPECT_EQ(threadPriorityFromName("high"), 1);
    EXPECT_EQ(threadPriorityFromName("HighEst"), 2);
    EXPECT_EQ(threadPriorityFromName("timecritical"), 15);
    for (const char* text : {"", "high ", "hig", "highest", "timecritical"}) {
        EXPECT_EQ(priorityClassFromName(text), kPriorityNotSet) << text;
    }
    for (const char* text : {"", "realtime", "time critical"}) {
        EXPECT_EQ(threadPriorityFromName(text), kPriorityNotSet) << text;
    }
}
