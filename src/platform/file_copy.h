// OS-independent: copying a file.
#pragma once

#include <string>

namespace relayon::os {

// Copies source over target, creating target or replacing its content (CopyFileA with
// fail-if-exists false); false when the copy fails. The source must be a regular file (Windows:
// a disk file). A copy that fails leaves the target as it was, and a target that a writer of
// Relayon's holds open (the log) is refused (Windows: by its share mode). POSIX also refuses a
// target that exists and is not a regular file.
bool copyFile(const std::string& source, const std::string& target);

}  // namespace relayon::os
