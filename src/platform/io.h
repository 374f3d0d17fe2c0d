// OS-independent: reading and writing bytes on handles, and the process's standard handles.
#pragma once

#include <cstddef>
#include "platform/handle.h"

namespace relayon::os {

enum class ReadStatus {
    Data,   // count bytes were read
    End,    // the writer closed its end, or the end of a file was reached
    Empty,  // the read succeeded with no bytes (a Windows console at its end-of-file key)
    Error,  // another failure; error holds the system's code
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

}  // namespace relayon::os
