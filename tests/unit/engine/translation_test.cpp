// The translation of received lines by the translator each pump runs: rules, directives (also
// in the received text itself), control actions and the cut into lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "engine/file_source.h"
#include "engine/translation.h"
#include "../support.h"

using namespace relayon;
using namespace std::string_literals;

namespace {

// The outcome as text: each line in brackets, or the action; then each note in braces.
class Outcome : public NoteSink {
public:
    // The system's reason for a failed open differs between systems.
    void note(const std::string& text) override {
        notes_ += "{" + (text.rfind("Error opening file: ", 0) == 0 ? "Error opening file" : text) + "}";
    }
    std::string take(const LineTranslator& t) {
        std::string out;
        for (std::string_view line : t.lines()) out += "[" + std::string(line) + "]";
        const ControlAction& action = t.action();
        out += std::vector<std::string>{"", "stop", "start", "copy " + action.target + " " + action.source}
            [static_cast<int>(action.kind)];
        out += notes_;
        notes_.clear();
        return out;
    }

private:
    std::string notes_;
};

struct Case {
    std::vector<std::pair<std::string, std::string>> rules;
    std::vector<std::pair<std::string, std::string>> lines;  // received -> outcome
    bool client = true;  // the client direction, where control actions act
};

const Case kCases[] = {
    // Rules in key order, each on the text the ones before left; each occurrence replaced once.
    {{{"abc", "Q"}, {"ab", "xab"}}, {{"abc", "[xQ]"}}},
    {{{"a", "aa"}, {"x", "<x>"}}, {{"A b", "[A b]"}, {"a a", "[aa aa]"}, {"xx", "[<x><x>]"}}},
    // A line the rules empty vanishes without directives; an empty line stays one.
    {{{"ab", ""}, {"b", "<readfile> x"}}, {{"abcab", "[c]"}, {"ababab", ""}, {"", "[]"}}},
    // Keys made across either edge of a replacement, or by bytes only a replacement brought in,
    // are found by later rules; keys taken apart, and keys of rules already passed, are not.
    {{{"ab", "x"}, {"cx", "L"}, {"q", "zz"}, {"xd", "R"}, {"z", "!"}},
     {{"cab", "[L]"}, {"abd", "[R]"}, {"q q", "[!! !!]"}, {"plain", "[plain]"}}},
    {{{"a", "xyz"}, {"y", "Q"}}, {{"a", "[xQz]"}}},
    {{{"a", "c"}, {"bc", "Z"}}, {{"ba", "[Z]"}}},
    {{{"a", "X"}, {"b", "a"}}, {{"b", "[a]"}}},
    {{{"ab", "x"}, {"bc", "Y"}}, {{"abc", "[xc]"}}},
    {{{"ab", "c"}, {"cd", "E"}, {"long key here", "!"}}, {{"abd", "[E]"}}},
    {{{"ab", ""}, {"cd", "Z"}}, {{"cabd", "[Z]"}}},
    {{{"aa", "b"}}, {{"aaa", "[ba]"}}},
    {{{"aa", "X"}, {"ab", "Y"}, {"cd", "Z"}}, {{"aaabcd", "[XYZ]"}, {"cdaa", "[ZX]"}}},
    {{{"ab", "X"}, {"abc", "Y"}}, {{"abc", "[Xc]"}}},
    {{{"abc", "X"}, {"bc", "Y"}, {"c", "Z"}}, {{"abcc", "[XZ]"}}},
    // Keys in unsigned byte order: B before a, z before a byte above 127.
    {{{"a", "1"}, {"B", "a"}, {"z", "\xE9"}, {"\xE9", "2"}}, {{"B", "[1]"}, {"z", "[2]"}}},
    // The empty key matches once, at the start.
    {{{"", "> "}}, {{"abc", "[> abc]"}, {"", "[> ]"}}},
    {{{"", "got <string1>"}}, {{"x y", "[got x]"}}},
    {{{"", ""}}, {{"abc", "[abc]"}, {"", ""}}},
    // Templates: the whole text becomes the value, filled in from the line as received, and the
    // later rules search it.
    {{{"set", "use <string2>-<string3> (<string>) <string7>"}},
     {{"set alpha beta", "[use alpha-beta (set alpha beta) ]"}}},
    {{{"a", "b"}, {"set", "use <string2> x"}, {"x", "y"}}, {{"set a", "[use a y]"}}},
    {{{"1", "<string9><string1>"}}, {{"1 2 3 4 5 6 7 8 9", "[91]"}}},
    {{{"a", "<string4> <STRING1> <string0>"}}, {{"a\vb\fc\rd", "[d <STRING1> <string0>]"}}},
    // Inserted text is not searched for the same placeholder, but for later ones.
    {{{"x", "(<string>)"}, {"b", "<string>"}}, {{"x <string> y", "[(x <string> y)]"}, {"<string2> b", "[b b]"}}},
    {{{"say", "tell"}}, {{"say <string1> <string>", "[tell <string1> <string>]"}}},
    // Delete runs after the placeholders.
    {{{"cut", "<string> <delete> 1"}, {"drop", "<string1> <delete> 1 <string2> <string3>"}},
     {{"cut a b", "[cut a b]"}, {"drop x y", "[drop y]"}}},
    // Readfile: trimmed lines, blank and comment lines skipped, keyword in any case.
    {{{"menu", "<READFILE> x"}},
     {{"menu", "[one][two]{Open file:  x}"},
      {"  <ReadFile>\tx", "[one][two]{Open file: \tx}"},
      {"<readfile> gone", "{Open file:  gone}{Error opening file}"},
      {"<readfile> .", "{Open file:  .}{Error opening file}"},
      {"<readfile>", ""},
      {"<readfile>x", "[<readfile>x]"},
      {"read <readfile> x", "[read <readfile> x]"}}},
    // Delete: the marker, its count and that many words; words rejoined by single blanks.
    {{},
     {{"a b <delete> 2 c d e", "[a b e]"},
      {"a b <delete> 0 c d e", "[a b c d e]"},
      {"a b <delete>", "[a b]"},
      {"a b <delete> 9 c", "[a b]"},
      {"<DELETE> 1 a b <delete>", "[b <delete>]"},
      {"a <delete> x c", "[a c]"},
      {"a <delete> 1z c d", "[a d]"},
      {"a <delete> 0 b <delete> 1 c", "[a b <delete> 1 c]"},
      {"a <delete> -1 b", "[a -1 b]"},
      {"a <delete> -9 b", "[a a <delete> -9 b]"},
      {"a <delete> -99999999999999999999 b", "[a a <delete> -99999999999999999999 b]"},
      {"a <delete> 99999999999999999999 b", "[a]"},
      {"a  b<delete>c   d", "[a b<delete>c d]"},
      {"  x\ty  <delete>  ", "[x\ty]"},
      {"a  b <DELETE>", "[a  b <DELETE>]"}}},
    // Output cut at runs of line feeds.
    {{{"two", "a\n\nb\n"}, {"none", "\n\n"}, {"split", "first\nsecond"}},
     {{"two", "[a][b]"}, {"none", ""}, {"split", "[first][second]"}}},
    // Control actions: the whole text, in any case.
    {{{"cp", "<copy> b.txt a.txt\nsecond line"}},
     {{"<stop>", "stop"},
      {"<STOP>", "stop"},
      {"<Start>", "start"},
      {"<start> now", "[<start> now]"},
      {" <stop>", "[ <stop>]"},
      {"cp", "copy b.txt a.txt"},
      {"<Copy>", "copy  "}}},
    {{}, {{"<stop>", "[<stop>]"}, {"<copy> a b", "[<copy> a b]"}}, false},
};

}  // namespace

TEST(Translation, RulesDirectivesAndActions) {
    test::TempDir dir;
    test::writeWholeFile(dir.file("x"), "one\r\n\n  \t\n;c\n two \n  ;indented comment");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());  // where the readfile directive looks
    DiskFileSource files;
    Outcome outcome;
    for (const Case& c : kCases) {
        RuleTable rules;
        bool templates = false;
        for (const auto& [key, value] : c.rules) {
            rules.add(key, value);
            templates |= value.find("<string") != std::string::npos;
        }
        LineTranslator translator(rules, templates, c.client);
        for (const auto& [received, expected] : c.lines) {
            translator.translate(received, files, outcome);
            EXPECT_EQ(outcome.take(translator), expected) << "'" << received << "'";
            // A translator that has translated other lines gives the same.
            translator.translate("<stop> ab <readfile> x", files, outcome);
            outcome.take(translator);
            translator.translate(received, files, outcome);
            EXPECT_EQ(outcome.take(translator), expected) << "'" << received << "' again";
        }
    }
    std::filesystem::current_path(previous);
}
