// OS-independent: log entries and the process-wide log.
#include "diag/log_file.h"

namespace relayon {

namespace {

// Gathered entries are written once they hold this many bytes.
constexpr std::size_t kGatherLimit = 64 * 1024;

// Formats "%d.%03d: %c " of the milliseconds (seconds, three digits of milliseconds, the kind)
// into out, which has room for the longest (15 bytes); returns its length.
std::size_t formatPrefix(char* out, std::uint32_t ms, char kind) {
    char digits[10];
    int count = 0;
    std::uint32_t seconds = ms / 1000;
    do {
        digits[count++] = static_cast<char>('0' + seconds % 10);
        seconds /= 10;
    } while (seconds != 0);
    char* p = out;
    while (count > 0) *p++ = digits[--count];
    const std::uint32_t rest = ms % 1000;
    *p++ = '.';
    *p++ = static_cast<char>('0' + rest / 100);
    *p++ = static_cast<char>('0' + rest / 10 % 10);
    *p++ = static_cast<char>('0' + rest % 10);
    *p++ = ':';
    *p++ = ' ';
    *p++ = kind;
    *p++ = ' ';
    return static_cast<std::size_t>(p - out);
}

}  // namespace

bool LogFile::open(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    return file_.open(name, kGenericWrite, true, kOpenAlways, false);
}

bool LogFile::isOpen() const {
    return file_.isOpen();
}

// The handle is set before other threads start and kept until the process ends, so each entry
// point reads it without the lock.
void LogFile::logLine(std::string_view text, char kind) {
    if (!file_.isOpen()) return;
    std::lock_guard<std::mutex> hold(lock_);
    appendEntry(text, kind);
    writePending();
}

void LogFile::gatherLine(std::string_view text, char kind) {
    if (!file_.isOpen()) return;
    std::lock_guard<std::mutex> hold(lock_);
    appendEntry(text, kind);
    if (pending_.size() >= kGatherLimit) writePending();
}

void LogFile::flush() {
    if (!file_.isOpen()) return;
    std::lock_guard<std::mutex> hold(lock_);
    writePending();
}

// The time stamp is taken under the lock, so the entries stand in the file in time order.
void LogFile::appendEntry(std::string_view text, char kind) {
    char prefix[16];
    pending_.append(prefix, formatPrefix(prefix, timeBase_.elapsed(), kind));
    appendCrLfText(pending_, text);
}

// A failed write loses what was pending; later entries are still tried.
void LogFile::writePending() {
    if (pending_.empty()) return;
    file_.write(pending_.data(), pending_.size(), file_.position());
    pending_.clear();
    // Memory taken by an exceptionally long entry is given back.
    if (pending_.capacity() > 4 * kGatherLimit) pending_.shrink_to_fit();
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

void gatherLogLine(std::string_view text, char kind) {
    processLog().gatherLine(text, kind);
}

void flushLog() {
    processLog().flush();
}

}  // namespace relayon
