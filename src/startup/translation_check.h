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

namespace relayon {

// Writes what the loader made of the translation file to out: the file read, its warnings, the
// settings with their values and where each came from (the file, the command line as
// optionSettings names them, or the default), and each section's rules in the order they apply.
// Then shows what the relay makes of each line read from input, in both directions, through the
// relay's own reader and pumps, carrying out no action. Returns the exit code: 0 for a file read without warnings, 1 with warnings, 2 when no
// file could be read.
int checkTranslation(const Settings& settings, const RuleTables& tables, const TranslationReport& report,
                     const std::vector<std::string>& optionSettings, os::RawHandle input, std::ostream& out);

// A text in double quotes, with backslash escapes for the quote, the backslash and control bytes,
// so that every byte shows.
std::string quoted(const std::string& text);

}  // namespace relayon
