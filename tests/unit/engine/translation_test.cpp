#include <gtest/gtest.h>

#include "engine/translation.h"
#include "memory_files.h"

using namespace relayon;
using Lines = std::vector<std::string>;
using Kind = ControlAction::Kind;

namespace {

struct Translator {
    RuleTable rules;
    MemoryFiles files;
    NoteList notes;
    bool actions = true;

    Translation run(const std::string& line) {
        bool stringRules = false;
        for (const auto& rule : rules.rules()) stringRules |= rule.second.find("<string") != std::string::npos;
        return translateLine(line, rules, stringRules, actions, files, notes);
    }
    Lines lines(const std::string& line) { return run(line).lines; }
};

}  // namespace

TEST(Translation, RulesRunInKeyOrderEachOnTheTextLeftBefore) {
    Translator t;
    t.rules.add("abc", "Q");
    t.rules.add("ab", "xab");
    // 'ab' comes first and gives 'xabc'; 'abc' then finds its key in the changed text.
    EXPECT_EQ(t.lines("abc"), Lines{"xQ"});
}

TEST(Translation, EachOccurrenceThatWasThereIsReplacedOnce) {
    Translator t;
    t.rules.add("a", "aa");
    t.rules.add("x", "<x>");
    EXPECT_EQ(t.lines("A b"), Lines{"A b"});
    EXPECT_EQ(t.lines("a a"), Lines{"aa aa"});
    EXPECT_EQ(t.lines("xx"), Lines{"<x><x>"});
}

TEST(Translation, LineEmptiedByRulesVanishesWithoutDirectives) {
    Translator t;
    t.rules.add("ab", "");
    t.rules.add("b", "<readfile> x");
    EXPECT_EQ(t.lines("abcab"), Lines{"c"});
    Translation gone = t.run("ababab");
    EXPECT_TRUE(gone.lines.empty());
    EXPECT_EQ(gone.action.kind, Kind::None);
    EXPECT_TRUE(t.files.requested.empty());
    EXPECT_TRUE(t.notes.notes.empty());
}

TEST(Translation, EmptyLineGivesOneEmptyLine) {
    Translator t;
    t.rules.add("x", "y");
    EXPECT_EQ(t.lines(""), Lines{""});
}

TEST(Translation, TemplateRuleFillsInWordsOfTheReceivedLine) {
    Translator t;
    t.rules.add("set", "use <string2>-<string3> (<string>) <string7>");
    EXPECT_EQ(t.lines("set alpha beta"), Lines{"use alpha-beta (set alpha beta) "});
}

TEST(Translation, TemplateDiscardsEarlierReplacementsAndLaterRulesSearchIt) {
    Translator t;
    t.rules.add("a", "b");
    t.rules.add("set", "use <string2> x");
    t.rules.add("x", "y");
    // Placeholders take their words from the line as received, not as rewritten.
    EXPECT_EQ(t.lines("set a"), Lines{"use a y"});
}

TEST(Translation, PlaceholderWithoutTemplateStaysUnchanged) {
    Translator t;
    t.rules.add("say", "tell");
    EXPECT_EQ(t.lines("say <string1> <string>"), Lines{"tell <string1> <string>"});
}

TEST(Translation, ReadFileComesFromARuleValue) {
    Translator t;
    t.rules.add("menu", "<READFILE> menu.txt");
    t.files.files["menu.txt"] = {"; the menu", "tea", "coffee"};
    EXPECT_EQ(t.lines("menu"), (Lines{"tea", "coffee"}));
    // A missing file leaves no line at all, not even an empty one.
    EXPECT_TRUE(t.lines("<readfile> gone").empty());
    EXPECT_EQ(t.notes.notes.size(), 3u);
}

TEST(Translation, DeleteRunsAfterPlaceholders) {
    Translator t;
    t.rules.add("cut", "<string> <delete> 1");
    EXPECT_EQ(t.lines("cut a b"), Lines{"cut a b"});
    t.rules.add("drop", "<string1> <delete> 1 <string2> <string3>");
    EXPECT_EQ(t.lines("drop x y"), Lines{"drop y"});
}

