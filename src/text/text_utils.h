// OS-independent: text helpers and limits shared by every subsystem above the OS layer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace relayon {

// The blank set of trimBlanks and of the default field delimiters: space, tab, LF, CR, VT, FF.
extern const char kBlanks[];

// The longest line Relayon receives, builds or inserts, in bytes: what lies beyond is dropped,
// so that memory stays bounded whatever a peer or a file holds.
constexpr std::size_t kMaxLineBytes = 16 * 1024 * 1024;

// Appends text to out, but never past kMaxLineBytes; true when some of it was left out.
inline bool appendWithinLimit(std::string& out, std::string_view text) {
    const std::size_t room = out.size() < kMaxLineBytes ? kMaxLineBytes - out.size() : 0;
    out.append(text.data(), text.size() < room ? text.size() : room);
    return text.size() > room;
}

// Appends the bytes [from, to) of a line to out without their carriage returns, never past
// kMaxLineBytes; returns how many bytes beyond the limit were left out.
std::size_t appendLineBytes(std::string& out, const char* from, const char* to);

// Gathered writes (relayed lines, log entries) are written once they hold this many bytes.
constexpr std::size_t kGatherLimit = 64 * 1024;

// Empties a working buffer, giving back the memory an exceptionally long content took.
void clearBuffer(std::string& buffer);

// True for the blank and the control characters (bytes 1 to 32): where command lines are cut.
bool isBlankOrControl(char c);

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

// Appends byte c as it shows on one line: a tab, line feed or carriage return as \t, \n or \r,
// any other control byte (and DEL) as \xNN, every other byte as it is.
void appendShown(std::string& out, char c);

// text with its control bytes shown as appendShown shows them; backslashes stay single, so that
// a Windows path reads as it was typed.
std::string shownOnOneLine(std::string_view text);

// True when a and b are equal with ASCII letters compared without regard to case.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace relayon
