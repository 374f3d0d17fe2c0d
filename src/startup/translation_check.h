// OS-independent: the check command, which shows how Relayon reads a translation file and what
// it makes of given lines, without starting a server.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "config/rule_table.h"
#include "config/settings.h"
#include "config/translation_file.h"
#include "platform/handle.h"
#include "startup/command_line.h"

namespace relayon {

// Writes what the loader made of the translation file to out: the file read, its warnings and
// those of the options, the settings with their values and where each came from (the file, the
// command line as its optionSettings name them, or the default), the program the server command
// line starts and its folder, and each section's rules in the order they apply. Then shows what
// the relay makes of each line read from input, in both directions, through the relay's own
// reader and pumps, carrying out no action; a person at a terminal is told how to give lines.
// Returns the exit code: 0 without warnings, 1 with warnings, 2 when no file could be read.
int checkTranslation(const Settings& settings, const RuleTables& tables, const TranslationReport& report,
                     const CommandLineRequest& request, os::RawHandle input, std::ostream& out);

// The one line a run writes about a translation file that holds mistakes: the file, the number
// of warnings, the first one, and the check that shows them all.
std::string warningSummary(const TranslationReport& report);

// A text in double quotes, with backslash escapes for the quote, the backslash and control bytes,
// so that every byte shows.
std::string quoted(const std::string& text);

}  // namespace relayon
