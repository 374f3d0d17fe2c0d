// OS-independent: the log file of time-stamped entries.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "diag/stop_watch.h"
#include "text/text_file.h"

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
    bool isOpen() const { return open_; }
    // Writes what was gathered and closes the file; later entries are dropped. Any thread.
    void close();

    // Appends one entry "%d.%03d: %c " + text with CR LF line ends; any thread; nothing while
    // closed. The entry reaches the file before the call returns, in one write with the entries
    // gathered before it, after everything written before it.
    void logLine(std::string_view text, char kind);

    // Like logLine, but the entry may wait in memory, after the entries before it, until
    // flush(), the next logLine or until enough entries have gathered. A reader that gathers the
    // entries of the lines of one read flushes before it waits for more input.
    void gatherLine(std::string_view text, char kind);
    void flush();

private:
    void appendEntry(std::string_view text, char kind);
    void writePending();

    StopWatch& timeBase_;
    std::atomic<bool> open_{false};  // a look without the lock; file_ is used under it
    TextFile file_;
    std::mutex lock_;     // guards file_'s writes and pending_
    std::string pending_; // whole entries, in order, not yet written
};

// The process-wide stop watch (the log's time base) and log. They are never destroyed, so that
// a thread still running at process end (the control handler's) finds them usable.
StopWatch& processStopWatch();
LogFile& processLog();

// Logs to the process-wide log.
void logLine(const std::string& text, char kind);
// Writes the entries gathered for the process-wide log (see LogFile).
void flushLog();

}  // namespace relayon
