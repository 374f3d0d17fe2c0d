// OS-independent: the program's entry.
#include <iostream>

#include "config/rule_table.h"
#include "config/settings.h"
#include "config/translation_file.h"
#include "startup/command_line.h"

namespace {

relayon::Settings settings;
relayon::RuleTables ruleTables;

}  // namespace

int main(int argc, char** argv) {
    relayon::parseCommandLine(argc, argv, settings);
    relayon::loadTranslationFile(settings, ruleTables, argc > 0 ? argv[0] : nullptr);
    if (settings.CommandLine.empty()) {
        relayon::printUsage(std::cout);
        return 0;
    }
    return 0;
}
