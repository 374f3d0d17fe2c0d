// OS-independent: a millisecond stop watch over the system tick counter.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace relayon {

// Counts milliseconds in unsigned 32-bit arithmetic, so an interval stays right when the tick
// counter wraps past zero. No lock: a watch changed while other threads read it needs one.
class StopWatch {
public:
    using TickSource = std::uint32_t (*)();

    // A stopped watch at zero; ticks come from the source (the system's counter by default).
    explicit StopWatch(TickSource ticks = os::tickCount);
    virtual ~StopWatch();

    // Starts from zero.
    virtual void start();
    // Ends the interval in progress, if any; returns the total.
    virtual std::uint32_t stop();
    // The total so far, including the interval in progress.
    virtual std::uint32_t elapsed() const;
    // Starts a new interval now, keeping the total (an interval in progress is dropped).
    virtual void resume();
    // Stopped at zero.
    virtual void reset();
    // Sets the total (0 for a negative value); a running watch counts on from it.
    virtual void set(std::int32_t ms);

private:
    TickSource ticks_;
    std::uint32_t startTick_ = 0;
    std::uint32_t accumulated_ = 0;
    bool running_ = false;
};

}  // namespace relayon
