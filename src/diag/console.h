// OS-independent: the debug console, a display of its own with coloured text.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "diag/queued_writer.h"
#include "platform/handle.h"

namespace relayon {

// Console character attributes (black background).
constexpr std::uint16_t kNoticeColour = 10;    // bright green: Relayon's notices
constexpr std::uint16_t kToServerColour = 9;   // bright blue: from the client, or to the server
constexpr std::uint16_t kToClientColour = 12;  // bright red: from the server, or to the client

// The most text waiting for a display that does not keep up; what comes beyond it is dropped.
constexpr std::size_t kDisplayBacklog = 1024 * 1024;

// The display is written on a thread of its own, so that a display that does not take text (a
// terminal nobody reads, or one paused with Ctrl-S) never holds a caller: text it has not taken
// when kDisplayBacklog bytes wait is dropped, and the display later shows, in the notice colour,
// a line "[N bytes not shown]" where text was dropped.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Opens the display; false when there is none (every write then returns false at once).
    // Made before any thread that writes exists; a second call keeps the open display.
    bool open();
    bool isOpen() const { return open_; }
    // Refuses writes from now on, and gives the display up to timeoutMs to show what it was
    // given; a display that has not taken it by then is left as it is (not closed). Any thread.
    void close(int timeoutMs = 1000);

    // Shows the whole text in the colour, after the texts written before it; true when it was
    // taken, false when it was dropped or no display is open. An empty text shows nothing.
    bool write(const std::string& text, std::uint16_t attribute);

private:
    std::mutex lock_;  // orders the texts and the drop notes; held only to hand texts over
    std::atomic<bool> open_{false};  // a look without the lock
    os::RawHandle display_ = os::kNoHandle;
    QueuedWriter writer_;
    std::uint64_t dropped_ = 0;  // bytes dropped since the last text shown
};

// The process-wide debug console, never destroyed, so that a thread still running at process end
// (the control handler's) finds it usable.
Console& debugConsole();

}  // namespace relayon
