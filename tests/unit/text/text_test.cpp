#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "text/text_file.h"
#include "text/text_utils.h"
#include "../support.h"

using namespace relayon;
using relayon::test::TempDir;
using relayon::test::writeWholeFile;
using Lines = std::vector<std::string>;

namespace {

// The lines readLine returns for a file holding content.
Lines readAllLines(const std::string& path, const std::string& content) {
    writeWholeFile(path, content);
    TextFile file;
    if (!file.open(path, kGenericRead, false, kOpenExisting)) return {"<open failed>"};
    Lines lines;
    std::string line;
    while (file.readLine(line)) lines.push_back(line);
    EXPECT_EQ(line, "");
    return lines;
}

}  // namespace

TEST(TextFile, ReadLineSplitsAtLfDropsEveryCrAndCutsAtTheLimit) {
    TempDir dir;
    std::string path = dir.file("lines.txt");
    EXPECT_EQ(readAllLines(path, "a\r\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(readAllLines(path, "\n\n"), (Lines{"", ""}));
    EXPECT_EQ(readAllLines(path, "a\rb\n"), Lines{"ab"});
    EXPECT_EQ(readAllLines(path, ""), Lines{});
    // The rest of a line beyond the limit is no line of its own.
    const std::string longest(kMaxLineBytes, 'y');
    EXPECT_EQ(readAllLines(path, longest + "yy\r\nnext\n" + longest + "\n"), (Lines{longest, "next", longest}));

    // Lines across the blocks the file is read in come back the same.
    std::string content;
    Lines expected;
    for (int i = 0; i < 30000; ++i) {
        std::string line(static_cast<std::size_t>(i % 37), static_cast<char>('a' + i % 26));
        content += line + (i % 3 == 0 ? "\r\n" : "\n");
        expected.push_back(line);
    }
    content += std::string(5000, 'z');
    expected.push_back(std::string(5000, 'z'));
    EXPECT_EQ(readAllLines(path, content), expected);
}

TEST(TextFile, FailedOpensLeaveTheFileClosedWithTheSystemsText) {
    TempDir dir;
    TextFile file;
    EXPECT_FALSE(file.open(" \t\r\n", kGenericRead, false, kOpenExisting));
    std::string missing = dir.file("missing.txt");
    EXPECT_FALSE(file.open(" " + missing + "\n", kGenericRead, false, kOpenExisting));
    EXPECT_EQ(lastErrorText(), os::errorText(os::kFileNotFoundError));
    EXPECT_EQ(file.name(), missing);
    std::string line;
    EXPECT_FALSE(file.readLine(line));
    EXPECT_FALSE(file.write("x", 1));
}

TEST(TextUtils, TheTwoTrimsDiffer) {
    EXPECT_EQ(trimBlanks(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
    EXPECT_EQ(trimBlanks("\x01x\x1F"), "\x01x\x1F");
    EXPECT_EQ(trimBlanks(" \t "), "");
    char line[] = "\x01\x1F \tab c\x7F\x02\r";
    EXPECT_STREQ(trimLine(line), "ab c\x7F");
    char onlyLow[] = "\x01 \x1F";
    EXPECT_STREQ(trimLine(onlyLow), "");
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
