#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "config/translation_file.h"
#include "platform/program_path.h"

using namespace relayon;
using namespace std::string_literals;

namespace {

struct Loaded {
    Settings settings;
    RuleTables tables;
};

Loaded load(const std::string& text) {
    Loaded result;
    std::istringstream in(text);
    loadTranslation(in, result.settings, result.tables);
    return result;
}

// decodeEscapes on a copy of text in a buffer of exactly its size.
std::string decoded(const std::string& text) {
    std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    char* result = decodeEscapes(buffer.get());
    EXPECT_EQ(result, buffer.get());
    return result;
}

std::string valueOf(const RuleTable& table, const std::string& key) {
    const std::string* value = table.findExact(key);
    return value ? *value : "<none>";
}

}  // namespace

TEST(DecodeEscapes, OneLetterEscapes) {
    EXPECT_EQ(decoded("\\n\\t\\v\\b\\r\\f\\a\\\\\\?\\'\\\""), "\n\t\v\b\r\f\a\\?'\"");
    EXPECT_EQ(decoded("\\\\n"), "\\n");  // a pair is consumed as a unit
    EXPECT_EQ(decoded("C:\\server\\N\\8\\9"), "C:\\server\\N\\8\\9");
    EXPECT_EQ(decoded("end\\"), "end\\");
    EXPECT_EQ(decoded("\\\\\\"), "\\\\");
}

TEST(DecodeEscapes, NumericEscapesTakeTheWholeRunAndKeepEightBits) {
    EXPECT_EQ(decoded("\\x41"), "A");
    EXPECT_EQ(decoded("\\x41B"), "\x1B");
    EXPECT_EQ(decoded("\\xfFz"), "\xFFz");
    EXPECT_EQ(decoded("\\xg"), "\\xg");
    EXPECT_EQ(decoded("a\\x"), "a\\x");
    EXPECT_EQ(decoded("\\101\\60"), "A0");
    EXPECT_EQ(decoded("\\1018"), "A8");
    EXPECT_EQ(decoded("\\501"), "A");  // 0501 is 321; its low 8 bits are 65
    // Runs far longer than any number type: only the low 8 bits of the number remain.
    EXPECT_EQ(decoded("\\x" + std::string(40, 'F') + "3Az"), ":z");
    EXPECT_EQ(decoded("\\" + std::string(30, '7') + "101z"), "Az");
    EXPECT_EQ(decoded("x\\" + std::string(500, '1') + "\\q\\"), "x\x49\\q\\");
}

TEST(DecodeEscapes, ADecodedZeroEndsTheText) {
    EXPECT_EQ(decoded("ab\\0cd"), "ab");
    EXPECT_EQ(decoded("ab\\x00zz"), "ab");
    EXPECT_EQ(decoded("ab\\x00cd"), "ab\xCD");  // c and d are hexadecimal digits of the run
    EXPECT_EQ(decoded("\\400"), "");            // 256 keeps no bits
}

TEST(DefaultTranslationFileName, NameBetweenLastSeparatorAndLastFullStop) {
    EXPECT_EQ(defaultTranslationFileName("C:\\tools\\relay.exe"), "relay");
    EXPECT_EQ(defaultTranslationFileName("/usr/local/bin/relay"), "relay");
    EXPECT_EQ(defaultTranslationFileName("relay.tar.gz"), "relay.tar");
    EXPECT_EQ(defaultTranslationFileName("dir\\sub/relay.exe"), "sub/relay");  // backslash first
    EXPECT_EQ(defaultTranslationFileName("/home/a.b/relay"), "");  // full stop before the name
    EXPECT_EQ(defaultTranslationFileName(""), "");
}

TEST(LoadTranslation, SectionsAndLinesThatAreNoEntries) {
    Loaded l = load(
        "before:=ignored\n"
        "[client2server] ; comment\n"  // not a header: the section stays none
        "a:=1\n"
        "[SERVER2CLIENT]\nk2:=b\n"
        "[Client2Client]\nk3:=c\n"
        "[sErVeR2sErVeR]\nk4:=d\n"
        "  [relayon]  \nLog:=x.log\n"
        "[client2server]\n"
        "; c:=comment\n"
        "   ;d:=comment too\n"
        "[Unknown]\n"  // not a header: the section stays
        "e:=5\n"
        "no separator\n"
        "f := 6 ; not a comment\n"
        "[Server2Client]\n[Client2Server]\n"  // a repeated header continues the same table
        "g:=7\n");
    const RuleTable& t = l.tables.client2Server;
    EXPECT_EQ(valueOf(t, "e"), "5");
    EXPECT_EQ(valueOf(t, "f"), "6 ; not a comment");
    EXPECT_EQ(valueOf(t, "g"), "7");
    EXPECT_EQ(t.rules().size(), 3u);
    EXPECT_EQ(valueOf(l.tables.server2Client, "k2"), "b");
    EXPECT_EQ(valueOf(l.tables.client2Client, "k3"), "c");
    EXPECT_EQ(valueOf(l.tables.server2Server, "k4"), "d");
    EXPECT_EQ(l.settings.Log, "x.log");
}

