// OS-independent: the debug console over the platform's display.
#include "diag/console.h"

#include "platform/console_display.h"

namespace relayon {

Console::Console() = default;

Console::~Console() {
    if (display_ != os::kNoHandle) os::closeDisplay(display_);
}

bool Console::open() {
    std::lock_guard<std::mutex> hold(lock_);
    if (display_ == os::kNoHandle) display_ = os::openDisplay();
    return display_ != os::kNoHandle;
}

bool Console::isOpen() const {
    return display_ != os::kNoHandle;
}

bool Console::write(const std::string& text, std::uint16_t attribute) {
    // The display is opened before other threads start and kept until the process ends, so it
    // is tested without the lock.
    if (display_ == os::kNoHandle) return false;
    std::lock_guard<std::mutex> hold(lock_);
    return os::writeDisplay(display_, text.data(), text.size(), attribute);
}

Console& debugConsole() {
    static Console console;
    return console;
}

}  // namespace relayon
