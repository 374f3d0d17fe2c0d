// OS-independent: a thread that reads a handle and hands each line to a callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "text/text_utils.h"
#include "platform/handle.h"
#include "platform/io.h"
#include "process/event.h"

namespace relayon {

// Reads a handle on a thread of its own and calls callback once per line, in input order:
// the bytes before each line feed, with every carriage return dropped and cut at the first zero
// byte, as a text valid during the call. Bytes after the last line feed are never handed over,
// nor those after a false result from the callback, which ends the thread. A line longer than
// kMaxLineBytes is handed over cut to that length, and lineCut then hears how many bytes were
// dropped, so that memory stays bounded whatever a peer sends.
//
// The thread ends by itself at the end of the input, on a false callback result, when there is
// no handle, after a run of failed reads, or when its callback throws (failure() then says
// what was thrown); ended() is then set, and the reader stays registered until stop(). start
// and stop are called by the reader's owner, never from its callback. Reads and writes that the
// thread makes (the callback's writes too) end when stop() interrupts them.
class InputThread {
public:
    using Callback = std::function<bool(std::string_view line)>;
    // The most bytes one read takes, unless the owner sets readSize before start: fewer reads
    // for many short lines, and a smaller size (kSmallReadSize) for a callback whose work on a
    // line uses much memory, which the blocks read would otherwise push out of the cache.
    static constexpr std::size_t kReadSize = 64 * 1024;
    static constexpr std::size_t kSmallReadSize = 32 * 1024;

    InputThread() = default;
    ~InputThread();
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;

    // What the thread reads: a handle shared with its owner, so that it stays open while the
    // thread reads it. It may be replaced while the thread runs; each read takes it anew.
    void setHandle(std::shared_ptr<os::Handle> handle);
    // A handle that stays open as long as the reader may use it (the standard input).
    void setBorrowedHandle(os::RawHandle handle);
    std::shared_ptr<os::Handle> handle() const;

    Callback callback;  // set before start; without one, lines are read and dropped
    std::size_t readSize = kReadSize;
    // Called on the thread after the lines of each read have been handed to callback, before it
    // waits for more input or ends: the consumer may hold back work until then. Set before start.
    std::function<void()> afterRead;
    // Called on the thread after a cut line was handed over, with the bytes dropped from it.
    std::function<void(std::uint64_t dropped)> lineCut;
    // Called on the thread when the input ends after bytes without a line feed, which are never
    // handed over, with their number (carriage returns not counted).
    std::function<void(std::uint64_t bytes)> unfinishedLine;

    // Starts the thread with the given thread priority level, unless a thread is registered
    // (then it returns true and changes nothing). False when no thread could be created.
    bool start(int priority);

    // Ends the thread: a read or write it is blocked in is interrupted, and the thread is waited
    // for up to 1000 ms. A thread that has not ended by then (stuck where no interrupt reaches)
    // is left to itself and false is returned: its owner must then end the process without
    // destroying what that thread uses. Afterwards no thread is registered.
    bool stop();
    // Asks the thread to end and interrupts what it is blocked in, without waiting for it.
    void interrupt();

    bool registered() const { return registered_; }
    // What the callback threw when it ended the thread; empty otherwise.
    std::string failure() const;

    // Manual-reset: set when the thread has ended, cleared by start.
    Event& ended() { return ended_; }

private:
    void run(int priority);
    void readLoop();
    void append(std::string& line, const char* from, const char* to);
    bool cutLines(char* bytes, std::size_t count, std::string& line);

    mutable std::mutex handleLock_;  // guards handle_ only, never held across a read
    std::shared_ptr<os::Handle> handle_;
    std::atomic<bool> stopRequested_{true};
    std::mutex controlLock_;  // serialises start and stop
    std::thread thread_;
    std::atomic<bool> registered_{false};  // thread_ holds a thread; read without the lock
    Event ended_{Event::kManualReset};
    os::IoInterrupt interrupt_;
    std::uint64_t dropped_ = 0;  // bytes of the current line beyond kMaxLineBytes
    mutable std::mutex failureLock_;
    std::string failure_;
};

}  // namespace relayon
