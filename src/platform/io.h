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
    Interrupted,  // ReadInterrupt::interrupt ended the read (ReadInterrupt::read only)
};

struct ReadResult {
    ReadStatus status;
    std::size_t count;
    int error;
};

// Reads what the handle has, up to size bytes, waiting only until at least one byte is there.
// Interrupted calls are retried.
ReadResult readSome(RawHandle handle, void* buffer, std::size_t size);

// Writes all bytes: one system write, continued only when the system takes part of them.
bool writeAll(RawHandle handle, const void* data, std::size_t size);

// The process's standard handles as they are now (kNoHandle when there is none).
RawHandle standardInput();
RawHandle standardOutput();
RawHandle standardError();

// Lets one thread end another thread's blocking read without closing the handle under it.
// The reading thread attaches itself, then reads through read(); interrupt() from any thread
// makes the current read, and every later one until clear(), return Interrupted. A read that
// has already entered the system is cut short (Windows: CancelSynchronousIo; POSIX: a signal
// that makes it fail with EINTR), which can miss a read that is only about to start, so callers
// repeat interrupt() until the reader has ended.
class ReadInterrupt {
public:
    ReadInterrupt();
    ~ReadInterrupt();
    ReadInterrupt(const ReadInterrupt&) = delete;
    ReadInterrupt& operator=(const ReadInterrupt&) = delete;

    void attachCurrentThread();  // by the reading thread, before its first read
    void detach();               // by the reading thread, when it stops reading
    ReadResult read(RawHandle handle, void* buffer, std::size_t size);
    void interrupt();
    void clear();  // makes reads wait again; only while no thread reads
    // Last resort: ends the attached thread wherever it is (Windows); false where the system
    // cannot, or when no thread is attached.
    bool terminateThread();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace relayon::os
