// In-memory stand-ins for the file source and the note sink of the translation.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "text/text_utils.h"
#include "engine/directives.h"
#include "engine/file_source.h"

namespace relayon {

// Files by name; the name asked for is trimmed first, as the real file class does.
class MemoryFiles : public FileSource {
public:
    std::map<std::string, std::vector<std::string>> files;
    std::vector<std::string> requested;  // names as they were asked for

    bool readLines(const std::string& name, const LineSink& sink, std::string& errorText) override {
        requested.push_back(name);
        auto it = files.find(trimBlanks(name));
        if (it == files.end()) {
            errorText = "No such file";
            return false;
        }
        for (const std::string& line : it->second) {
            if (!sink(line)) break;
        }
        return true;
    }
};

class NoteList : public NoteSink {
public:
    std::vector<std::string> notes;
    void note(const std::string& text) override { notes.push_back(text); }
};

}  // namespace relayon
