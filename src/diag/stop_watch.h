// OS-independent: a millisecond stop watch over the system tick counter.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace relayon {

// Counts milliseconds since its start in unsigned 32-bit arithmetic, so an interval stays right
// when the tick counter wraps past zero. No lock: it is started before any other thread reads it.
class StopWatch {
public:
    using TickSource = std::uint32_t (*)();

    // A watch not yet started, which reads zero; ticks come from the source (the system's
    // counter by default).
    explicit StopWatch(TickSource ticks = os::tickCount) : ticks_(ticks) {}

    // Starts from zero (again).
    void start() {
        startTick_ = ticks_();
        running_ = true;
    }
    // Milliseconds since the start, modulo 2^32.
    std::uint32_t elapsed() const { return running_ ? ticks_() - startTick_ : 0; }

private:
    TickSource ticks_;
    std::uint32_t startTick_ = 0;
    bool running_ = false;
};

}  // namespace relayon
