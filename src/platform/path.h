// OS-independent: file system paths.
#pragma once

#include <string>

namespace relayon::os {

// The full path of path, made from the current directory with "." and ".." folded, without
// looking at the file system (GetFullPathNameA on Windows). False when the system refuses.
bool fullPath(const std::string& path, std::string& out);

// True when path names an existing file that the server search may take for a program: not a
// directory (Windows: GetFileAttributesA; POSIX: a regular file or a link to one), since a
// directory can never be started and would make the search and the start disagree. Windows: a
// path in the system directory names its native file, also for 32-bit Relayon on 64-bit Windows.
bool fileExists(const std::string& path);

// True for the bytes that separate the parts of a path ('\\' and '/' on Windows, '/' on POSIX).
bool isPathSeparator(char c);

// What the platform's executable files end with: ".exe" on Windows, nothing on POSIX.
const char* executableSuffix();

}  // namespace relayon::os
