#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "engine/file_source.h"
#include "platform/file.h"

using namespace relayon;
using Lines = std::vector<std::string>;

FileSource::LineSink collect(Lines& lines) {
    return [&lines](const std::string& line) {
        lines.push_back(line);
        return true;
    };
}

TEST(DiskFileSource, ReadsEveryLineOfAFileWithCrsDropped) {
    const std::string name = "file_source_test_lines.txt";
    {
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out << "one\r\n\n;c\n two \nlast";
    }
    DiskFileSource files;
    Lines lines;
    std::string error = "unchanged";
    EXPECT_TRUE(files.readLines("  " + name + "\t", collect(lines), error));
    EXPECT_EQ(lines, (Lines{"one", "", ";c", " two ", "last"}));
    EXPECT_EQ(error, "unchanged");
    std::remove(name.c_str());
}

TEST(DiskFileSource, MissingFileGivesTheSystemsText) {
    DiskFileSource files;
    Lines lines;
    std::string error;
    EXPECT_FALSE(files.readLines(" file_source_test_missing.txt", collect(lines), error));
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error, os::errorText(os::kFileNotFoundError));
}

TEST(DiskFileSource, BlankNameFailsWithoutAnErrorText) {
    DiskFileSource files;
    Lines lines;
    std::string error = "stale";
    EXPECT_FALSE(files.readLines(" \t ", collect(lines), error));
    EXPECT_EQ(error, "");
}
