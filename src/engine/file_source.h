// OS-independent: where the readfile directive gets the lines of a file from.
#pragma once

#include <functional>
#include <string>

namespace relayon {

class FileSource {
public:
    // Receives one line; false stops the reading.
    using LineSink = std::function<bool(const std::string& line)>;

    virtual ~FileSource() = default;

    // Hands every line of the named file, without its line end, to sink in order, until sink
    // returns false. When the file cannot be read, returns false and puts the system's message
    // text for the failure in errorText.
    virtual bool readLines(const std::string& name, const LineSink& sink, std::string& errorText) = 0;
};

// Reads files from disk: the name trimmed of blanks, an existing regular file (a device or a
// pipe could never end), opened for reading and left readable by others meanwhile; lines with
// CRs dropped.
class DiskFileSource : public FileSource {
public:
    bool readLines(const std::string& name, const LineSink& sink, std::string& errorText) override;
};

}  // namespace relayon
