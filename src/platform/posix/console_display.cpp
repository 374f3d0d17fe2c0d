#include "platform/console_display.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/io.h"

namespace relayon::os {

namespace {

// Opened without waiting, so that a named pipe nobody reads fails at once (ENXIO) instead of
// holding Relayon before its server starts; writes then wait as usual, on the display's own
// writer thread.
int openForWriting(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// ANSI colour number of the red, green and blue bits of a console attribute nibble.
unsigned ansiColour(unsigned nibble) {
    return ((nibble & 0x4) ? 1u : 0u) | ((nibble & 0x2) ? 2u : 0u) | ((nibble & 0x1) ? 4u : 0u);
}

// The ANSI sequence for a console attribute: bright colours for the intensity bits, and a
// background only when one is set, so a terminal's own background stays.
std::string colourSequence(std::uint16_t attribute) {
    unsigned foreground = attribute & 0xF;
    unsigned background = (attribute >> 4) & 0xF;
    std::string sequence = "\x1b[" + std::to_string(((foreground & 0x8) ? 90 : 30) + ansiColour(foreground));
    if (background != 0) {
        sequence += ';' + std::to_string(((background & 0x8) ? 100 : 40) + ansiColour(background));
    }
    return sequence + 'm';
}

}  // namespace

RawHandle openDisplay() {
    // A display named by the user is the only one tried, so that its failure is the one told.
    const char* named = std::getenv("RELAYON_CONSOLE");
    int fd = openForWriting(named != nullptr && *named != '\0' ? named : "/dev/tty");
    return fd >= 0 ? fd : kNoHandle;
}

bool writeDisplay(RawHandle display, const char* text, std::size_t size, std::uint16_t attribute) {
    if (size == 0) return true;
    if (attribute == 0) return writeAll(display, text, size);
    // One buffer, so the colour, the text and the reset reach the display in one write.
    std::string shown = colourSequence(attribute);
    shown.append(text, size);
    shown += "\x1b[0m";
    return writeAll(display, shown.data(), shown.size());
}

void closeDisplay(RawHandle display) {
    ::close(static_cast<int>(display));
}


}  // namespace relayon::os
