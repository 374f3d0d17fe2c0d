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

bool QueuedWriter::put(std::string_view text, std::uint16_t tag) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        if (!accepting_) return false;
        if (queued_ == 0 || queued_ + text.size() <= capacity_) break;
        if (whenFull_ == WhenFull::Refuse || os::currentThreadInterrupted()) return false;
        changed_.wait_for(hold, kInterruptLook);
    }
    if (queue_.empty() && !writing_ && text.size() <= directLimit_ && os::currentThreadWritesInterruptibly()) {
        return writeHere(hold, text, tag);
    }
    if (queue_.empty() || queue_.back().tag != tag) queue_.push_back(Text{tag, std::string()});
    queue_.back().bytes.append(text);
    queued_ += text.size();
    hold.unlock();
    changed_.notify_all();
    return true;
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
    hold.unlock();
    changed_.notify_all();
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
    }
    ended_ = true;
    hold.unlock();
    changed_.notify_all();
}

}  // namespace relayon
