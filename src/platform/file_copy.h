// OS-independent: copying a file.
#pragma once

#include <string>

namespace relayon::os {

// Copies source over target, creating or truncating target (CopyFileA with fail-if-exists
// false); false when either file cannot be opened or the copy fails.
bool copyFile(const std::string& source, const std::string& target);

}  // namespace relayon::os
