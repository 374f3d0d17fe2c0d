// OS-independent: the command line's options and server command line, and the usage text.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "config/settings.h"

namespace relayon {

// What a run is asked to do.
enum class Request {
    Relay,    // start the server and relay (or print the usage when there is no server)
    Help,     // print the usage: "-h", "--help", "/?" or "-?" where the server command line begins
    Version,  // print the version line: "--version" there
    Check,    // show how the translation file reads: "--check" there, then an optional file name
    Invalid,  // arguments that ask for one of the above wrongly; problem says why
};

// The check command's option.
extern const char kCheckOption[];

struct CommandLineRequest {
    Request request = Request::Relay;
    // The settings the options set, as the Settings fields are named ("TranslationFile", ...).
    std::vector<std::string> optionSettings;
    std::string problem;
    // Option values that do not read as they look, each as "option /p: " and why.
    std::vector<std::string> warnings;
};

// Fills the settings from the argument vector (argv[0], the program, is skipped): the options
// /t /p /h /l /d /b /c, matched exactly, then the server command line from the first other
// argument on, its arguments joined by single blanks. A later option overrides an earlier
// one; an option that needs a value but is the last argument is ignored. A help, version or
// check form where the server command line would begin asks for that instead; the check
// command's file name, when given, becomes TranslationFile.
CommandLineRequest parseCommandLine(int argc, const char* const* argv, Settings& settings);

// Writes the usage text, line by line; its first line is the version line.
void printUsage(std::ostream& out);
void printVersion(std::ostream& out);
// Writes the complete help; defaultFile is the translation file read without /t.
void printHelp(std::ostream& out, const std::string& defaultFile);

// For a server command line that begins with a dash form of one of the options ("-t ..."), a
// hint that the options are written with a slash; otherwise empty.
std::string optionHint(const std::string& commandLine);

}  // namespace relayon
