#include "probes.h"

#include <signal.h>
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

bool raiseControlEvent(unsigned event) {
    const int signal = event == 0 ? SIGINT : event == 1 ? SIGQUIT : event == 2 ? SIGHUP : SIGTERM;
    return ::kill(::getpid(), signal) == 0;
}

}  // namespace relayon::test
