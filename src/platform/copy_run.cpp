// OS-independent: the copies under way and their settling at the end of the process.
#include "platform/copy_run.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/file_copy.h"

namespace relayon::os {

namespace {

std::mutex runsLock;
std::condition_variable runsEnded;
int runs = 0;  // under runsLock
std::atomic<bool> ending{false};

}  // namespace

CopyRun::CopyRun() {
    std::lock_guard<std::mutex> hold(runsLock);
    ++runs;
}

CopyRun::~CopyRun() {
    std::lock_guard<std::mutex> hold(runsLock);
    if (--runs == 0) runsEnded.notify_all();
}

bool CopyRun::cancelled() const { return ending.load(); }

bool endCopies(int waitMs) {
    ending = true;
    std::unique_lock<std::mutex> hold(runsLock);
    return runsEnded.wait_for(hold, std::chrono::milliseconds(waitMs), [] { return runs == 0; });
}

}  // namespace relayon::os
