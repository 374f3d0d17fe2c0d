// OS-independent: the notices Relayon gives about its own work, in the log and on the debug display.
#pragma once

#include <string>

namespace relayon {

// The texts of the two priority reports, each ending with a line feed.
std::string priorityClassReport(unsigned value);
std::string threadPriorityReport(int value);

// Writes text to the debug display in the notice colour when debug is non-zero, then logs it as
// a note. A text without a line end gets one on the display.
void notice(const std::string& text, int debug);

}  // namespace relayon
