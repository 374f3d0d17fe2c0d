// OS-independent: the debug console, a display of its own with coloured text.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/handle.h"

namespace relayon {

// Console character attributes (black background).
constexpr std::uint16_t kNoticeColour = 10;    // bright green: Relayon's notices
constexpr std::uint16_t kToServerColour = 9;   // bright blue: from the client, or to the server
constexpr std::uint16_t kToClientColour = 12;  // bright red: from the server, or to the client

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
    // Closes the display; later writes return false. Safe against writes on other threads.
    void close();

    // Shows the whole text in the colour, under the console lock; true when it was written.
    // An empty text shows nothing and succeeds on an open console.
    bool write(const std::string& text, std::uint16_t attribute);

private:
    std::mutex lock_;
    std::atomic<bool> open_{false};  // a look without the lock; display_ is used under it
    os::RawHandle display_ = os::kNoHandle;
};

// The process-wide debug console, never destroyed, so that a thread still running at process end
// (the control handler's) finds it usable.
Console& debugConsole();

}  // namespace relayon
