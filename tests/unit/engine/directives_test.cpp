#include <gtest/gtest.h>

#include "engine/directives.h"
#include "memory_files.h"

using namespace relayon;

namespace {

std::string deleted(std::string text) {
    applyDelete(text);
    return text;
}

std::string substituted(std::string text, const std::string& source) {
    substitutePlaceholders(text, source);
    return text;
}

}  // namespace

TEST(ReadFile, KeepsTrimmedLinesAndSkipsBlankAndCommentLines) {
    MemoryFiles files;
    files.files["x"] = {"one", "", "  \t", ";c", " two ", "  ;indented comment"};
    NoteList notes;
    std::string text = "<readfile> x";
    applyReadFile(text, files, notes);
    EXPECT_EQ(text, "one\ntwo\n");
    EXPECT_EQ(notes.notes, std::vector<std::string>{"Open file:  x"});
    EXPECT_EQ(files.requested, std::vector<std::string>{" x"});
}

TEST(ReadFile, KeywordInAnyCaseAndAfterLeadingBlanks) {
    MemoryFiles files;
    files.files["x"] = {"line"};
    NoteList notes;
    std::string upper = "<READFILE> x";
    applyReadFile(upper, files, notes);
    EXPECT_EQ(upper, "line\n");
    // The name follows the keyword, wherever the keyword starts.
    std::string indented = "  <ReadFile>\tx";
    applyReadFile(indented, files, notes);
    EXPECT_EQ(indented, "line\n");
    EXPECT_EQ(files.requested.back(), "\tx");
}

TEST(ReadFile, MissingFileIsNotedAndLeavesNothing) {
    MemoryFiles files;
    NoteList notes;
    std::string text = "<readfile> missing.txt";
    applyReadFile(text, files, notes);
    EXPECT_EQ(text, "");
    EXPECT_EQ(notes.notes, (std::vector<std::string>{"Open file:  missing.txt", "Error opening file: No such file"}));
}

TEST(ReadFile, KeywordAloneReadsAndNotesNothing) {
    MemoryFiles files;
    NoteList notes;
    std::string text = "<readfile>";
    applyReadFile(text, files, notes);
    EXPECT_EQ(text, "");
    EXPECT_TRUE(notes.notes.empty());
    EXPECT_TRUE(files.requested.empty());
}

TEST(ReadFile, OtherTextsAreLeftAlone) {
    MemoryFiles files;
    NoteList notes;
    for (std::string text : {"<readfile>x", "read <readfile> x", "", "plain"}) {
        std::string before = text;
        applyReadFile(text, files, notes);
        EXPECT_EQ(text, before);
    }
    EXPECT_TRUE(files.requested.empty());
}

TEST(Placeholders, FillInTheSourceLineAndItsWords) {
    EXPECT_EQ(substituted("use <string2>-<string3> (<string>) <string7>", "set alpha beta"),
              "use alpha-beta (set alpha beta) ");
    EXPECT_EQ(substituted("<string9><string1>", "1 2 3 4 5 6 7 8 9"), "91");
    // Placeholders are case-sensitive, and <string0> is not one.
    EXPECT_EQ(substituted("<STRING1> <string0>", "a"), "<STRING1> <string0>");
}

TEST(Placeholders, InsertedTextIsNotSearchedForTheSamePlaceholder) {
    EXPECT_EQ(substituted("[<string>]", "x <string> y"), "[x <string> y]");
    // A slot holding a later placeholder is filled in when that placeholder's turn comes.
    EXPECT_EQ(substituted("<string>", "<string2> b"), "b b");
}

TEST(Delete, RemovesMarkerCountAndThatManyWords) {
    EXPECT_EQ(deleted("a b <delete> 2 c d e"), "a b e");
    EXPECT_EQ(deleted("a b <delete> 0 c d e"), "a b c d e");
    EXPECT_EQ(deleted("a b <delete>"), "a b");
    EXPECT_EQ(deleted("a b <delete> 9 c"), "a b");
    EXPECT_EQ(deleted("<DELETE> 1 a b <delete>"), "b <delete>");
    // A count that is not a number counts as 0; one with trailing text is read up to it.
    EXPECT_EQ(deleted("a <delete> x c"), "a c");
    EXPECT_EQ(deleted("a <delete> 1z c d"), "a d");
    // Only the first marker acts; later ones are copied like any other word.
    EXPECT_EQ(deleted("a <delete> 0 b <delete> 1 c"), "a b <delete> 1 c");
}

TEST(Delete, NegativeCountResumesNoEarlierThanTheFirstWord) {
    EXPECT_EQ(deleted("a <delete> -1 b"), "a -1 b");
    EXPECT_EQ(deleted("a <delete> -9 b"), "a a <delete> -9 b");
    EXPECT_EQ(deleted("a <delete> -99999999999999999999 b"), "a a <delete> -99999999999999999999 b");
    EXPECT_EQ(deleted("a <delete> 99999999999999999999 b"), "a");
}

TEST(Delete, WithoutMarkerWordOnlyRejoinsWords) {
    EXPECT_EQ(deleted("a  b<delete>c   d"), "a b<delete>c d");
    EXPECT_EQ(deleted("  x\ty  <delete>  "), "x\ty");
    // Without the trigger the text stays as it is, spaces and all.
    EXPECT_EQ(deleted("a  b <DELETE>"), "a  b <DELETE>");
}
