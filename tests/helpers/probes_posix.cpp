#include "probes.h"

#include <time.h>

namespace relayon::test {

std::string platformName() { return "posix"; }

bool runningUnderWine() { return false; }

std::int64_t threadProcessorTimeMs() {
    timespec now{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace relayon::test