TEST(LoadTranslation, SplittingAtTheFirstSeparator) {
    Loaded l = load(
        "[Server2Server]\n"
        "k1:=v\nk2 := v\nk3 \t \t:=\t  v\t \n"
        "k4:=v:=w\n"
        ":=empty key\n"
        "\\n:=key stays as written\n"
        "k6:=\\x20\n"
        "k1:=second\n");
    const RuleTable& t = l.tables.server2Server;
    EXPECT_EQ(valueOf(t, "k1"), "v");  // the first definition wins
    EXPECT_EQ(valueOf(t, "k2"), "v");
    EXPECT_EQ(valueOf(t, "k3"), "v");
    EXPECT_EQ(valueOf(t, "k4"), "v:=w");
    EXPECT_EQ(valueOf(t, ""), "empty key");
    EXPECT_EQ(valueOf(t, "\\n"), "key stays as written");
    EXPECT_EQ(valueOf(t, "k6"), " ");  // trimmed before decoding
}

TEST(LoadTranslation, EverySettingKeyAndItsConversion) {
    Loaded l = load(
        "[Relayon]\n"
        "PRIORITY:=high\npriority:=Above\n"  // the last one wins
        "threadpriority:=highest\n"
        "Boost:=off\n"
        "CommandLine:=C:\\\\tools\\\\srv.exe \\\"a b\\\"\n"
        "Debug:=3 sides\n"
        "Log:=C:\\new.log\n"
        "Ctrl:=0\n"
        "TerminateHard:=True\n"
        "EndLineServer:=\\r\\n\n"
        "EndLineClient:=\n"
        "cpupower:=12.5\n"
        "Unknown:=ignored\n");
    const Settings& s = l.settings;
    EXPECT_EQ(s.Priority, "Above");
    EXPECT_EQ(s.ThreadPriority, "highest");
    EXPECT_FALSE(s.Boost);
    EXPECT_EQ(s.CommandLine, "C:\\tools\\srv.exe \"a b\"");
    EXPECT_EQ(s.Debug, 3);
    EXPECT_EQ(s.Log, "C:\new.log");  // an undoubled backslash before n is a line feed
    EXPECT_FALSE(s.Ctrl);
    EXPECT_TRUE(s.TerminateHard);
    EXPECT_EQ(s.EndLineServer, "\r\n");
    EXPECT_EQ(s.EndLineClient, "");
    EXPECT_EQ(s.CpuPower, 12.5);
    EXPECT_FALSE(s.StringRulesPresent);
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
    const std::string line512 = "k:=" + std::string(509, 'v');

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
    EXPECT_EQ(zero.settings.Log, "a.log");
    EXPECT_EQ(zero.settings.Debug, 2);

    Loaded bom = load("\xEF\xBB\xBF[Relayon]\nDebug:=2\n[Relayon]\nLog:=x\n");
    EXPECT_EQ(bom.settings.Debug, 0);
    EXPECT_EQ(bom.settings.Log, "x");

    Loaded crlf = load("[Relayon]\r\nLog:=a\rb\r\n\r\nDebug:=4");
    EXPECT_EQ(crlf.settings.Log, "a\rb");
    EXPECT_EQ(crlf.settings.Debug, 4);

    Loaded high = load("[Server2Client]\n\xE9t\xE9:=\xA0v\x7F\n");
    EXPECT_EQ(valueOf(high.tables.server2Client, "\xE9t\xE9"), "\xA0v\x7F");
}

// Files are read relative to the working directory; each test runs in a fresh one.
class LoadTranslationFile : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               (std::string("relayon-config-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    void write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }

    std::filesystem::path previous_, dir_;
    Settings settings_;
    RuleTables tables_;
};

TEST_F(LoadTranslationFile, DefaultNameComesFromTheExecutable) {
    EXPECT_EQ(defaultTranslationFileName(os::executablePath()), "translation_file_test");
    write("translation_file_test.ini", "[Relayon]\nDebug:=5\n");
    write("Relayon.ini", "[Relayon]\nDebug:=6\n");
    loadTranslationFile(settings_, tables_);
    EXPECT_EQ(settings_.TranslationFile, "translation_file_test.ini");
    EXPECT_EQ(settings_.Debug, 5);
}

TEST_F(LoadTranslationFile, NamedFileThenFallback) {
    write("mine.txt", "[Client2Server]\nk:=mine\n");
    write("Relayon.ini", "[Client2Server]\nk:=fallback\n[Relayon]\nCommandLine:=srv\n");
    settings_.TranslationFile = (dir_ / "mine.txt").string();
    loadTranslationFile(settings_, tables_);
    EXPECT_EQ(valueOf(tables_.client2Server, "k"), "mine");
    EXPECT_EQ(settings_.CommandLine, "");

    Settings other;
    RuleTables otherTables;
    other.TranslationFile = "missing.ini";
    loadTranslationFile(other, otherTables);
    EXPECT_EQ(other.TranslationFile, "missing.ini");
    EXPECT_EQ(valueOf(otherTables.client2Server, "k"), "fallback");
    EXPECT_EQ(other.CommandLine, "srv");
}

TEST_F(LoadTranslationFile, NoFileLeavesEverythingAsItWas) {
    settings_.CommandLine = "from arguments";
    loadTranslationFile(settings_, tables_);
    EXPECT_EQ(settings_.CommandLine, "from arguments");
    EXPECT_EQ(settings_.TranslationFile, "translation_file_test.ini");
    EXPECT_TRUE(tables_.client2Server.empty());
}
