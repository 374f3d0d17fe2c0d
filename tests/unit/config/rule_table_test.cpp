#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/rule_table.h"

using relayon::RuleTable;

TEST(RuleTable, FirstDefinitionWinsKeysSortAsUnsignedBytesAndMatchWhole) {
    RuleTable table;
    EXPECT_EQ(table.findExact(""), nullptr);
    EXPECT_TRUE(table.add("ab", "first"));
    EXPECT_FALSE(table.add("ab", "second"));
    for (const char* key : {"abc", "\xE9t\xE9", "a", "B", "", "b", "A", "\x7F"}) table.add(key, "v");
    std::vector<std::string> keys;
    for (const auto& rule : table.rules()) keys.push_back(rule.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"", "A", "B", "a", "ab", "abc", "b", "\x7F", "\xE9t\xE9"}));
    EXPECT_EQ(*table.findExact("ab"), "first");
    ASSERT_NE(table.findExact(""), nullptr);
    for (const char* text : {"abcd", "ABC", "\xE9t", " a"}) EXPECT_EQ(table.findExact(text), nullptr) << text;
}
