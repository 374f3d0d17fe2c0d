// OS-independent: which platform the program was built for and runs on.
#pragma once

#include <string>

namespace relayon::os {

// "posix" or "win32".
std::string platformName();

// True when the Windows build runs under Wine, whose emulation lacks some calls.
bool runningUnderWine();

}  // namespace relayon::os
