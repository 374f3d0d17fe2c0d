#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "config/text_utils.h"

using namespace relayon;

TEST(TextUtils, TheTwoTrimsDiffer) {
    EXPECT_EQ(trimBlanks(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
    EXPECT_EQ(trimBlanks("\x01x\x1F"), "\x01x\x1F");
    EXPECT_EQ(trimBlanks(" \t "), "");
    char line[] = "\x01\x1F \tab c\x7F\x02\r";
    EXPECT_STREQ(trimLine(line), "ab c\x7F");
    char onlyLow[] = "\x01 \x1F";
    EXPECT_STREQ(trimLine(onlyLow), "");
}

TEST(TextUtils, ReadIntegerLikeAtoi) {
    EXPECT_EQ(readInteger(" \t-12abc"), -12);
    EXPECT_EQ(readInteger("+7"), 7);
    EXPECT_EQ(readInteger("word"), 0);
    EXPECT_EQ(readInteger("- 5"), 0);
    EXPECT_EQ(readInteger("-2147483648"), INT_MIN);
    EXPECT_EQ(readInteger("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(readInteger("-99999999999999999999999"), INT_MIN);
}

TEST(TextUtils, ReadDecimalTakesTheLongestValidPrefix) {
    EXPECT_DOUBLE_EQ(readDecimal("99.5"), 99.5);
    EXPECT_DOUBLE_EQ(readDecimal(" -0.25"), -0.25);
    EXPECT_DOUBLE_EQ(readDecimal("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(readDecimal("1.5e+2x"), 150.0);
    EXPECT_DOUBLE_EQ(readDecimal("1.5e-"), 1.5);
    EXPECT_DOUBLE_EQ(readDecimal("1,5"), 1.0);  // a comma is never the decimal point
    EXPECT_DOUBLE_EQ(readDecimal("0.000125"), 0.000125);
    EXPECT_DOUBLE_EQ(readDecimal("123456789012345678901234.5"), 1.2345678901234568e23);
    EXPECT_EQ(readDecimal("-.e5"), 0.0);
    EXPECT_EQ(readDecimal("1e-999"), 0.0);
    EXPECT_GT(readDecimal("1e999"), 1e308);
}