TEST(Translation, OutputIsCutAtRunsOfLineFeeds) {
    Translator t;
    t.rules.add("two", "a\n\nb\n");
    t.rules.add("none", "\n\n");
    t.rules.add("split", "first\nsecond");
    EXPECT_EQ(t.lines("two"), (Lines{"a", "b"}));
    EXPECT_TRUE(t.lines("none").empty());
    EXPECT_EQ(t.lines("split"), (Lines{"first", "second"}));
}

TEST(Translation, ReceivedTextEndsAtItsFirstZeroByte) {
    Translator t;
    t.rules.add("cd", "X");
    t.rules.add("set", "<string>!");
    EXPECT_EQ(t.lines(std::string("ab\0cd", 5)), Lines{"ab"});
    EXPECT_EQ(t.lines(std::string("\0cd", 3)), Lines{""});
    EXPECT_EQ(t.lines(std::string("set\0cd", 6)), Lines{"set!"});
}

TEST(Translation, WholeTextStopAndStartAreActionsInAnyCase) {
    Translator t;
    for (const char* line : {"<stop>", "<STOP>", "<Stop>"}) {
        Translation r = t.run(line);
        EXPECT_EQ(r.action.kind, Kind::Stop) << line;
        EXPECT_TRUE(r.lines.empty());
    }
    EXPECT_EQ(t.run("<START>").action.kind, Kind::Start);
    Translation notAction = t.run("<start> now");
    EXPECT_EQ(notAction.action.kind, Kind::None);
    EXPECT_EQ(notAction.lines, Lines{"<start> now"});
    EXPECT_EQ(t.run(" <stop>").action.kind, Kind::None);
}

TEST(Translation, CopyActionTakesTargetThenSourceAndDeliversNothing) {
    Translator t;
    t.rules.add("cp", "<copy> b.txt a.txt\nsecond line");
    Translation r = t.run("cp");
    EXPECT_EQ(r.action.kind, Kind::Copy);
    EXPECT_EQ(r.action.target, "b.txt");
    EXPECT_EQ(r.action.source, "a.txt");
    EXPECT_TRUE(r.lines.empty());
    Translation missing = t.run("<Copy>");
    EXPECT_EQ(missing.action.kind, Kind::Copy);
    EXPECT_EQ(missing.action.target, "");
}

TEST(Translation, ServerDirectionHasNoActions) {
    Translator t;
    t.actions = false;
    Translation r = t.run("<stop>");
    EXPECT_EQ(r.action.kind, Kind::None);
    EXPECT_EQ(r.lines, Lines{"<stop>"});
    EXPECT_EQ(t.lines("<copy> a b"), Lines{"<copy> a b"});
}

TEST(Translation, EmptyKeyMatchesOnceAtTheStart) {
    Translator t;
    t.rules.add("", "> ");
    EXPECT_EQ(t.lines("abc"), Lines{"> abc"});
    EXPECT_EQ(t.lines(""), Lines{"> "});
    Translator catchAll;
    catchAll.rules.add("", "got <string1>");
    EXPECT_EQ(catchAll.lines("x y"), Lines{"got x"});
    Translator erase;
    erase.rules.add("", "");
    EXPECT_EQ(erase.lines("abc"), Lines{"abc"});
    EXPECT_TRUE(erase.lines("").empty());
}

TEST(Translation, OneTranslatorFindsKeysMadeByEarlierRulesAndForgetsTheLineBefore) {
    // Enough rules for the translator to pass over the keys a text cannot hold.
    RuleTable rules;
    rules.add("ab", "x");
    rules.add("cx", "L");  // made across the left edge of a replacement: "cab" gives "cx"
    rules.add("q", "zz");
    rules.add("xd", "R");  // made across the right edge: "abd" gives "xd"
    rules.add("z", "!");   // a byte that only a replacement brought in
    MemoryFiles files;
    NoteList notes;
    LineTranslator translator(rules, false, true);
    auto lines = [&](const std::string& line) {
        translator.translate(line, files, notes);
        return Lines(translator.lines().begin(), translator.lines().end());
    };
    EXPECT_EQ(lines("cab"), Lines{"L"});
    EXPECT_EQ(lines("abd"), Lines{"R"});
    EXPECT_EQ(lines("q q"), Lines{"!! !!"});
    translator.translate("<copy> t s", files, notes);
    EXPECT_EQ(translator.action().kind, Kind::Copy);
    EXPECT_EQ(lines("plain"), Lines{"plain"});
    EXPECT_EQ(translator.action().kind, Kind::None);
}
