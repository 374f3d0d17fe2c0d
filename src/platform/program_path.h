// OS-independent: where the running program's executable file is.
#pragma once

#include <string>

namespace relayon::os {

// The full path of the running executable, or fallback when the system cannot say.
std::string executablePath(const std::string& fallback = std::string());

}  // namespace relayon::os
