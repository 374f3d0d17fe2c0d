// OS-independent: reading and writing bytes on handles, and the process's standard handles.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/handle.h"

namespace relayon::os {

enum class ReadStatus {
    Data,         // count bytes were read
    End,          // the writer closed its end, or the end of a file was reached
    Empty,        // the read succeeded with no bytes (a Windows console at its end-of-file key)
    Error,        // another failure; error holds the system's code
    Interrupted,  // the calling thread's IoInterrupt was set
};

struct ReadResult {
    ReadStatus status;
    std::size_t count;
    int error;
};

// Reads what the handle has, up to size bytes, waiting only until at least one byte is there.
// Interrupted system calls are retried. On a thread attached to an IoInterrupt, the wait ends
// with Interrupted as soon as the interrupt is set.
ReadResult readSome(RawHandle handle, void* buffer, std::size_t size);

// A handle written to again and again, with how its writes must be made (does a write wait for
// a peer, does it return instead of waiting) looked up once: those look-ups are system calls,
// which the round trip of a short line would feel on every write. The handle must keep its kind
// meanwhile, as Relayon's own pipe ends and its standard output do; the Output does not own it.
class Output {
public:
    Output() = default;
    // Looks up how the handle is to be written, for every write to come.
    explicit Output(RawHandle handle);

    // Writes all bytes, continuing where the system takes only part of them; false on a
    // failure, on a write that takes nothing, and on a thread attached to an IoInterrupt once
    // it is set (a reader that does not read then never holds the writer). written, when
    // given, receives the bytes that reached the handle, also on failure.
    bool writeAll(const void* data, std::size_t size, std::size_t* written = nullptr) const;

private:
    friend bool writeAll(RawHandle, const void*, std::size_t, std::size_t*);
    static constexpr int kLookUpOnWrite = 0;
    Output(RawHandle handle, int mode) : handle_(handle), mode_(mode) {}

    RawHandle handle_ = kNoHandle;
    int mode_ = kLookUpOnWrite;  // the platform's reading of the handle
};

// Output::writeAll for a handle written once or seldom: what a write needs to know of the handle
// is looked up by that write, and only where it matters.
inline bool writeAll(RawHandle handle, const void* data, std::size_t size, std::size_t* written = nullptr) {
    return Output(handle, Output::kLookUpOnWrite).writeAll(data, size, written);
}

// Makes writes to a pipe end of Relayon's own return instead of waiting when the pipe is full,
// so that writeAll can wait for room and for its interrupt at once (POSIX: O_NONBLOCK; Windows
// has no such mode for anonymous pipes and does nothing).
void setNonBlocking(RawHandle handle);

// The process's standard handles as they are now (kNoHandle when there is none).
RawHandle standardInput();
RawHandle standardOutput();
RawHandle standardError();

// True when the handle is a terminal (Windows: a console) that a person types into or reads.
bool isTerminal(RawHandle handle);

// What a person types at a terminal to end its input: "Ctrl-D" (POSIX) or "Ctrl-Z, Enter" (Windows).
extern const char kEndOfInputKeys[];

// Lets one thread end the blocking reads and writes of another without closing a handle under
// it. A thread attaches itself; from then on its readSome and writeAll calls return at once
// once interrupt() has been called from any thread, until clear(). POSIX waits for the handle
// and a wake-up descriptor together, so the interrupt ends a wait at once. Windows cancels the
// thread's synchronous I/O, which can miss a call that is only about to start: there
// interruptRepeatMs() is how often the interrupter should call interrupt() again until the
// thread has ended.
class IoInterrupt {
public:
    IoInterrupt();
    ~IoInterrupt();
    IoInterrupt(const IoInterrupt&) = delete;
    IoInterrupt& operator=(const IoInterrupt&) = delete;

    void attachCurrentThread();  // by the thread, before its first read or write
    void detach();               // by the thread, when it no longer reads or writes
    void interrupt();
    void clear();  // only while no attached thread reads or writes

    struct Native;  // the platform's state, opaque here

private:
    std::unique_ptr<Native> native_;
};

// 0 when a single interrupt() is enough, else the interval for repeating it.
int interruptRepeatMs();

// True when the calling thread is attached to an IoInterrupt that has been set: a thread that
// waits for something other than a handle looks here to end its wait as its reads would.
bool currentThreadInterrupted();

// True when a writeAll on the calling thread ends soon once its IoInterrupt is set, and says how
// much it wrote: POSIX, on a thread attached to an interrupt. Windows: false, since a WriteFile
// that a pipe's reader holds up is not reliably cancelled (Wine does not cancel it).
bool currentThreadWritesInterruptibly();

}  // namespace relayon::os
