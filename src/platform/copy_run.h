// OS-independent: the copies under way, so that a process about to end can settle them (used by
// the platforms' copyFile only).
#pragma once

namespace relayon::os {

// One copy under way, from its construction to its destruction. endCopies() cancels it and
// waits for its end; a copy that is cancelled drops what it has not yet put in place.
class CopyRun {
public:
    CopyRun();
    ~CopyRun();
    CopyRun(const CopyRun&) = delete;
    CopyRun& operator=(const CopyRun&) = delete;

    // True once the process is ending: the copy should give up at its next step, unless it
    // is writing an existing target in place, which it finishes.
    bool cancelled() const;
};

}  // namespace relayon::os
