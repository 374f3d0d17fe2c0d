// OS-independent: stop watch arithmetic.
#include "diag/stop_watch.h"

namespace relayon {

StopWatch::StopWatch(TickSource ticks) : ticks_(ticks) {
    StopWatch::reset();
}

StopWatch::~StopWatch() = default;

void StopWatch::start() {
    accumulated_ = 0;
    running_ = true;
    startTick_ = ticks_();
}

std::uint32_t StopWatch::stop() {
    if (running_) {
        running_ = false;
        accumulated_ += ticks_() - startTick_;
    }
    return accumulated_;
}

std::uint32_t StopWatch::elapsed() const {
    if (!running_) return accumulated_;
    return accumulated_ + (ticks_() - startTick_);
}

void StopWatch::resume() {
    startTick_ = ticks_();
    running_ = true;
}

void StopWatch::reset() {
    startTick_ = 0;
    accumulated_ = 0;
    running_ = false;
}

void StopWatch::set(std::int32_t ms) {
    accumulated_ = ms < 0 ? 0 : static_cast<std::uint32_t>(ms);
    if (running_) startTick_ = ticks_();
}

}  // namespace relayon
