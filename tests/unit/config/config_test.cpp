#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/rule_table.h"
#include "config/settings.h"
#include "config/translation_file.h"

using namespace relayon;
using namespace std::string_literals;

namespace {

struct Loaded {
    Settings settings;
    RuleTables tables;
};

Loaded load(const std::string& text) {
    Loaded result;
    loadTranslation(text, result.settings, result.tables);
    return result;
}

}  // namespace

TEST(DecodeEscapes, EscapeTable) {
    const std::pair<std::string, std::string> cases[] = {
        // One-letter escapes; a pair of backslashes is consumed as a unit; others stay as written.
        {"\\n\\t\\v\\b\\r\\f\\a\\\\\\?\\'\\\"", "\n\t\v\b\r\f\a\\?'\""}, {"\\\\n", "\\n"}, {"\\\\\\", "\\\\"},
        {"C:\\server\\N\\8\\9", "C:\\server\\N\\8\\9"}, {"end\\", "end\\"},
        // Numeric escapes take the whole run of digits and keep its low 8 bits (0501 is 321, 65 'A').
        {"\\x41", "A"}, {"\\x41B", "\x1B"}, {"\\xfFz", "\xFFz"}, {"\\xg", "\\xg"}, {"a\\x", "a\\x"},
        {"\\101\\60", "A0"}, {"\\1018", "A8"}, {"\\501", "A"}, {"\\x" + std::string(40, 'F') + "3Az", ":z"},
        {"\\" + std::string(30, '7') + "101z", "Az"}, {"x\\" + std::string(500, '1') + "\\q\\", "x\x49\\q\\"},
        // A decoded zero ends the text.
        {"ab\\0cd", "ab"}, {"ab\\x00zz", "ab"}, {"ab\\x00cd", "ab\xCD"}, {"\\400", ""}};
    for (const auto& [text, expected] : cases) {
        std::vector<char> buffer(text.c_str(), text.c_str() + text.size() + 1);  // exactly its size
        const char* result = decodeEscapes(buffer.data());
        EXPECT_EQ(result, buffer.data()) << text;
        EXPECT_EQ(result, expected) << text;
    }
}

TEST(DefaultTranslationFileName, NameBetweenLastSeparatorAndLastFullStop) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\tools\\relay.exe", "relay"}, {"/usr/local/bin/relay", "relay"}, {"relay.tar.gz", "relay.tar"},
        {"dir\\sub/relay.exe", "sub/relay"},  // a backslash is looked for first
        {"/home/a.b/relay", ""},              // the full stop lies before the name
        {"", ""}};
    for (const auto& [path, name] : cases) EXPECT_EQ(defaultTranslationFileName(path), name) << path;
    // Where only the program file's extension gives way, directories do not matter.
    const std::pair<const char*, const char*> extensionOnly[] = {
        {"/home/a.b/relay", "relay.ini"}, {"v1.2/relay.sh", "relay.ini"}, {"relay.tar.gz", "relay.tar.ini"},
        {"./.relay", ".relay.ini"}, {"relay", "relay.ini"}};
    for (const auto& [path, name] : extensionOnly) EXPECT_EQ(translationFileFor(path, true), name) << path;
    EXPECT_EQ(translationFileFor("/home/a.b/relay", false), ".ini");
}

// Sections, comments, the split at the first separator, line ends and bytes, and the line limit.
TEST(LoadTranslation, TablesAndSettingsOfAFile) {
    const std::string c2s = "[Client2Server]\n", line511 = "k:=" + std::string(508, 'v'), v508 = std::string(508, 'v');
    const std::pair<std::string, std::string> cases[] = {
        {"before:=ignored\n"
         "[client2server] ; comment\n"  // not a header: the section stays none
         "a:=1\n[SERVER2CLIENT]\nk2:=b\n[Client2Client]\nk3:=c\n[sErVeR2sErVeR]\nk4:=d\n  [relayon]  \nLog:=x.log\n"
         "[client2server]\n; c:=comment\n   ;d:=comment too\n"
         "[Unknown]\n"  // not a header: the section stays
         "e:=5\nno separator\nf := 6 ; not a comment\n"
         "[Server2Client]\n[Client2Server]\n"  // a repeated header continues the same table
         "g:=7\n",
         "c2s: e=5 f=6 ; not a comment g=7|s2c: k2=b|c2c: k3=c|s2s: k4=d|Log=x.log Debug=0"},
        // Keys and values trimmed before decoding, the key not decoded; the first definition stays.
        {"[Server2Server]\nk1:=v\nk2 := v\nk3 \t \t:=\t  v\t \nk4:=v:=w\n:=empty key\n\\n:=key stays\nk6:=\\x20\nk1:=2\n",
         "s2s: =empty key \\n=key stays k1=v k2=v k3=v k4=v:=w k6= |Log= Debug=0"},
        {"[Relayon]\nLog:=a.log\0tail\nDebug:=2\0\n"s, "Log=a.log Debug=2"},  // a zero byte ends the text
        {"\xEF\xBB\xBF[Relayon]\nDebug:=2\n[Relayon]\nLog:=x\n", "Log=x Debug=0"},  // the mark spoils the header
        {"[Relayon]\r\nLog:=a\rb\r\n\r\nDebug:=4", "Log=a\rb Debug=4"},
        {"[Server2Client]\n\xE9t\xE9:=\xA0v\x7F\n", "s2c: \xE9t\xE9=\xA0v\x7F|Log= Debug=0"},
        // 511 bytes and a line end at most; no line feed needed at the end.
        {c2s + line511 + "\nz:=1\n", "c2s: k=" + v508 + " z=1|Log= Debug=0"},
        {c2s + line511 + "\r\nz:=1\r\n", "c2s: k=" + v508 + " z=1|Log= Debug=0"},
        {c2s + line511, "c2s: k=" + v508 + "|Log= Debug=0"},
        // A longer line ends the reading; what came before it stays.
        {"[Relayon]\nDebug:=1\n" + c2s + line511 + "v\nz:=1\n[Relayon]\nDebug:=2\n", "Log= Debug=1"},
        {c2s + line511 + "v", "Log= Debug=0"},
        {c2s + line511 + "\r\r\n", "Log= Debug=0"},  // only the CR right before the LF is the line end's
        {c2s + std::string(100000, ' ') + "\nz:=1\n", "Log= Debug=0"}};
    for (const auto& [text, expected] : cases) {
        const Loaded l = load(text);
        std::string shown;
        const std::pair<const char*, const RuleTable*> tables[] = {{"c2s", &l.tables.client2Server},
            {"s2c", &l.tables.server2Client}, {"c2c", &l.tables.client2Client}, {"s2s", &l.tables.server2Server}};
        for (const auto& [name, table] : tables) {
            if (table->empty()) continue;
            shown += name + std::string(":");
            for (const auto& [key, value] : table->rules()) shown += " " + key + "=" + value;
            shown += "|";
        }
        EXPECT_EQ(shown + "Log=" + l.settings.Log + " Debug=" + std::to_string(l.settings.Debug), expected) << text;
    }
}

