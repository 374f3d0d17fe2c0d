#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "startup/command_line.h"
#include "startup/control_handler.h"

using namespace relayon;

namespace {

// Parses the arguments after the program name into fresh settings.
Settings parse(std::vector<const char*> args, Request* request = nullptr) {
    args.insert(args.begin(), "relayon");
    Settings settings;
    const Request made = parseCommandLine(static_cast<int>(args.size()), args.data(), settings).request;
    if (request) *request = made;
    return settings;
}

// The settings that the arguments changed, then the server command line in brackets.
std::string parsed(const std::vector<const char*>& args) {
    const Settings s = parse(args);
    std::ostringstream text;
    if (!s.TranslationFile.empty()) text << "t=" << s.TranslationFile << " ";
    if (!s.Priority.empty()) text << "p=" << s.Priority << " ";
    if (!s.ThreadPriority.empty()) text << "h=" << s.ThreadPriority << " ";
    if (!s.Log.empty()) text << "l=" << s.Log << " ";
    if (s.Debug != 0) text << "d=" << s.Debug << " ";
    text << (s.Boost ? "" : "b=0 ") << (s.Ctrl ? "" : "c=0 ") << "[" << s.CommandLine << "]";
    return text.str();
}

}  // namespace

TEST(CommandLine, OptionsThenTheServerCommandLine) {
    const struct {
        std::vector<const char*> args;
        const char* expected;
    } cases[] = {
        {{"/t", "rules.ini", "/p", "high", "/h", "Lowest", "/l", "run.log", "/d", "3", "/b", "0", "/c", "srv", "-x"},
         "t=rules.ini p=high h=Lowest l=run.log d=3 b=0 c=0 [srv -x]"},
        {{}, "[]"}, {{"/d", "3", "srv", "-x"}, "d=3 [srv -x]"},
        {{"srv", "/d", "3", "/c"}, "[srv /d 3 /c]"},  // options after the server are its arguments
        {{"/t", "/c", "srv"}, "t=/c [srv]"},          // a value is taken whatever it looks like
        {{"/l", "", "/p", "srv", "x"}, "p=srv [x]"},
        {{"/c", "/c", "/d", "1", "/d", "2", "/p", "idle", "/p", "high", "srv"}, "p=high d=2 c=0 [srv]"},
        {{"/usr/bin/srv", "-v"}, "[/usr/bin/srv -v]"},
        {{"C:\\Program Files\\srv.exe", "a b", "", "c"}, "[C:\\Program Files\\srv.exe a b  c]"},
        {{"/d", "2", ""}, "d=2 []"},  // an empty argument starts the server command line
        {{"", "x"}, "[ x]"}, {{"/d", " -2x"}, "d=-2 []"}, {{"/d", "three"}, "[]"},
    };
    for (const auto& c : cases) EXPECT_EQ(parsed(c.args), c.expected) << "case " << &c - cases;
}

TEST(CommandLine, ExactOptionsBoostValuesAndAMissingValue) {
    for (const char* arg : {"/T", "-t", "/tx", "/t=x", "/", "//t", "/c ", "/C", "/x"}) {
        EXPECT_EQ(parsed({arg, "value"}), "[" + std::string(arg) + " value]");
    }
    for (const char* off : {"0", "off", "F", "no", "yes", ""}) EXPECT_EQ(parsed({"/b", off}), "b=0 []") << off;
    for (const char* on : {"1", "on", "True"}) EXPECT_EQ(parsed({"/b", on}), "[]") << on;
    // An option without its value at the end is ignored.
    for (const char* option : {"/t", "/p", "/h", "/l", "/d", "/b"}) {
        EXPECT_EQ(parsed({"/p", "high", "/d", "1", "/b", "0", option}), "p=high d=1 b=0 []") << option;
    }
}

TEST(CommandLine, HelpVersionAndCheckFormsWhereTheServerCommandLineBegins) {
    const struct {
        std::vector<const char*> args;
        Request request;
        const char* translationFile;
    } cases[] = {
        {{"/t", "a.ini", "--check"}, Request::Check, "a.ini"}, {{"--check", "b.ini"}, Request::Check, "b.ini"}, {{"--check", "b.ini", "c"}, Request::Invalid, ""},
        {{"srv", "--help"}, Request::Relay, ""}, {{"/h", "--help"}, Request::Relay, ""}, {{"-H"}, Request::Relay, ""},
    };
    for (const auto& c : cases) {
        Request request = Request::Relay;
        EXPECT_EQ(parse(c.args, &request).TranslationFile, c.translationFile) << "case " << &c - cases;
        EXPECT_EQ(request, c.request) << "case " << &c - cases;
    }
}

TEST(ControlHandler, DecisionsForEventsServerAndDebugMask) {
    // Debug 0: Ctrl-C and Break go to a known server only, silently; others are not handled.
    // Debug exactly 2: other events reach the log only.
    const struct {
        unsigned event;
        std::uint32_t serverId;
        int debug;
        const char* decided;
    } cases[] = {{0, 1234, 0, "forward handled "}, {1, 1234, 0, "forward handled "}, {0, 0, 0, "handled "},
                 {2, 1234, 0, ""}, {6, 1234, 0, ""},
                 {1, 1234, 1, "forward console log handled Control signal BREAK\n"},
                 {1, 1234, 3, "forward console log handled Control signal BREAK\n"},
                 {0, 0, 1, "console log handled Control signal CTRL-C\n"},
                 {5, 1234, 1, "console log Control signal LOGOFF\n"}, {3, 1234, 3, "console log Control signal unknown\n"},
                 {4, 1234, 1, "console log Control signal unknown\n"}, {6, 1234, 1, "console log Control signal SHUTDOWN\n"},
                 {2, 1234, 2, "log Control signal CLOSE\n"},
                 {0, 1234, 2, "forward console log handled Control signal CTRL-C\n"}};
    for (const auto& c : cases) {
        const ControlDecision d = decideControlEvent(c.event, c.serverId, c.debug);
        EXPECT_EQ(std::string(d.forward ? "forward " : "") + (d.toConsole ? "console " : "") +
                      (d.toLog ? "log " : "") + (d.handled ? "handled " : "") + d.message,
                  c.decided)
            << c.event << " " << c.serverId << " " << c.debug;
    }
}
