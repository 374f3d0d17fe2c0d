#include "probes.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace relayon::test {

std::string platformName() { return "posix"; }

bool runningUnderWine() { return false; }

std::int64_t threadProcessorTimeMs() {
    timespec now{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool messagePipe(std::intptr_t& readEnd, std::intptr_t& writeEnd) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    readEnd = ends[0];
    writeEnd = ends[1];
    return true;
}

}  // namespace relayon::test
