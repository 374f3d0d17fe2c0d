// OS-independent: priority classes and thread priority levels, and Relayon's own priorities.
#pragma once

namespace relayon::os {

// Priority classes and thread priority levels carry the Win32 values on both platforms; the
// POSIX layer maps them onto nice values.
constexpr unsigned kIdlePriorityClass = 64;
constexpr unsigned kBelowNormalPriorityClass = 16384;
constexpr unsigned kNormalPriorityClass = 32;
constexpr unsigned kAboveNormalPriorityClass = 32768;
constexpr unsigned kHighPriorityClass = 128;
constexpr unsigned kRealtimePriorityClass = 256;

constexpr int kThreadPriorityIdle = -15;
constexpr int kThreadPriorityLowest = -2;
constexpr int kThreadPriorityBelowNormal = -1;
constexpr int kThreadPriorityNormal = 0;
constexpr int kThreadPriorityAboveNormal = 1;
constexpr int kThreadPriorityHighest = 2;
constexpr int kThreadPriorityTimeCritical = 15;

// Relayon's own priority class (POSIX: the nearest class to the nice value of its main thread).
unsigned currentPriorityClass();

// The calling thread's priority level (POSIX: the nearest level to the difference between the
// thread's nice value and the nice value of Relayon's class).
int currentThreadPriority();

// Sets the calling thread's priority level. On POSIX, normal keeps the nice value the thread
// was started with; other levels set the class's nice value plus the level's offset.
bool setCurrentThreadPriority(int level);

}  // namespace relayon::os
