// OS-independent: the queued writer.
#include "diag/queued_writer.h"

#include <chrono>
#include <system_error>

#include "platform/io.h"

namespace relayon {

namespace {

// How often a caller waiting for room looks whether its I/O interrupt was set.
constexpr auto kInterruptLook = std::chrono::milliseconds(10);

}  // namespace

QueuedWriter::QueuedWriter(Write write, std::size_t capacity, WhenFull whenFull, std::size_t directLimit)
    : write_(std::move(write)), capacity_(capacity), whenFull_(whenFull), directLimit_(directLimit) {}

QueuedWriter::~QueuedWriter() {
    if (thread_.joinable()) finish(-1);
}

bool QueuedWriter::start() {
    std::lock_guard<std::mutex> hold(lock_);
    if (thread_.joinable()) return accepting_;
    ended_ = false;
    try {
        thread_ = std::thread(&QueuedWriter::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    accepting_ = true;
    return true;
}

// Waits until the queue has room for size bytes; false when the text is to be dropped.
bool QueuedWriter::waitForRoom(std::unique_lock<std::mutex>& hold, std::size_t size) {
    for (;;) {
        if (!accepting_) return false;
        if (queued_ == 0 || queued_ + size <= capacity_) return true;
        if (whenFull_ == WhenFull::Refuse || os::currentThreadInterrupted()) return false;
        changed_.wait_for(hold, kInterruptLook);
    }
}

bool QueuedWriter::writesHere(std::size_t size, bool anyLength) const {
    return queue_.empty() && !writing_ && directLimit_ != 0 && (anyLength || size <= directLimit_) &&
           os::currentThreadWritesInterruptibly();
}

bool QueuedWriter::put(std::string_view text, std::uint16_t tag) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!waitForRoom(hold, text.size())) return false;
    if (writesHere(text.size(), false)) return writeHere(hold, text, tag);
    if (queue_.empty() || queue_.back().tag != tag) queue_.push_back(Text{tag, std::string()});
    queue_.back().bytes.append(text);
    queued_ += text.size();
    hold.unlock();
    changed_.notify_all();
    return true;
}

bool QueuedWriter::hand(std::string& text, std::uint16_t tag, bool anyLength) {
    std::unique_lock<std::mutex> hold(lock_);
    bool kept = waitForRoom(hold, text.size());
    if (kept && writesHere(text.size(), anyLength)) {
        kept = writeHere(hold, text, tag);
    } else if (kept) {
        queued_ += text.size();
        if (queue_.empty() || queue_.back().tag != tag) {
            queue_.push_back(Text{tag, std::move(text)});
            text.swap(spare_);
        } else {
            queue_.back().bytes.append(text);
        }
        hold.unlock();
        changed_.notify_all();
    }
    text.clear();
    return kept;
}

// Writes text on the calling thread. A write its interrupt ends leaves the rest at the front of
// the queue, so that the text is finished before anything put after it.
bool QueuedWriter::writeHere(std::unique_lock<std::mutex>& hold, std::string_view text, std::uint16_t tag) {
    writing_ = true;
    hold.unlock();
    std::size_t written = 0;
    bool kept = write_(text, tag, written);
    hold.lock();
    writing_ = false;
    if (!kept && os::currentThreadInterrupted() && written < text.size()) {
        queue_.push_front(Text{tag, std::string(text.substr(written))});
        queued_ += text.size() - written;
        kept = true;
    } else if (!kept) {
        dropAll();
    }
    // The writer thread has something to do only now that texts wait or the end has come; a
    // wake-up on every short answer would cost it a needless round of the scheduler.
    const bool wake = !queue_.empty() || !accepting_;
    hold.unlock();
    if (wake) changed_.notify_all();
    return kept;
}

// The output is gone: what it was given and what comes later is dropped.
void QueuedWriter::dropAll() {
    accepting_ = false;
    queue_.clear();
    queued_ = 0;
}

bool QueuedWriter::finish(int timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!thread_.joinable()) return true;
    accepting_ = false;
    changed_.notify_all();
    const auto done = [this] { return ended_; };
    if (timeoutMs < 0) {
        changed_.wait(hold, done);
    } else if (!changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), done)) {
        thread_.detach();
        return false;
    }
    hold.unlock();
    thread_.join();
    return true;
}

void QueuedWriter::run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return !writing_ && (!queue_.empty() || !accepting_); });
        if (queue_.empty()) break;  // finished, and everything written
        Text text = std::move(queue_.front());
        queue_.pop_front();
        queued_ -= text.bytes.size();
        writing_ = true;
        hold.unlock();
        changed_.notify_all();  // room for a waiting caller
        std::size_t written = 0;
        const bool ok = write_(text.bytes, text.tag, written);
        hold.lock();
        writing_ = false;
        if (!ok) dropAll();
        // The larger buffer is kept for hand, unless an exceptionally long text made it.
        if (text.bytes.capacity() > spare_.capacity() && text.bytes.capacity() <= 2 * capacity_) {
            spare_.swap(text.bytes);
        }
    }
    ended_ = true;
    hold.unlock();
    changed_.notify_all();
}

}  // namespace relayon
