// OS-independent: the running program's name, which the default translation file is named after.
#pragma once

#include <string>

namespace relayon::os {

// The path of the running program for naming its default translation file. Windows: the
// executable's full path (GetModuleFileNameA), or argument0 when the system cannot say. POSIX:
// the name the program was started by, argument0 itself, not resolved through symbolic links,
// so that a link to the program has a translation file of its own; the executable's path only
// when argument0 is empty.
std::string programPath(const std::string& argument0);

// The full path of the program the system starts for a command line that names no existing file,
// from its first word, name. POSIX: name looked up on PATH, or, when it holds a slash, taken as a
// path. Windows: searched as CreateProcessA searches (Relayon's own folder, the current folder,
// the system folder, the 16-bit one, the Windows folder, then PATH), with ".exe" added to a name
// without an extension. False when nothing is found.
bool searchProgram(const std::string& name, std::string& out);

// True where the default name replaces only the program file's extension (POSIX, where
// programs rarely have one and directories often hold a full stop); false where it ends at the
// last full stop anywhere in the path (Windows).
extern const bool kReplaceExtensionOnly;

}  // namespace relayon::os
