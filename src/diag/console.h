// OS-independent: the debug console, a display of its own with coloured text.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "diag/queued_writer.h"
#include "platform/handle.h"

namespace relayon {

// Console character attributes (black background).
constexpr std::uint16_t kNoticeColour = 10;    // bright green: Relayon's notices
constexpr std::uint16_t kToServerColour = 9;   // bright blue: from the client, or to the server
constexpr std::uint16_t kToClientColour = 12;  // bright red: from the server, or to the client
// The display's own colours, for a display that shows no colours (NO_COLOR).
constexpr std::uint16_t kPlainText = 0;

// How a display without colours shows a text written in a colour: each line begun with the
// colour's mark and a blank ('>' blue, '<' red, '-' green, as the log marks the same lines).
// lineStart tells whether the text begins a line, and is updated to whether it ends one.
std::string withMarks(std::string_view text, std::uint16_t attribute, bool& lineStart);

// The most text waiting for a display that does not keep up; what comes beyond it is dropped.
constexpr std::size_t kDisplayBacklog = 1024 * 1024;

// The display is written on a thread of its own, so that a display that does not take text (a
// terminal nobody reads, or one paused with Ctrl-S) never holds a caller: text it has not taken
// when kDisplayBacklog bytes wait is dropped, and the display later shows, in the notice colour,
// a line "[N bytes not shown]" where text was dropped. With the environment variable NO_COLOR set
// (not empty), texts are shown without colours, with marks.
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
    bool put(const std::string& text, std::uint16_t attribute);

    std::mutex lock_;  // orders the texts and the drop notes; held only to hand texts over
    std::atomic<bool> open_{false};  // a look without the lock
    os::RawHandle display_ = os::kNoHandle;
    QueuedWriter writer_;
    std::uint64_t dropped_ = 0;  // bytes dropped since the last text shown
    bool marks_ = false;         // marks instead of colours
    bool lineStart_ = true;      // the text shown last ended its line
};

// The process-wide debug console, never destroyed, so that a thread still running at process end
// (the control handler's) finds it usable.
Console& debugConsole();

}  // namespace relayon
