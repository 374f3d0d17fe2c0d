// OS-independent: copying a file.
#pragma once

#include <string>

namespace relayon::os {

// Copies source over target as `cp source target` (POSIX) and CopyFileA with fail-if-exists
// false (Windows) do; false when the copy fails. The source must be a regular file (Windows: a
// file on a disk) and is not the target. Refused, leaving the target untouched: a target that
// is not a regular file, that the user may not write (Windows: read-only or hidden), or that is
// the same file as one this process holds open for writing, by whatever name (POSIX: any
// descriptor with write access, such as the log, the display, standard output and error;
// Windows: standard output and error, and files opened without FILE_SHARE_DELETE, the log).
// POSIX: the whole source is read into a file without a name first; a new target appears only
// complete (a dangling symbolic link gets the file it points to), an existing one is then
// written in place, keeping its inode, with room for it reserved beforehand where the system
// can. Windows: CopyFileA to a temporary file in the target's folder, moved over the target
// only once complete. A copy that fails leaves the target as it was, and no partial or
// temporary file, except for a process killed meanwhile (README).
bool copyFile(const std::string& source, const std::string& target);

// For a process about to end: cancels the copies under way and any later one, and waits up to
// waitMs for those under way to end. A copy still reading its source gives up and leaves no
// file; one writing an existing target in place finishes first. False when one still runs.
bool endCopies(int waitMs = 3000);

}  // namespace relayon::os
