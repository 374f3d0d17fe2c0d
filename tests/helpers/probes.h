// What the tests ask of the platform beyond the OS layer: which one runs, and a thread's
// processor time.
#pragma once

#include <cstdint>
#include <string>

namespace relayon::test {

std::string platformName();  // "posix" or "win32"

// True when the Windows build runs under Wine, whose emulation lacks some calls.
bool runningUnderWine();

// Processor time used so far by the calling thread, in milliseconds.
std::int64_t threadProcessorTimeMs();

}  // namespace relayon::test
