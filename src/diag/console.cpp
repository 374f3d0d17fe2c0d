// OS-independent: the debug console over the platform's display.
#include "diag/console.h"

#include <cstdlib>

#include "platform/console_display.h"

namespace relayon {

std::string withMarks(std::string_view text, std::uint16_t attribute, bool& lineStart) {
    const char mark = attribute == kToServerColour ? '>' : attribute == kToClientColour ? '<' : '-';
    std::string shown;
    for (char c : text) {
        if (lineStart) shown.append({mark, ' '});
        shown += c;
        lineStart = c == '\n';
    }
    return shown;
}

Console::Console()
    : writer_([this](std::string_view text, std::uint16_t attribute, std::size_t&) {
                  return os::writeDisplay(display_, text.data(), text.size(), attribute);
              },
              kDisplayBacklog, QueuedWriter::WhenFull::Refuse) {}

Console::~Console() { close(); }

bool Console::open() {
    std::lock_guard<std::mutex> hold(lock_);
    if (display_ == os::kNoHandle) {
        const char* noColour = std::getenv("NO_COLOR");
        marks_ = noColour != nullptr && *noColour != '\0';
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
    if (dropped_ != 0 && put("[" + std::to_string(dropped_) + " bytes not shown]\n", kNoticeColour)) dropped_ = 0;
    if (text.empty()) return true;
    if (dropped_ == 0 && put(text, attribute)) return true;
    dropped_ += text.size();
    return false;
}

// Hands a text to the writer, with marks instead of its colour when so asked; the caller holds
// lock_. Text that is dropped leaves the line where it was.
bool Console::put(const std::string& text, std::uint16_t attribute) {
    if (!marks_) return writer_.put(text, attribute);
    bool lineStart = lineStart_;
    if (!writer_.put(withMarks(text, attribute, lineStart), kPlainText)) return false;
    lineStart_ = lineStart;
    return true;
}

Console& debugConsole() {
    static Console* console = new Console;
    return *console;
}

}  // namespace relayon
