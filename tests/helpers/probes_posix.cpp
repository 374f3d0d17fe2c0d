#include "probes.h"

#include <signal.h>

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace relayon::test {

namespace {

// The entries of a directory, without "." and ".."; -1 when it cannot be read.
int countEntries(const char* path) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return -1;
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
    }
    ::closedir(dir);
    return count;
}

// The parent process id in /proc/PID/stat, or -1.
long parentOf(const char* pid) {
    std::string path = std::string("/proc/") + pid + "/stat";
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return -1;
    char buffer[512];
    std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[got] = '\0';
    // "pid (name) state ppid ...": the name may hold blanks and brackets, so start after the
    // last closing bracket.
    const char* close = std::strrchr(buffer, ')');
    char state = 0;
    long parent = -1;
    if (close == nullptr || std::sscanf(close + 1, " %c %ld", &state, &parent) != 2) return -1;
    return parent;
}

}  // namespace

int openHandleCount() {
    int count = countEntries("/proc/self/fd");
    return count < 0 ? -1 : count - 1;  // less the descriptor that reads the directory
}

int threadCount() { return countEntries("/proc/self/task"); }

int childProcessCount() {
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return -1;
    const long self = static_cast<long>(::getpid());
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        if (parentOf(entry->d_name) == self) ++count;
    }
    ::closedir(dir);
    return count;
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
