// OS-independent: the translation file, which fills the settings and the four rule tables.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/rule_table.h"
#include "config/settings.h"

namespace relayon {

// The longest line the file may hold, not counting its line end; a longer one ends the reading.
constexpr std::size_t kMaxTranslationLine = 511;

// The most of a translation file that is read, so that a file that never ends (a pipe fed
// without end) cannot fill the memory: the reading ends with the last whole line before it.
constexpr std::size_t kMaxTranslationFileBytes = 16 * 1024 * 1024;

// The file read when the chosen one cannot be opened.
extern const char kFallbackTranslationFile[];

// The rule sections, in the order of the four tables; the index of a section's ruleLines.
enum class RuleSection { Client2Server, Server2Client, Client2Client, Server2Server };
constexpr std::size_t kRuleSectionCount = 4;
const char* sectionHeader(RuleSection section);  // "[Client2Server]" ...
const RuleTable& tableOf(const RuleTables& tables, RuleSection section);
RuleTable& tableOf(RuleTables& tables, RuleSection section);

// What the loader found: where each setting and rule came from, and what in the file was
// ignored, so that a user can see why a rule does not act.
struct TranslationReport {
    struct Warning {
        std::size_t line;  // 0: the file as a whole
        std::string text;
    };
    std::string fileRead;         // the file whose lines were read; empty when none could be
    bool namedFileRead = true;    // false: TranslationFile could not be opened or read ...
    std::string namedFileError;   // ... for this reason, the system's text
    std::vector<Warning> warnings;
    // The line of each setting's last definition, by its key as the Settings field names it.
    std::map<std::string, std::size_t> settingLines;
    // The line of each rule's definition, by key, for each section: noted for every rule when
    // ruleLinesNoted is set before the load, else only once a key is defined twice (those of the
    // rules before are then read again), so that a large file pays for them only when needed.
    bool ruleLinesNoted = false;
    std::map<std::string, std::size_t> ruleLines[kRuleSectionCount];
};

// Decodes backslash escapes in a zero-terminated buffer, in place (the text never grows);
// returns the buffer. A decoded zero byte ends the text.
char* decodeEscapes(char* text);

// The executable's file name without directory and without what follows its last full stop
// anywhere in the path (the Windows program's rule).
std::string defaultTranslationFileName(const std::string& exePath);

// The default translation file for a program path: the Windows rule above plus ".ini", or,
// when replaceExtensionOnly, the path's file name with its extension replaced by ".ini" (or
// ".ini" appended when it has none), whatever its directories are called.
std::string translationFileFor(const std::string& programPath, bool replaceExtensionOnly);

// The translation file a program started as programArgument reads by default (the name after
// the program, translationFileFor the platform's rule).
std::string defaultTranslationFile(const char* programArgument);

// CpuPower's conversion: with a full stop a decimal number, otherwise an integer.
double parseCpuPower(const std::string& text);

// What is wrong with a setting's value (name as the Settings field spells it) as the user gave
// it, in a sentence, or empty when it reads as it looks: a priority that is none of its words,
// a number setting that is not all number, a flag that reads as false though it does not look
// false.
std::string settingProblem(const std::string& name, const std::string& value);

// Reads the text of a translation file into the settings and the rule tables; notes what it
// found in report, when given.
void loadTranslation(std::string_view text, Settings& settings, RuleTables& tables,
                     TranslationReport* report = nullptr);

// Chooses the translation file (TranslationFile, else the one named after the program, which
// is then stored in TranslationFile) and reads it; a file that cannot be opened or read is
// passed over for kFallbackTranslationFile. programArgument is the name the program was
// started by. A file that is read nowhere leaves everything unchanged.
TranslationReport loadTranslationFile(Settings& settings, RuleTables& tables, const char* programArgument = nullptr,
                                      bool ruleLines = false);

}  // namespace relayon
