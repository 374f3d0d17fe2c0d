// OS-independent: Relayon's notices.
#include "startup/reports.h"

#include "diag/console.h"
#include "diag/log_file.h"
#include "platform/priority.h"

namespace relayon {

std::string priorityClassReport(unsigned value) {
    std::string name;
    switch (value) {
        case os::kNormalPriorityClass: name = "normal"; break;
        case os::kIdlePriorityClass: name = "idle"; break;
        case os::kHighPriorityClass: name = "high"; break;
        case os::kRealtimePriorityClass: name = "realtime"; break;
        case os::kBelowNormalPriorityClass: name = "below"; break;
        case os::kAboveNormalPriorityClass: name = "above"; break;
        default: name = std::to_string(value);
    }
    return "Priority class set to " + name + "\n";
}

std::string threadPriorityReport(int value) {
    std::string name;
    switch (value) {
        case os::kThreadPriorityNormal: name = "normal"; break;
        case os::kThreadPriorityAboveNormal: name = "above normal"; break;
        case os::kThreadPriorityHighest: name = "highest"; break;
        case os::kThreadPriorityTimeCritical: name = "timecritical"; break;
        case os::kThreadPriorityIdle: name = "idle"; break;
        case os::kThreadPriorityLowest: name = "lowest"; break;
        case os::kThreadPriorityBelowNormal: name = "below normal"; break;
        default: name = std::to_string(value);
    }
    return "Thread priority set to " + name + "\n";
}

void notice(const std::string& text, int debug) {
    if (debug != 0) {
        const bool ended = !text.empty() && text.back() == '\n';
        debugConsole().write(ended ? text : text + "\n", kNoticeColour);
    }
    logLine(text, kNote);
}

}  // namespace relayon
