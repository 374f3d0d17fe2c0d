// OS-independent: how reads and writes treat each kind of handle, apart from the system calls.
#pragma once

#include <cstddef>

#include "platform/io.h"

namespace relayon::os {

enum class HandleKind {
    File,     // a disk file, or a handle of unknown kind: a read with no bytes is its end
    Pipe,     // a pipe: a read with no bytes (the peer wrote none) delivers nothing
    EndedPipe,  // a pipe that cannot be examined any more: no bytes is its end (Wine reports
                // the end of a POSIX pipe so)
    Console,  // a console: no bytes at its end-of-file key; only small calls are taken
    Device,   // another character device, such as the null device: no bytes is its end
};

// Console reads and writes pass through a shared buffer of the console's that refuses calls of
// 64 KiB and more on older systems; calls on a console are cut to this size.
constexpr std::size_t kConsolePiece = 8192;

// What a read that succeeded without bytes means.
inline ReadStatus emptyReadStatus(HandleKind kind) {
    return kind == HandleKind::Pipe || kind == HandleKind::Console ? ReadStatus::Empty : ReadStatus::End;
}

// The Win32 errors that a failed read is told apart by.
constexpr int kErrorHandleEof = 38;
constexpr int kErrorBrokenPipe = 109;
constexpr int kErrorMoreData = 234;
constexpr int kErrorOperationAborted = 995;

// What a read that failed with error means. A message of a message-mode pipe longer than the
// buffer fails the read after filling it: the bytes read are data, the next read goes on with
// the rest of the message.
inline ReadStatus failedReadStatus(int error, bool interrupted) {
    if (error == kErrorMoreData) return ReadStatus::Data;
    if (error == kErrorOperationAborted && interrupted) return ReadStatus::Interrupted;
    return error == kErrorBrokenPipe || error == kErrorHandleEof ? ReadStatus::End : ReadStatus::Error;
}

// The most bytes to pass to one read or write call of size bytes.
inline std::size_t transferSize(HandleKind kind, std::size_t size) {
    return kind == HandleKind::Console && size > kConsolePiece ? kConsolePiece : size;
}

}  // namespace relayon::os
