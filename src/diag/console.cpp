// OS-independent: the debug console over the platform's display.
#include "diag/console.h"

#include "platform/console_display.h"

namespace relayon {

Console::Console()
    : writer_([this](const std::string& text, std::uint16_t attribute) {
                  return os::writeDisplay(display_, text.data(), text.size(), attribute);
              },
              kDisplayBacklog, QueuedWriter::WhenFull::Refuse) {}

Console::~Console() { close(); }

bool Console::open() {
    std::lock_guard<std::mutex> hold(lock_);
    if (display_ == os::kNoHandle) {
        display_ = os::openDisplay();
        if (display_ != os::kNoHandle && !writer_.start()) {
            os::closeDisplay(display_);
            display_ = os::kNoHandle;
        }
    }
    open_ = display_ != os::kNoHandle;
    return open_;
}

void Console::close(int timeoutMs) {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = false;
    if (display_ == os::kNoHandle) return;
    // A writer still in a write the display does not take keeps its handle, for good.
    if (!writer_.finish(timeoutMs)) return;
    os::closeDisplay(display_);
    display_ = os::kNoHandle;
}

bool Console::write(const std::string& text, std::uint16_t attribute) {
    if (!open_) return false;  // without the lock, so that a run without a display costs nothing
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_) return false;
    if (dropped_ != 0 && writer_.put("[" + std::to_string(dropped_) + " bytes not shown]\n", kNoticeColour)) {
        dropped_ = 0;
    }
    if (text.empty()) return true;
    if (dropped_ == 0 && writer_.put(text, attribute)) return true;
    dropped_ += text.size();
    return false;
}

Console& debugConsole() {
    static Console* console = new Console;
    return *console;
}

}  // namespace relayon
