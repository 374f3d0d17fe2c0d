#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/rule_table.h"

using relayon::RuleTable;

TEST(RuleTable, FirstDefinitionWinsAndKeysSortAsUnsignedBytes) {
    RuleTable table;
    EXPECT_TRUE(table.add("ab", "first"));
    EXPECT_FALSE(table.add("ab", "second"));
    for (const char* key : {"abc", "\xE9t\xE9", "a", "B", "", "b", "A", "\x7F"}) table.add(key, "v");
    std::vector<std::string> keys;
    for (const auto& rule : table.rules()) keys.push_back(rule.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"", "A", "B", "a", "ab", "abc", "b", "\x7F", "\xE9t\xE9"}));
    EXPECT_EQ(*table.findExact("ab"), "first");
}

TEST(RuleTable, FindExactMatchesWholeKeyOnly) {
    RuleTable table;
    EXPECT_EQ(table.findExact(""), nullptr);
    table.add("abc", "1");
    table.add("", "empty");
    EXPECT_EQ(table.findExact("ab"), nullptr);
    EXPECT_EQ(table.findExact("abcd"), nullptr);
    EXPECT_EQ(table.findExact("ABC"), nullptr);
    EXPECT_EQ(*table.findExact("abc"), "1");
    ASSERT_NE(table.findExact(""), nullptr);
    EXPECT_EQ(*table.findExact(""), "empty");
}
