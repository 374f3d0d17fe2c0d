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

std::string valueOf(const RuleTable& table, const std::string& key) {
    const std::string* value = table.findExact(key);
    return value ? *value : "<none>";
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

TEST(LoadTranslation, SectionsCommentsAndLinesThatAreNoEntries) {
    Loaded l = load(
        "before:=ignored\n"
        "[client2server] ; comment\n"  // not a header: the section stays none
        "a:=1\n"
        "[SERVER2CLIENT]\nk2:=b\n[Client2Client]\nk3:=c\n[sErVeR2sErVeR]\nk4:=d\n  [relayon]  \nLog:=x.log\n"
        "[client2server]\n; c:=comment\n   ;d:=comment too\n"
        "[Unknown]\n"  // not a header: the section stays
        "e:=5\nno separator\nf := 6 ; not a comment\n"
        "[Server2Client]\n[Client2Server]\n"  // a repeated header continues the same table
        "g:=7\n");
    const RuleTable& t = l.tables.client2Server;
    EXPECT_EQ(t.rules().size(), 3u);
    EXPECT_EQ(valueOf(t, "e") + "|" + valueOf(t, "f") + "|" + valueOf(t, "g"), "5|6 ; not a comment|7");
    EXPECT_EQ(valueOf(l.tables.server2Client, "k2"), "b");
    EXPECT_EQ(valueOf(l.tables.client2Client, "k3"), "c");
    EXPECT_EQ(valueOf(l.tables.server2Server, "k4"), "d");
    EXPECT_EQ(l.settings.Log, "x.log");
    EXPECT_FALSE(l.settings.StringRulesPresent);
}

TEST(LoadTranslation, SplittingAtTheFirstSeparator) {
    Loaded l = load("[Server2Server]\nk1:=v\nk2 := v\nk3 \t \t:=\t  v\t \nk4:=v:=w\n:=empty key\n"
                    "\\n:=key stays as written\nk6:=\\x20\nk1:=second\n");
    const std::pair<const char*, const char*> cases[] = {
        {"k1", "v"}, {"k2", "v"},  {"k3", "v"}, {"k4", "v:=w"}, {"", "empty key"}, {"\\n", "key stays as written"},
        {"k6", " "}};  // trimmed before decoding
    for (const auto& [key, value] : cases) EXPECT_EQ(valueOf(l.tables.server2Server, key), value) << key;
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

TEST(LoadTranslation, LineLimit) {
    const std::string header = "[Client2Server]\n";
    const std::string line511 = "k:=" + std::string(508, 'v');
    const std::string line512 = line511 + "v";
    for (const std::string& text : {header + line511 + "\nz:=1\n", header + line511 + "\r\nz:=1\r\n"}) {
        Loaded ok = load(text);
        EXPECT_EQ(valueOf(ok.tables.client2Server, "k"), std::string(508, 'v'));
        EXPECT_EQ(valueOf(ok.tables.client2Server, "z"), "1");
    }
    EXPECT_EQ(load(header + line511).tables.client2Server.rules().size(), 1u);  // no line feed needed

    Loaded tooLong = load("[Relayon]\nDebug:=1\n" + header + line512 + "\nz:=1\n[Relayon]\nDebug:=2\n");
    EXPECT_TRUE(tooLong.tables.client2Server.empty());
    EXPECT_EQ(tooLong.settings.Debug, 1);  // what came before the long line stays
    EXPECT_TRUE(load(header + line512).tables.client2Server.empty());
    // Only the carriage return right before the line feed belongs to the line end.
    EXPECT_TRUE(load(header + line511 + "\r\r\n").tables.client2Server.empty());
    EXPECT_TRUE(load(header + std::string(100000, ' ') + "\nz:=1\n").tables.client2Server.empty());
}

TEST(LoadTranslation, BytesOfTheLine) {
    Loaded zero = load("[Relayon]\nLog:=a.log\0tail\nDebug:=2\0\n"s);  // a zero byte ends the text
    EXPECT_EQ(zero.settings.Log + "|" + std::to_string(zero.settings.Debug), "a.log|2");
    Loaded bom = load("\xEF\xBB\xBF[Relayon]\nDebug:=2\n[Relayon]\nLog:=x\n");  // the mark spoils the header
    EXPECT_EQ(bom.settings.Log + "|" + std::to_string(bom.settings.Debug), "x|0");
    Loaded crlf = load("[Relayon]\r\nLog:=a\rb\r\n\r\nDebug:=4");
    EXPECT_EQ(crlf.settings.Log + "|" + std::to_string(crlf.settings.Debug), "a\rb|4");
    Loaded high = load("[Server2Client]\n\xE9t\xE9:=\xA0v\x7F\n");
    EXPECT_EQ(valueOf(high.tables.server2Client, "\xE9t\xE9"), "\xA0v\x7F");
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
                 {"IDLE", 64, -15},      {"below", 16384, -1},   {"Normal", 32, 0},
                 {"above", 32768, 1},    {"HIGH", 128, 1},       {"RealTime", 256, none},
                 {"LOWEST", none, -2},   {"HighEst", none, 2},   {"timecritical", none, 15},
                 {"", none, none},       {"high ", none, none},  {"hig", none, none},
                 {"time critical", none, none}};
    for (const auto& c : cases) {
        EXPECT_EQ(priorityClassFromName(c.name), c.priorityClass) << c.name;
        EXPECT_EQ(threadPriorityFromName(c.name), c.threadPriority) << c.name;
    }
}
