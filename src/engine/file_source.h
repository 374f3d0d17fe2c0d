// OS-independent: where the readfile directive gets the lines of a file from.
#pragma once

#include <string>
#include <vector>

namespace relayon {

class FileSource {
public:
    virtual ~FileSource() = default;

    // Reads every line of the named file, without line ends, into lines. When the file cannot
    // be opened, returns false and puts the system's message text for the failure in errorText.
    virtual bool readLines(const std::string& name, std::vector<std::string>& lines,
                           std::string& errorText) = 0;
};

// Reads files from disk: the name trimmed of blanks, an existing file, opened for reading and
// left readable by others meanwhile; lines with CRs dropped.
class DiskFileSource : public FileSource {
public:
    bool readLines(const std::string& name, std::vector<std::string>& lines, std::string& errorText) override;
};

}  // namespace relayon
