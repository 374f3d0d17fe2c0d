// OS-independent: small text helpers shared by the loader, the engine and the file class.
#pragma once

#include <string>

namespace relayon {

// The blank set of trimBlanks and of the default field delimiters: space, tab, LF, CR, VT, FF.
extern const char kBlanks[];

// A copy of text without leading and trailing blanks.
std::string trimBlanks(const std::string& text);

// Trims a zero-terminated buffer in place, removing every byte of value 32 or less from both
// ends; returns the buffer.
char* trimLine(char* line);

// A decimal integer as atoi reads it: leading blanks skipped, an optional sign, then digits up
// to the first other byte; 0 when there are no digits. Values beyond int are clamped to it.
int readInteger(const std::string& text);

// A number with a full stop as its decimal point, in any locale: leading blanks skipped, an
// optional sign, digits with an optional point, an optional exponent. The longest valid
// prefix counts; 0 when there is none.
double readDecimal(const std::string& text);

// True when a and b are equal with ASCII letters compared without regard to case.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace relayon
