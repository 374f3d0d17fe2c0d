// OS-independent: the debug console over the platform's display.
#include "diag/console.h"

#include "platform/console_display.h"

namespace relayon {

Console::Console() = default;

Console::~Console() { close(); }

bool Console::open() {
    std::lock_guard<std::mutex> hold(lock_);
    if (display_ == os::kNoHandle) display_ = os::openDisplay();
    open_ = display_ != os::kNoHandle;
    return open_;
}

void Console::close() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = false;
    if (display_ != os::kNoHandle) os::closeDisplay(display_);
    display_ = os::kNoHandle;
}

bool Console::write(const std::string& text, std::uint16_t attribute) {
    if (!open_) return false;  // without the lock, so that a run without a display costs nothing
    std::lock_guard<std::mutex> hold(lock_);
    return display_ != os::kNoHandle && os::writeDisplay(display_, text.data(), text.size(), attribute);
}

Console& debugConsole() {
    static Console* console = new Console;
    return *console;
}

}  // namespace relayon
