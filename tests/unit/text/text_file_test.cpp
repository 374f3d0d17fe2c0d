#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/text_file.h"
#include "../diag/temp_dir.h"

using namespace relayon;
using relayon::test::readWholeFile;
using relayon::test::TempDir;
using relayon::test::writeWholeFile;
using Lines = std::vector<std::string>;

namespace {

// The lines readLine returns for a file holding content, each followed by the position after it.
Lines readAllLines(const std::string& path, const std::string& content) {
    writeWholeFile(path, content);
    TextFile file;
    if (!file.open(path, kGenericRead, false, kOpenExisting, false)) return {"<open failed>"};
    Lines lines;
    std::string line;
    while (file.readLine(line)) lines.insert(lines.end(), {line, std::to_string(file.position())});
    EXPECT_EQ(line, "");
    return lines;
}

std::string crLf(const std::string& text) {
    std::string out;
    appendCrLfText(out, text);
    return out;
}

}  // namespace

TEST(TextFile, ReadLineSplitsAtLfAndDropsEveryCr) {
    TempDir dir;
    std::string path = dir.file("lines.txt");
    EXPECT_EQ(readAllLines(path, "a\r\nb"), (Lines{"a", "3", "b", "4"}));
    EXPECT_EQ(readAllLines(path, "\n\n"), (Lines{"", "1", "", "2"}));
    EXPECT_EQ(readAllLines(path, "a\rb\n"), (Lines{"ab", "4"}));
    EXPECT_EQ(readAllLines(path, ""), Lines{});

    // Lines across the blocks the file is read in come back the same.
    std::string content;
    Lines expected;
    for (int i = 0; i < 3000; ++i) {
        std::string line(static_cast<std::size_t>(i % 37), static_cast<char>('a' + i % 26));
        content += line + (i % 3 == 0 ? "\r\n" : "\n");
        expected.insert(expected.end(), {line, std::to_string(content.size())});
    }
    content += std::string(5000, 'z');
    expected.insert(expected.end(), {std::string(5000, 'z'), std::to_string(content.size())});
    EXPECT_EQ(readAllLines(path, content), expected);
}

TEST(TextFile, WritesAfterReadingLandWhereTheReadingStopped) {
    TempDir dir;
    std::string path = dir.file("mixed.txt");
    writeWholeFile(path, "one\ntwo\n");
    TextFile file;
    ASSERT_TRUE(file.open(path, kGenericWrite, false, kOpenExisting, false));  // can read too
    std::string line;
    ASSERT_TRUE(file.readLine(line));
    ASSERT_TRUE(file.write("T", 1, file.position()));
    ASSERT_TRUE(file.readLine(line));
    EXPECT_EQ(line, "wo");
    file.close();
    EXPECT_EQ(readWholeFile(path), "one\nTwo\n");
}

TEST(TextFile, FailedOpensLeaveTheFileClosedWithTheSystemsText) {
    TempDir dir;
    TextFile file;
    EXPECT_FALSE(file.open(" \t\r\n", kGenericRead, false, kOpenExisting, false));
    std::string missing = dir.file("missing.txt");
    EXPECT_FALSE(file.open(" " + missing + "\n", kGenericRead, false, kOpenExisting, false));
    std::string text = lastErrorText();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text, os::errorText(os::kFileNotFoundError));
    EXPECT_EQ(file.name(), missing);
    std::string line;
    EXPECT_FALSE(file.readLine(line));
    EXPECT_FALSE(file.write("x", 1, 0));
    EXPECT_FALSE(file.seek(0));
}

TEST(TextFile, AppendWritesAfterTheExistingBytes) {
    TempDir dir;
    std::string path = dir.file("append.log");
    writeWholeFile(path, "old\r\n");
    TextFile file;
    ASSERT_TRUE(file.open(path, kGenericWrite, true, kOpenAlways, false));
    EXPECT_EQ(file.position(), 5u);
    EXPECT_TRUE(file.writeText("new"));
    file.close();
    EXPECT_EQ(readWholeFile(path), "old\r\nnew\r\n");
}

TEST(TextFile, ASecondWriterIsRefusedWhileTheFileIsOpen) {
    TempDir dir;
    std::string path = dir.file("shared.log");
    TextFile first;
    TextFile second;
    ASSERT_TRUE(first.open(path, kGenericWrite, true, kOpenAlways, false));
    EXPECT_FALSE(second.open(path, kGenericWrite, true, kOpenAlways, false));
    EXPECT_FALSE(lastErrorText().empty());
    EXPECT_FALSE(second.open(path, kGenericWrite, false, kCreateAlways, false));
    ASSERT_TRUE(first.writeText("kept"));
    first.close();
    EXPECT_EQ(readWholeFile(path), "kept\r\n");  // the refused truncating open left it whole
    EXPECT_TRUE(second.open(path, kGenericWrite, true, kOpenAlways, false));
}

TEST(TextFile, WriteTextEndsEveryLineWithOneCrLf) {
    EXPECT_EQ(crLf(""), "\r\n");
    EXPECT_EQ(crLf("x\r\n"), "x\r\n");
    EXPECT_EQ(crLf("x\n\n"), "x\r\n\r\n");
    EXPECT_EQ(crLf("a\nb"), "a\r\nb\r\n");
    EXPECT_EQ(crLf("a\rb"), "a\rb\r\n");
    EXPECT_EQ(crLf("\r\r\n"), "\r\r\n");
}
