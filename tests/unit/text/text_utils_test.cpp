#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

#include "text/text_utils.h"

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
    const std::pair<const char*, int> cases[] = {
        {" \t-12abc", -12}, {"+7", 7}, {"word", 0}, {"- 5", 0}, {"-2147483648", INT_MIN},
        {"99999999999999999999999", INT_MAX}, {"-99999999999999999999999", INT_MIN}};
    for (const auto& [text, value] : cases) EXPECT_EQ(readInteger(text), value) << text;
}

TEST(TextUtils, ReadDecimalTakesTheLongestValidPrefix) {
    const std::pair<const char*, double> cases[] = {
        {"99.5", 99.5}, {" -0.25", -0.25}, {"+.5", 0.5}, {"1.5e+2x", 150.0}, {"1.5e-", 1.5},
        {"1,5", 1.0},  // a comma is never the decimal point
        {"0.000125", 0.000125}, {"123456789012345678901234.5", 1.2345678901234568e23}, {"-.e5", 0.0},
        {"1e-999", 0.0}};
    for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(readDecimal(text), value) << text;
    EXPECT_GT(readDecimal("1e999"), 1e308);
}
