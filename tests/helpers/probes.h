// What the tests look at in the running process and the platform: counts of what a process
// holds, processor time, and control events raised as a console would.
#pragma once

#include <cstdint>
#include <string>

namespace relayon::test {

// "posix" or "win32".
std::string platformName();

// True when the Windows build runs under Wine, whose emulation lacks some calls.
bool runningUnderWine();

// Open handles (POSIX: file descriptors) of this process, or -1 when the system cannot say.
int openHandleCount();

// Threads of this process, or -1 when the system cannot say.
int threadCount();

// Child processes of this process that exist (POSIX: zombies included), or -1 when unknown.
int childProcessCount();

// Processor time used so far by the calling thread, in milliseconds.
std::int64_t threadProcessorTimeMs();

// Sends a control event to this process, as a console would (POSIX: the signal; Windows:
// GenerateConsoleCtrlEvent to its own console's processes).
bool raiseControlEvent(unsigned event);

}  // namespace relayon::test
