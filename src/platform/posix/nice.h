// Nice values standing for the Win32 priority classes and thread priority levels (POSIX layer only).
#pragma once

namespace relayon::os {

constexpr int kNoNice = 1000;  // a class or level the tables do not know

// The nice value of a priority class, or kNoNice.
int niceOfClass(unsigned priorityClass);

// The nice offset of a thread priority level, or kNoNice.
int niceOffsetOfLevel(int level);

// The class whose nice value is nearest to nice (ties go to the class nearer to normal).
unsigned classOfNice(int nice);

// The level whose offset is nearest to offset (ties go to the level nearer to normal).
int levelOfNiceOffset(int offset);

// Nice values are limited to -20..19.
int clampNice(int nice);

// The nice value of a thread (Linux: a thread id) or, elsewhere, of a process.
bool threadNice(int threadId, int& nice);

// The calling thread's id, as threadNice and setpriority take it.
int currentThreadId();

}  // namespace relayon::os
