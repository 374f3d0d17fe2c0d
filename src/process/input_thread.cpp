// OS-independent: the reader threads that cut a byte stream into lines.
#include "process/input_thread.h"

#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/priority.h"

namespace relayon {

namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr int kStopWaitMs = 1000;
constexpr int kInterruptRepeatMs = 10;
// A read error that keeps coming back (not an end of input) ends the reader after this many
// failures in a row, with a pause after each, instead of spinning.
constexpr int kMaxFailedReads = 50;
constexpr auto kFailedReadPause = std::chrono::milliseconds(20);
constexpr int kQuickEmptyReads = 10;

// The reader whose thread this is, so that its callback's calls of start and stop never wait
// for the lock that a stop on another thread holds while it waits for this very thread.
thread_local const InputThread* currentReader = nullptr;

// Appends bytes [from, to) to line without its carriage returns.
void appendWithoutCr(std::string& line, const char* from, const char* to) {
    while (from < to) {
        const char* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(to - from)));
        const char* stop = cr ? cr : to;
        line.append(from, stop);
        from = cr ? cr + 1 : to;
    }
}

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

bool InputThread::start(int priority) {
    if (currentReader == this) return true;  // its own thread is registered
    std::lock_guard<std::mutex> guard(controlLock_);
    if (thread_.joinable()) return true;
    stopRequested_ = false;
    ended_.reset();
    interrupt_.clear();
    try {
        thread_ = std::thread(&InputThread::run, this, priority);
        registered_ = true;
    } catch (const std::system_error&) {
        stopRequested_ = true;
        return false;
    }
    return true;
}

void InputThread::stop() {
    if (currentReader == this) {  // from its callback: the thread ends after it, stop joins later
        stopRequested_ = true;
        return;
    }
    std::lock_guard<std::mutex> guard(controlLock_);
    if (!thread_.joinable()) return;
    stopRequested_ = true;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kStopWaitMs);
    bool ended = false;
    do {
        interrupt_.interrupt();  // repeated: a read about to start is not caught by the first
        ended = ended_.wait(kInterruptRepeatMs);
    } while (!ended && Clock::now() < deadline);
    if (!ended && interrupt_.terminateThread()) ended_.set();
    thread_.join();
    registered_ = false;
}

void InputThread::run(int priority) {
    currentReader = this;
    interrupt_.attachCurrentThread();
    os::setCurrentThreadPriority(priority);
    std::string line;
    std::string unread;
    unread.swap(unread_);
    std::shared_ptr<os::Handle> unreadFrom = std::move(unreadFrom_);
    bool goOn = true;
    if (!unread.empty() && unreadFrom == handle()) {
        goOn = deliver(&unread[0], unread.size(), line, unreadFrom);
        if (afterRead) afterRead();
    }
    if (goOn) readLoop(line);
    interrupt_.detach();
    ended_.set();
}

void InputThread::readLoop(std::string& line) {
    std::vector<char> buffer(kReadSize);
    int failedReads = 0;
    int emptyReads = 0;
    while (!stopRequested_) {
        std::shared_ptr<os::Handle> source = handle();
        if (!source || !source->valid()) break;
        os::ReadResult result = interrupt_.read(source->get(), buffer.data(), buffer.size());
        if (result.status == os::ReadStatus::Data) {
            failedReads = 0;
            emptyReads = 0;
            const bool goOn = deliver(buffer.data(), result.count, line, source);
            if (afterRead) afterRead();
            if (!goOn) break;
        } else if (result.status == os::ReadStatus::Empty) {
            // A console's end-of-file key: reading goes on, with a pause if it keeps coming.
            if (++emptyReads > kQuickEmptyReads) std::this_thread::sleep_for(kFailedReadPause);
        } else if (result.status == os::ReadStatus::Error) {
            if (++failedReads >= kMaxFailedReads) break;
            std::this_thread::sleep_for(kFailedReadPause);
        } else {
            break;  // the end of the input, or interrupted by stop
        }
    }
}

// Cuts bytes read from source into lines; false when the thread is to end, because the callback
// said so or a stop was requested. The bytes after that line are kept for the next thread.
// A line that lies wholly in bytes is handed over where it lies: its carriage returns are
// squeezed out and its line feed becomes the terminating zero.
bool InputThread::deliver(char* bytes, std::size_t count, std::string& line,
                          const std::shared_ptr<os::Handle>& source) {
    char* next = bytes;
    char* const end = bytes + count;
    while (next < end) {
        char* feed = static_cast<char*>(std::memchr(next, '\n', static_cast<std::size_t>(end - next)));
        if (feed == nullptr) {
            appendWithoutCr(line, next, end);  // the rest of the line comes with a later read
            break;
        }
        const char* text;
        if (line.empty()) {
            char* stop = feed;
            if (char* cr = static_cast<char*>(std::memchr(next, '\r', static_cast<std::size_t>(feed - next)))) {
                stop = cr;
                for (const char* p = cr + 1; p < feed; ++p) {
                    if (*p != '\r') *stop++ = *p;
                }
            }
            *stop = '\0';
            text = next;
        } else {
            appendWithoutCr(line, next, feed);
            text = line.c_str();
        }
        const bool goOn = !callback || callback(text, context);
        line.clear();
        next = feed + 1;
        if (!goOn || stopRequested_) {
            unread_.assign(next, static_cast<std::size_t>(end - next));
            unreadFrom_ = source;
            return false;
        }
    }
    return true;
}

}  // namespace relayon
