#include "platform/pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace relayon::os {

int createPipe(Handle& readEnd, Handle& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return 0;
}

}  // namespace relayon::os
