// OS-independent: the reader threads that cut a byte stream into lines.
#include "process/input_thread.h"

#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "text/text_utils.h"
#include "platform/priority.h"

namespace relayon {

namespace {

constexpr int kStopWaitMs = 1000;
// A read error that keeps coming back (not an end of input) ends the reader after this many
// failures in a row, with a pause after each, instead of spinning.
constexpr int kMaxFailedReads = 50;
constexpr auto kFailedReadPause = std::chrono::milliseconds(20);
constexpr int kQuickEmptyReads = 10;

}  // namespace

InputThread::~InputThread() { stop(); }

void InputThread::setHandle(std::shared_ptr<os::Handle> handle) {
    std::lock_guard<std::mutex> guard(handleLock_);
    handle_ = std::move(handle);
}

void InputThread::setBorrowedHandle(os::RawHandle handle) {
    // Shared like an owned one, but released instead of closed when the last user lets go.
    std::shared_ptr<os::Handle> borrowed(new os::Handle(handle), [](os::Handle* h) {
        h->release();
        delete h;
    });
    setHandle(std::move(borrowed));
}

std::shared_ptr<os::Handle> InputThread::handle() const {
    std::lock_guard<std::mutex> guard(handleLock_);
    return handle_;
}

std::string InputThread::failure() const {
    std::lock_guard<std::mutex> guard(failureLock_);
    return failure_;
}

bool InputThread::start(int priority) {
    std::lock_guard<std::mutex> guard(controlLock_);
    if (thread_.joinable()) return true;
    stopRequested_ = false;
    ended_.reset();
    interrupt_.clear();
    {
        std::lock_guard<std::mutex> hold(failureLock_);
        failure_.clear();
    }
    try {
        thread_ = std::thread(&InputThread::run, this, priority);
        registered_ = true;
    } catch (const std::system_error&) {
        stopRequested_ = true;
        return false;
    }
    return true;
}

void InputThread::interrupt() {
    stopRequested_ = true;
    interrupt_.interrupt();
}

bool InputThread::stop() {
    std::lock_guard<std::mutex> guard(controlLock_);
    if (!thread_.joinable()) return true;
    stopRequested_ = true;
    interrupt_.interrupt();
    bool ended;
    const int repeatMs = os::interruptRepeatMs();
    if (repeatMs == 0) {
        ended = ended_.wait(kStopWaitMs);
    } else {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kStopWaitMs);
        while (!(ended = ended_.wait(repeatMs)) && Clock::now() < deadline) interrupt_.interrupt();
    }
    registered_ = false;
    if (!ended) {
        thread_.detach();
        return false;
    }
    thread_.join();
    return true;
}

void InputThread::run(int priority) {
    interrupt_.attachCurrentThread();
    os::setCurrentThreadPriority(priority);
    // Nothing the callback throws may end the process: the reader ends, and says why.
    try {
        readLoop();
    } catch (const std::exception& error) {
        std::lock_guard<std::mutex> guard(failureLock_);
        failure_ = error.what();
    } catch (...) {
        std::lock_guard<std::mutex> guard(failureLock_);
        failure_ = "unknown exception";
    }
    dropped_ = 0;
    interrupt_.detach();
    ended_.set();
}

void InputThread::readLoop() {
    std::vector<char> buffer(readSize != 0 ? readSize : kReadSize);
    std::string line;  // a line that began in an earlier read
    int failedReads = 0;
    int emptyReads = 0;
    while (!stopRequested_) {
        std::shared_ptr<os::Handle> source = handle();
        if (!source || !source->valid()) break;
        os::ReadResult result = os::readSome(source->get(), buffer.data(), buffer.size());
        if (result.status == os::ReadStatus::Data) {
            failedReads = 0;
            emptyReads = 0;
            const bool goOn = cutLines(buffer.data(), result.count, line);
            if (afterRead) afterRead();
            if (!goOn) break;
        } else if (result.status == os::ReadStatus::Empty) {
            // A console's end-of-file key: reading goes on, with a pause if it keeps coming.
            if (++emptyReads > kQuickEmptyReads) std::this_thread::sleep_for(kFailedReadPause);
        } else if (result.status == os::ReadStatus::Error) {
            if (++failedReads >= kMaxFailedReads) break;
            std::this_thread::sleep_for(kFailedReadPause);
        } else {
            // The end of the input, or interrupted by stop.
            if (result.status == os::ReadStatus::End && unfinishedLine && (!line.empty() || dropped_ != 0)) {
                unfinishedLine(line.size() + dropped_);
            }
            break;
        }
    }
}

// Appends bytes [from, to) to line without their carriage returns, up to kMaxLineBytes; the
// bytes beyond are counted as dropped.
void InputThread::append(std::string& line, const char* from, const char* to) {
    dropped_ += appendLineBytes(line, from, to);
}

// Cuts bytes read into lines; false when the thread is to end, because the callback said so or a
// stop was requested (the bytes after that line are never handed over).
// A line that lies wholly in bytes is handed over where it lies, its carriage returns squeezed
// out. Such a line is looked at once for each of the line feed, the carriage return and the
// zero byte: the next carriage return and zero byte in bytes are searched for only once the
// lines before them have gone.
bool InputThread::cutLines(char* bytes, std::size_t count, std::string& line) {
    char* next = bytes;
    char* const end = bytes + count;
    const auto find = [end](char* from, char byte) {
        char* at = static_cast<char*>(std::memchr(from, byte, static_cast<std::size_t>(end - from)));
        return at != nullptr ? at : end;
    };
    char* cr = find(next, '\r');
    char* zero = find(next, '\0');
    while (next < end) {
        char* feed = static_cast<char*>(std::memchr(next, '\n', static_cast<std::size_t>(end - next)));
        if (feed == nullptr) {
            append(line, next, end);  // the rest of the line comes with a later read
            break;
        }
        std::string_view text;
        if (line.empty() && dropped_ == 0) {
            // The text ends at a zero byte; its carriage returns are squeezed out in place.
            char* const last = zero < feed ? zero : feed;
            char* stop = last;
            if (cr < last) {
                stop = cr;
                for (const char* p = cr + 1; p < last; ++p) {
                    if (*p != '\r') *stop++ = *p;
                }
            }
            text = std::string_view(next, static_cast<std::size_t>(stop - next));
        } else {
            append(line, next, feed);
            text = std::string_view(line);
            text = text.substr(0, text.find('\0'));
        }
        if (cr < feed) cr = find(feed, '\r');
        if (zero < feed) zero = find(feed, '\0');
        const bool goOn = !callback || callback(text);
        if (dropped_ != 0) {
            if (lineCut) lineCut(dropped_);
            dropped_ = 0;
        }
        if (!line.empty()) clearBuffer(line);
        next = feed + 1;
        if (!goOn || stopRequested_) return false;
    }
    return true;
}

}  // namespace relayon
