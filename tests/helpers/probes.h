// What the tests ask of the platform beyond the OS layer: which one runs, a thread's processor
// time, and control events raised as a console would.
#pragma once

#include <cstdint>
#include <string>

namespace relayon::test {

std::string platformName();  // "posix" or "win32"

// True when the Windows build runs under Wine, whose emulation lacks some calls.
bool runningUnderWine();

// Processor time used so far by the calling thread, in milliseconds.
std::int64_t threadProcessorTimeMs();

// Sends a control event to this process, as a console would (POSIX: the signal; Windows:
// GenerateConsoleCtrlEvent to its own console's processes).
bool raiseControlEvent(unsigned event);

}  // namespace relayon::test
