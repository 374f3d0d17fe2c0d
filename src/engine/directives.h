// OS-independent: the text directives that rule values carry (read a file, fill in words of the
// received line, delete words).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/file_source.h"

namespace relayon {

// Receives the notes a directive leaves for the log.
class NoteSink {
public:
    virtual ~NoteSink() = default;
    virtual void note(const std::string& text) = 0;
};

// When word 1 of text is "<readfile>" (any case), text becomes the file's lines, trimmed, with
// blank and ';' lines left out, each followed by a line feed; empty when the file is missing.
// Notes "Open file: " + name before reading and "Error opening file: " + system text on failure.
// The text is kept to kMaxLineBytes: returns true when the file's lines were cut there.
bool applyReadFile(std::string& text, FileSource& files, NoteSink& notes);

// Replaces "<string>" by the source line and "<string1>".."<string9>" by its words 1 to 9. The
// text is kept to kMaxLineBytes: returns true when it was cut there.
bool substitutePlaceholders(std::string& text, const std::string& source);

// The placeholders that text holds, in the order substitutePlaceholders fills them, each with
// what it takes from the source line.
std::vector<std::pair<std::string, std::string>> placeholdersIn(const std::string& text, const std::string& source);

// When text contains "<delete>", rejoins its space-separated words with single spaces, leaving
// out a "<delete>" marker word (any case), the count word after it and that many further words.
void applyDelete(std::string& text);

}  // namespace relayon
