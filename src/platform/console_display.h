// OS-independent: the debug display, shown apart from the standard handles, with coloured text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handle.h"

namespace relayon::os {

// Opens the display; kNoHandle when there is none.
// Win32: a console screen buffer of the process's own made the active one, in the process's
// console or, when it has none or one without a window that the client does not use, in a
// console allocated for it (platform/display_console.h). POSIX: the terminal, file or named pipe
// named by the environment variable RELAYON_CONSOLE, else the controlling terminal /dev/tty;
// opened without waiting for a reader (a named pipe nobody reads fails).
RawHandle openDisplay();

// Writes all bytes in a console character attribute (foreground in the low nibble, background
// in the high nibble); POSIX writes them as ANSI colour sequences, reset after the text.
// Attribute 0 writes them in the display's own colours (POSIX: without any sequence).
// An empty text writes nothing and succeeds. The caller serialises writes to one display; a
// write may wait as long as the display does not take text.
bool writeDisplay(RawHandle display, const char* text, std::size_t size, std::uint16_t attribute);

// Closes the display (Win32: frees a console allocated for it, or shows the screen buffer that
// was active before it again).
void closeDisplay(RawHandle display);


}  // namespace relayon::os
