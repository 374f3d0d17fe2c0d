#include <gtest/gtest.h>

#include "engine/fields.h"

using relayon::nthField;
using relayon::splitFields;

TEST(NthField, CountsRunsOfNonDelimiters) {
    EXPECT_EQ(nthField("  one\t two\n\nthree ", 1), "one");
    EXPECT_EQ(nthField("  one\t two\n\nthree ", 2), "two");
    EXPECT_EQ(nthField("  one\t two\n\nthree ", 3), "three");
    EXPECT_EQ(nthField("  one\t two\n\nthree ", 4), "");
    EXPECT_EQ(nthField("a\vb\fc\rd", 4), "d");
}

TEST(NthField, NumberBelowOneIsTheFirstField) {
    EXPECT_EQ(nthField("x y", 0), "x");
    EXPECT_EQ(nthField("x y", -3), "x");
}

TEST(NthField, EmptyOrDelimiterOnlyTextHasNoFields) {
    EXPECT_EQ(nthField("", 1), "");
    EXPECT_EQ(nthField(" \t\n", 1), "");
}

TEST(NthField, OwnDelimiterSetKeepsOtherBlanksInFields) {
    EXPECT_EQ(nthField("a\tb  c", 1, " "), "a\tb");
    EXPECT_EQ(nthField("a\tb  c", 2, " "), "c");
    EXPECT_EQ(nthField("\n\nfirst line\n\nsecond\n", 2, "\n"), "second");
}

TEST(SplitFields, GivesTheSameFieldsAsNthField) {
    const char* texts[] = {"", "   ", "one", " a  b\tc ", "\n\na\n\nb\n", "x\ty z"};
    const char* sets[] = {relayon::kBlanks, " ", "\n"};
    for (const char* text : texts) {
        for (const char* set : sets) {
            std::vector<std::string> expected;
            for (int n = 1; !nthField(text, n, set).empty(); ++n) expected.push_back(nthField(text, n, set));
            EXPECT_EQ(splitFields(text, set), expected) << "text '" << text << "'";
        }
    }
}
