#include "platform/file_copy.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/handle.h"
#include "platform/io.h"

namespace relayon::os {

bool copyFile(const std::string& source, const std::string& target) {
    Handle in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    Handle out(::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!out) return false;
    // Copying a file onto itself would empty it: refuse, as Windows does.
    struct stat from, to;
    if (::fstat(static_cast<int>(in.get()), &from) != 0 || ::fstat(static_cast<int>(out.get()), &to) != 0) {
        return false;
    }
    if (from.st_dev == to.st_dev && from.st_ino == to.st_ino) return false;
    if (::ftruncate(static_cast<int>(out.get()), 0) != 0) return false;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(static_cast<int>(in.get()), buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!writeAll(out.get(), buffer, static_cast<std::size_t>(n))) return false;
    }
}

}  // namespace relayon::os
