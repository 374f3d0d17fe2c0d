// OS-independent: events that threads set and wait for, alone or several at once.
#pragma once

namespace relayon {

constexpr int kInfinite = -1;     // a time-out that never ends
constexpr int kWaitTimeout = -1;  // waitForAny: no event was set within the time-out

// An event in the manner of a Win32 event: an auto-reset event lets one wait through and
// is unset again by it; a manual-reset event stays set until reset.
class Event {
public:
    enum Mode { kAutoReset, kManualReset };

    explicit Event(Mode mode = kAutoReset, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;  // a look only: takes nothing from an auto-reset event

    // True when the event was set within timeoutMs (kInfinite: no limit).
    bool wait(int timeoutMs);

private:
    friend int waitForAny(Event* const* events, int count, int timeoutMs);
    bool take();  // with the common lock held

    const Mode mode_;
    bool set_;
};

// Waits until one of the events is set, at most timeoutMs (kInfinite: no limit), and returns
// the lowest index of a set event, unsetting it when it is auto-reset; kWaitTimeout otherwise.
int waitForAny(Event* const* events, int count, int timeoutMs);

}  // namespace relayon
