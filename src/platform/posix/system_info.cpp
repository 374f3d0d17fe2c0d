#include "platform/system_info.h"

namespace relayon::os {

std::string platformName() { return "posix"; }

bool runningUnderWine() { return false; }

}  // namespace relayon::os
