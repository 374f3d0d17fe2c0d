// OS-independent: the command line's options and server command line, and the usage text.
#pragma once

#include <ostream>

#include "config/settings.h"

namespace relayon {

// Fills the settings from the argument vector (argv[0], the program, is skipped): the options
// /t /p /h /l /d /b /c, matched exactly, then the server command line from the first other
// argument on, its arguments joined by single blanks. A later option overrides an earlier
// one; an option that needs a value but is the last argument is ignored.
void parseCommandLine(int argc, const char* const* argv, Settings& settings);

// Writes the usage text, line by line.
void printUsage(std::ostream& out);

}  // namespace relayon
