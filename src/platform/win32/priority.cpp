#include "platform/priority.h"
#include "platform/win32/native.h"

namespace relayon::os {

static_assert(kIdlePriorityClass == IDLE_PRIORITY_CLASS && kHighPriorityClass == HIGH_PRIORITY_CLASS &&
              kBelowNormalPriorityClass == BELOW_NORMAL_PRIORITY_CLASS &&
              kNormalPriorityClass == NORMAL_PRIORITY_CLASS &&
              kAboveNormalPriorityClass == ABOVE_NORMAL_PRIORITY_CLASS &&
              kRealtimePriorityClass == REALTIME_PRIORITY_CLASS);
static_assert(kThreadPriorityIdle == THREAD_PRIORITY_IDLE && kThreadPriorityLowest == THREAD_PRIORITY_LOWEST &&
              kThreadPriorityBelowNormal == THREAD_PRIORITY_BELOW_NORMAL &&
              kThreadPriorityNormal == THREAD_PRIORITY_NORMAL &&
              kThreadPriorityAboveNormal == THREAD_PRIORITY_ABOVE_NORMAL &&
              kThreadPriorityHighest == THREAD_PRIORITY_HIGHEST &&
              kThreadPriorityTimeCritical == THREAD_PRIORITY_TIME_CRITICAL);

unsigned currentPriorityClass() { return GetPriorityClass(GetCurrentProcess()); }

int currentThreadPriority() { return GetThreadPriority(GetCurrentThread()); }

bool setCurrentThreadPriority(int level) {
    return SetThreadPriority(GetCurrentThread(), level) != FALSE;
}

}  // namespace relayon::os
