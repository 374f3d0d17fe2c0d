#include "platform/priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/nice.h"

namespace relayon::os {

namespace {

struct NiceEntry {
    int value;  // class or level
    int nice;
};

// Listed from normal outwards, so that a nice value halfway between two entries takes the one
// nearer to normal.
const NiceEntry kClassNice[] = {
    {static_cast<int>(kNormalPriorityClass), 0},        {static_cast<int>(kBelowNormalPriorityClass), 10},
    {static_cast<int>(kAboveNormalPriorityClass), -5}, {static_cast<int>(kHighPriorityClass), -10},
    {static_cast<int>(kIdlePriorityClass), 19},        {static_cast<int>(kRealtimePriorityClass), -20},
};

const NiceEntry kLevelOffset[] = {
    {kThreadPriorityNormal, 0},   {kThreadPriorityBelowNormal, 2},   {kThreadPriorityAboveNormal, -2},
    {kThreadPriorityLowest, 4},   {kThreadPriorityHighest, -4},      {kThreadPriorityIdle, 19},
    {kThreadPriorityTimeCritical, -20},
};

template <std::size_t N>
int niceOf(const NiceEntry (&table)[N], int value) {
    for (const NiceEntry& entry : table) {
        if (entry.value == value) return entry.nice;
    }
    return kNoNice;
}

template <std::size_t N>
int nearest(const NiceEntry (&table)[N], int nice) {
    const NiceEntry* best = &table[0];
    for (const NiceEntry& entry : table) {
        if (std::abs(entry.nice - nice) < std::abs(best->nice - nice)) best = &entry;
    }
    return best->value;
}

}  // namespace

int niceOfClass(unsigned priorityClass) { return niceOf(kClassNice, static_cast<int>(priorityClass)); }
int niceOffsetOfLevel(int level) { return niceOf(kLevelOffset, level); }
unsigned classOfNice(int nice) { return static_cast<unsigned>(nearest(kClassNice, nice)); }
int levelOfNiceOffset(int offset) { return nearest(kLevelOffset, offset); }

int clampNice(int nice) { return nice < -20 ? -20 : (nice > 19 ? 19 : nice); }

bool threadNice(int threadId, int& nice) {
    errno = 0;  // -1 is a valid nice value: only errno tells a failure
    int value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
    if (value == -1 && errno != 0) return false;
    nice = value;
    return true;
}

int currentThreadId() {
#ifdef SYS_gettid
    return static_cast<int>(::syscall(SYS_gettid));
#else
    return 0;  // the whole process
#endif
}

unsigned currentPriorityClass() {
    int nice = 0;
    threadNice(static_cast<int>(::getpid()), nice);
    return classOfNice(nice);
}

int currentThreadPriority() {
    int nice = 0;
    threadNice(currentThreadId(), nice);
    return levelOfNiceOffset(nice - niceOfClass(currentPriorityClass()));
}

bool setCurrentThreadPriority(int level) {
    int offset = niceOffsetOfLevel(level);
    if (offset == kNoNice) return false;
    if (level == kThreadPriorityNormal) return true;
    int nice = clampNice(niceOfClass(currentPriorityClass()) + offset);
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(currentThreadId()), nice) == 0;
}

}  // namespace relayon::os
