#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "config/translation_file.h"
#include "startup/command_line.h"

using namespace relayon;

namespace {

// Parses the arguments after the program name into fresh settings.
Settings parse(std::vector<const char*> args) {
    args.insert(args.begin(), "relayon");
    Settings settings;
    parseCommandLine(static_cast<int>(args.size()), args.data(), settings);
    return settings;
}

}  // namespace

TEST(CommandLine, OptionsThenServerCommandLine) {
    Settings s = parse({"/t", "rules.ini", "/p", "high", "/h", "Lowest", "/l", "run.log", "/d", "3", "/b", "0",
                        "/c", "server.exe", "-x"});
    EXPECT_EQ(s.TranslationFile, "rules.ini");
    EXPECT_EQ(s.Priority, "high");
    EXPECT_EQ(s.ThreadPriority, "Lowest");
    EXPECT_EQ(s.Log, "run.log");
    EXPECT_EQ(s.Debug, 3);
    EXPECT_FALSE(s.Boost);
    EXPECT_FALSE(s.Ctrl);
    EXPECT_EQ(s.CommandLine, "server.exe -x");

    s = parse({"server.exe", "/d", "3", "/c"});  // options after the server belong to it
    EXPECT_EQ(s.Debug, 0);
    EXPECT_TRUE(s.Ctrl);
    EXPECT_EQ(s.CommandLine, "server.exe /d 3 /c");
}

TEST(CommandLine, ValuesAreTakenWhateverTheyLookLike) {
    Settings s = parse({"/t", "/c", "srv"});
    EXPECT_EQ(s.TranslationFile, "/c");
    EXPECT_TRUE(s.Ctrl);
    EXPECT_EQ(s.CommandLine, "srv");

    s = parse({"/l", "", "/p", "srv", "x"});
    EXPECT_EQ(s.Log, "");
    EXPECT_EQ(s.Priority, "srv");
    EXPECT_EQ(s.CommandLine, "x");
}

TEST(CommandLine, OnlyExactOptionsCount) {
    for (const char* arg : {"/T", "-t", "/tx", "/t=x", "/", "//t", "/c ", "/C", "/x"}) {
        Settings s = parse({arg, "value"});
        EXPECT_EQ(s.CommandLine, std::string(arg) + " value") << arg;
        EXPECT_TRUE(s.TranslationFile.empty()) << arg;
        EXPECT_TRUE(s.Ctrl) << arg;
    }
    // An absolute POSIX path is no option either.
    EXPECT_EQ(parse({"/usr/bin/srv", "-v"}).CommandLine, "/usr/bin/srv -v");
}

TEST(CommandLine, RepeatsAndLastOccurrence) {
    Settings s = parse({"/c", "/c", "/d", "1", "/d", "2", "/p", "idle", "/p", "high", "srv"});
    EXPECT_FALSE(s.Ctrl);
    EXPECT_EQ(s.Debug, 2);
    EXPECT_EQ(s.Priority, "high");
    EXPECT_EQ(s.CommandLine, "srv");
}

TEST(CommandLine, ArgumentsJoinedWithSingleBlanksAsTheyAre) {
    EXPECT_EQ(parse({"C:\\Program Files\\srv.exe", "a b", "", "c"}).CommandLine,
              "C:\\Program Files\\srv.exe a b  c");
    // An empty argument starts the server command line, which may then be empty.
    Settings s = parse({"/d", "2", ""});
    EXPECT_EQ(s.Debug, 2);
    EXPECT_EQ(s.CommandLine, "");
    EXPECT_EQ(parse({"", "x"}).CommandLine, " x");
    EXPECT_EQ(parse({}).CommandLine, "");
}

TEST(CommandLine, DebugAndBoostConversions) {
    EXPECT_EQ(parse({"/d", " -2x"}).Debug, -2);
    EXPECT_EQ(parse({"/d", "three"}).Debug, 0);
    for (const char* off : {"0", "off", "F", "no", "yes", ""}) EXPECT_FALSE(parse({"/b", off}).Boost) << off;
    for (const char* on : {"1", "on", "True"}) EXPECT_TRUE(parse({"/b", on}).Boost) << on;
}

TEST(CommandLine, AnOptionMissingItsValueIsIgnored) {
    for (const char* option : {"/t", "/p", "/h", "/l", "/d", "/b"}) {
        Settings s = parse({"/p", "high", "/d", "1", "/b", "0", option});
        EXPECT_TRUE(s.TranslationFile.empty() && s.ThreadPriority.empty() && s.Log.empty()) << option;
        EXPECT_TRUE(s.Priority == "high" && s.Debug == 1 && !s.Boost) << option;
        EXPECT_EQ(s.CommandLine, "") << option;
    }
}

TEST(CommandLine, TheTranslationFileOverridesOptions) {
    Settings s = parse({"/d", "1", "/p", "high", "/c", "/b", "0", "from-arguments"});
    RuleTables tables;
    std::istringstream file("[Relayon]\nDebug:=3\nPriority:=idle\nCtrl:=1\nCommandLine:=\n");
    loadTranslation(file, s, tables);
    EXPECT_EQ(s.Debug, 3);
    EXPECT_EQ(priorityClassFromName(s.Priority), 64);
    EXPECT_TRUE(s.Ctrl);
    EXPECT_FALSE(s.Boost);  // not in the file: the option stays
    EXPECT_EQ(s.CommandLine, "");  // an empty CommandLine in the file still replaces it
}
