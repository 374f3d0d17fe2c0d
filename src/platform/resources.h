// OS-independent: what the running process holds and uses, for diagnostics and tests.
#pragma once

#include <cstdint>

namespace relayon::os {

// Open handles (POSIX: file descriptors) of this process, or -1 when the system cannot say.
int openHandleCount();

// Threads of this process, or -1 when the system cannot say.
int threadCount();

// Child processes of this process that exist (POSIX: zombies included), or -1 when unknown.
int childProcessCount();

// Processor time used so far by the calling thread, in milliseconds.
std::int64_t threadProcessorTimeMs();

}  // namespace relayon::os
