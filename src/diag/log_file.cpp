// OS-independent: log entries and the process-wide log.
#include "diag/log_file.h"

#include <cstdio>
#include <cstring>

namespace relayon {

namespace {

// Room left in front of an entry's text for its prefix: "%d.%03d: %c " of a 32-bit millisecond
// count is at most 15 bytes.
constexpr std::size_t kPrefixRoom = 16;

}  // namespace

bool LogFile::open(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    return file_.open(name, kGenericWrite, true, kOpenAlways, false);
}

bool LogFile::isOpen() const {
    return file_.isOpen();
}

void LogFile::logLine(const std::string& text, char kind) {
    // The handle is set before other threads start and kept until the process ends, so it is
    // read without the lock.
    if (!file_.isOpen()) return;

    // The text part is prepared outside the lock, behind room for the prefix.
    std::string entry(kPrefixRoom, ' ');
    entry.reserve(kPrefixRoom + text.size() + text.size() / 16 + 2);
    appendCrLfText(entry, text);

    std::lock_guard<std::mutex> hold(lock_);
    std::uint32_t ms = timeBase_.elapsed();
    char prefix[64];
    int length = std::snprintf(prefix, sizeof prefix, "%d.%03d: %c ", static_cast<int>(ms / 1000),
                               static_cast<int>(ms % 1000), kind);
    if (length <= 0 || static_cast<std::size_t>(length) > kPrefixRoom) return;
    std::size_t start = kPrefixRoom - static_cast<std::size_t>(length);
    std::memcpy(&entry[start], prefix, static_cast<std::size_t>(length));
    // Prefix and text in one write, so a reader of the file never sees half an entry.
    file_.write(entry.data() + start, entry.size() - start, file_.position());
}

StopWatch& processStopWatch() {
    static StopWatch watch;
    return watch;
}

LogFile& processLog() {
    static LogFile log(processStopWatch());
    return log;
}

void logLine(const std::string& text, char kind) {
    processLog().logLine(text, kind);
}

}  // namespace relayon
