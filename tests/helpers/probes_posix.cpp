#include "probes.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace relayon::test {

namespace fs = std::filesystem;

namespace {

// The entries of a directory, or -1 when it cannot be read.
int countEntries(const char* path) {
    std::error_code error;
    fs::directory_iterator entries(path, error);
    return error ? -1 : static_cast<int>(std::distance(entries, fs::directory_iterator()));
}

// The parent process id in the stat file of a /proc entry, or -1. The file reads
// "pid (name) state ppid ...", where the name may hold blanks and brackets.
long parentOf(const fs::path& entry) {
    std::ifstream file(entry / "stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    char state = 0;
    long parent = -1;
    if (close == std::string::npos || std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) != 2) return -1;
    return parent;
}

}  // namespace

int openHandleCount() {
    int count = countEntries("/proc/self/fd");
    return count < 0 ? -1 : count - 1;  // less the descriptor that reads the directory
}

int threadCount() { return countEntries("/proc/self/task"); }

int childProcessCount() {
    std::error_code error;
    int count = 0;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name[0] >= '0' && name[0] <= '9' && parentOf(entry->path()) == static_cast<long>(::getpid())) ++count;
    }
    return error ? -1 : count;
}

std::int64_t threadProcessorTimeMs() {
    timespec now{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string platformName() { return "posix"; }

bool runningUnderWine() { return false; }

bool raiseControlEvent(unsigned event) {
    const int signal = event == 0 ? SIGINT : event == 1 ? SIGQUIT : event == 2 ? SIGHUP : SIGTERM;
    return ::kill(::getpid(), signal) == 0;
}

}  // namespace relayon::test
