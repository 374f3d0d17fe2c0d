// OS-independent: log entries and the process-wide log.
#include "diag/log_file.h"

#include "text/text_utils.h"

namespace relayon {

namespace {

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
    open_ = file_.open(name, kGenericWrite, true, kOpenAlways);
    return open_;
}

void LogFile::close() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return;
    writePending();
    open_ = false;
    file_.close();
}

// Each entry point looks at the flag without the lock, so that a run without a log costs
// nothing, and again under it, since the file may have been closed meanwhile.
void LogFile::logLine(std::string_view text, char kind) {
    if (!open_) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return;
    appendEntry(text, kind);
    writePending();
}

void LogFile::gatherLine(std::string_view text, char kind) {
    if (!open_) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return;
    appendEntry(text, kind);
    if (pending_.size() >= kGatherLimit) writePending();
}

void LogFile::flush() {
    if (!open_) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (open_) writePending();
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
    file_.write(pending_.data(), pending_.size());
    clearBuffer(pending_);
}

StopWatch& processStopWatch() {
    static StopWatch* watch = new StopWatch;
    return *watch;
}

LogFile& processLog() {
    static LogFile* log = new LogFile(processStopWatch());
    return *log;
}

void logLine(const std::string& text, char kind) {
    processLog().logLine(text, kind);
}

void flushLog() {
    processLog().flush();
}

}  // namespace relayon