TEST(LoadTranslation, EverySettingKeyAndItsConversion) {
    const Settings s = load("[Relayon]\nPRIORITY:=high\npriority:=Above\nthreadpriority:=highest\nBoost:=off\n"
                            "CommandLine:=C:\\\\tools\\\\srv.exe \\\"a b\\\"\nDebug:=3 sides\nLog:=C:\\new.log\n"
                            "Ctrl:=0\nTerminateHard:=True\nEndLineServer:=\\r\\n\nEndLineClient:=\n"
                            "cpupower:=12.5\nUnknown:=ignored\n")
                           .settings;
    EXPECT_EQ(s.Priority, "Above");  // the last one wins
    EXPECT_EQ(s.ThreadPriority, "highest");
    EXPECT_EQ(s.CommandLine, "C:\\tools\\srv.exe \"a b\"");
    EXPECT_EQ(s.Log, "C:\new.log");  // an undoubled backslash before n is a line feed
    EXPECT_EQ(s.EndLineServer, "\r\n");
    EXPECT_EQ(s.EndLineClient, "");
    EXPECT_EQ(s.Debug, 3);
    EXPECT_EQ(s.CpuPower, 12.5);
    EXPECT_TRUE(!s.Boost && !s.Ctrl && s.TerminateHard && !s.StringRulesPresent);
    // CpuPower has a fraction only with a full stop.
    EXPECT_EQ(load("[Relayon]\nCpuPower:=5e1\n").settings.CpuPower, 5.0);
    EXPECT_EQ(load("[Relayon]\nCpuPower:=5.e1\n").settings.CpuPower, 50.0);
    EXPECT_EQ(load("[Relayon]\nCpuPower:=-3\n").settings.CpuPower, -3.0);
    EXPECT_TRUE(load("[Relayon]\nBoost:=0\nBoost:=2\n").settings.Boost);
}

TEST(LoadTranslation, StringRulesOnlyFromTheTranslatingSections) {
    EXPECT_FALSE(load("[Client2Client]\nk:=<string1>\n[Server2Server]\nk:=<string>\n").settings.StringRulesPresent);
    EXPECT_FALSE(load("[Server2Client]\nk:=<STRING1>\n").settings.StringRulesPresent);
    EXPECT_TRUE(load("[Server2Client]\nk:=x <string2> y\n").settings.StringRulesPresent);
    // Checked on the decoded value, and also for a rule that loses to an earlier key.
    EXPECT_TRUE(load("[Client2Server]\nk:=a\nk:=\\x3cstring>\n").settings.StringRulesPresent);
}

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

TEST(ParseFlag, TrueOnlyForTOnAndLeadingDigitOneToNine) {
    for (const char* text : {"T", "true", "Tx", "ON", "oN", "1", "10", "9abc"}) EXPECT_TRUE(parseFlag(text)) << text;
    for (const char* text : {"", "F", "OFF", "0", "01", "-1", "YES", "ONE", "onx", " 1", "\x80"}) {
        EXPECT_FALSE(parseFlag(text)) << text;
    }
}

TEST(PriorityNames, WordsInAnyCaseOthersNotSet) {
    constexpr int none = kPriorityNotSet;
    const struct {
        const char* name;
        int priorityClass;
        int threadPriority;
    } cases[] = {{"low", 64, -1},  // low is idle for a class, below normal for a thread
                 {"IDLE", 64, -15}, {"below", 16384, -1}, {"Normal", 32, 0}, {"above", 32768, 1}, {"HIGH", 128, 1},
                 {"RealTime", 256, none}, {"LOWEST", none, -2}, {"HighEst", none, 2}, {"timecritical", none, 15},
                 {"", none, none}, {"high ", none, none}, {"hig", none, none}, {"time critical", none, none}};
    for (const auto& c : cases) {
        EXPECT_EQ(priorityClassFromName(c.name), c.priorityClass) << c.name;
        EXPECT_EQ(threadPriorityFromName(c.name), c.threadPriority) << c.name;
    }
}
