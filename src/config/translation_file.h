// OS-independent: the translation file, which fills the settings and the four rule tables.
#pragma once

#include <istream>
#include <string>

#include "config/rule_table.h"
#include "config/settings.h"

namespace relayon {

// The longest line the file may hold, not counting its line end; a longer one ends the reading.
constexpr std::size_t kMaxTranslationLine = 511;

// The file read when the chosen one cannot be opened.
extern const char kFallbackTranslationFile[];

// Decodes backslash escapes in a zero-terminated buffer, in place (the text never grows);
// returns the buffer. A decoded zero byte ends the text.
char* decodeEscapes(char* text);

// The executable's file name without directory and without what follows its last full stop.
std::string defaultTranslationFileName(const std::string& exePath);

// CpuPower's conversion: with a full stop a decimal number, otherwise an integer.
double parseCpuPower(const std::string& text);

// Reads translation lines from a stream into the settings and the rule tables.
void loadTranslation(std::istream& in, Settings& settings, RuleTables& tables);

// Chooses the translation file (TranslationFile, else the program's name plus ".ini", which
// is then stored in TranslationFile), opens it or else kFallbackTranslationFile, and reads it.
// programArgument is the program's first argument, used for its name only when the system
// cannot say where the executable is. A file that opens nowhere leaves everything unchanged.
void loadTranslationFile(Settings& settings, RuleTables& tables, const char* programArgument = nullptr);

}  // namespace relayon
