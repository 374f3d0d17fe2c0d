// OS-independent: events on one lock and condition variable shared by all of them.
#include "process/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace relayon {

namespace {

// Events are set rarely and waited for by a few threads, so one lock and one condition
// variable for all of them keep waiting for several events simple. They are never destroyed,
// so that events of objects destroyed at process end can still be used.
std::mutex& commonLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::condition_variable& commonChange() {
    static std::condition_variable* change = new std::condition_variable;
    return *change;
}

}  // namespace

Event::Event(Mode mode, bool initiallySet) : mode_(mode), set_(initiallySet) {}

void Event::set() {
    {
        std::lock_guard<std::mutex> guard(commonLock());
        set_ = true;
    }
    commonChange().notify_all();
}

void Event::reset() {
    std::lock_guard<std::mutex> guard(commonLock());
    set_ = false;
}

bool Event::isSet() const {
    std::lock_guard<std::mutex> guard(commonLock());
    return set_;
}

bool Event::take() {
    if (!set_) return false;
    if (mode_ == kAutoReset) set_ = false;
    return true;
}

bool Event::wait(int timeoutMs) {
    Event* self = this;
    return waitForAny(&self, 1, timeoutMs) == 0;
}

int waitForAny(Event* const* events, int count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock<std::mutex> guard(commonLock());
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (events[i]->take()) return i;
        }
        if (timeoutMs < 0) {
            commonChange().wait(guard);
        } else if (commonChange().wait_until(guard, deadline) == std::cv_status::timeout) {
            for (int i = 0; i < count; ++i) {
                if (events[i]->take()) return i;
            }
            return kWaitTimeout;
        }
    }
}

}  // namespace relayon
