// OS-independent: the log file of time-stamped entries.
#pragma once

#include <mutex>
#include <string>

#include "diag/stop_watch.h"
#include "diag/text_file.h"

namespace relayon {

// Kinds of log entries.
constexpr char kClientLine = '>';  // a line received from the client
constexpr char kServerLine = '<';  // a line received from the server
constexpr char kNote = '-';        // a notice of Relayon itself

class LogFile {
public:
    explicit LogFile(StopWatch& timeBase) : timeBase_(timeBase) {}

    // Opens (or creates) the named file for appending, shared for reading only; false leaves
    // the log closed. Made before any thread that logs exists.
    bool open(const std::string& name);
    bool isOpen() const;

    // Appends one entry "%d.%03d: %c " + text with CR LF line ends; any thread; nothing while
    // closed. Each entry reaches the file in one write, after everything written before it.
    void logLine(const std::string& text, char kind);

private:
    StopWatch& timeBase_;
    TextFile file_;
    std::mutex lock_;
};

// The process-wide stop watch (the log's time base) and log.
StopWatch& processStopWatch();
LogFile& processLog();

// Logs to the process-wide log.
void logLine(const std::string& text, char kind);

}  // namespace relayon
