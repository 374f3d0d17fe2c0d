// What the tests ask of the platform beyond the OS layer: which one runs, a thread's processor
// time, and a pipe of messages.
#pragma once

#include <cstdint>
#include <string>

namespace relayon::test {

std::string platformName();  // "posix" or "win32"

// True when the Windows build runs under Wine, whose emulation lacks some calls.
bool runningUnderWine();

// Processor time used so far by the calling thread, in milliseconds.
std::int64_t threadProcessorTimeMs();

// A pipe whose every write arrives as one message, read in message mode (Windows: a named pipe
// of the message type; POSIX has none and makes an ordinary pipe). Raw handles, owned by the
// caller.
bool messagePipe(std::intptr_t& readEnd, std::intptr_t& writeEnd);

}  // namespace relayon::test
