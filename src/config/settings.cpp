// OS-independent: reading flags and priority words of the settings.
#include "config/settings.h"

#include "text/text_utils.h"
#include "platform/priority.h"

namespace relayon {

const char* const kSettingKeys[kSettingKeyCount] = {"Priority",      "ThreadPriority", "Boost",         "CommandLine",
                                                    "Debug",         "Log",            "Ctrl",          "TerminateHard",
                                                    "EndLineServer", "EndLineClient",  "CpuPower"};

namespace {

struct NamedValue {
    const char* name;
    long long value;  // wide enough for both the class and the level constants
};

// Searches a table in its order; the first word equal to name (any letter case) wins.
template <std::size_t N>
int lookUp(const NamedValue (&table)[N], const std::string& name) {
    for (const NamedValue& entry : table) {
        if (equalsIgnoreCase(name, entry.name)) return static_cast<int>(entry.value);
    }
    return kPriorityNotSet;
}

}  // namespace

bool parseFlag(const std::string& text) {
    if (text.empty()) return false;
    if (text[0] == 'T' || text[0] == 't') return true;
    if (text[0] == 'F' || text[0] == 'f') return false;
    if (equalsIgnoreCase(text, "ON")) return true;
    return text[0] >= '1' && text[0] <= '9';
}

// The values are the platform's priority class constants; the OS layer maps them.
int priorityClassFromName(const std::string& name) {
    static const NamedValue kClasses[] = {
        {"low", os::kIdlePriorityClass},          {"idle", os::kIdlePriorityClass},
        {"below", os::kBelowNormalPriorityClass}, {"normal", os::kNormalPriorityClass},
        {"above", os::kAboveNormalPriorityClass}, {"high", os::kHighPriorityClass},
        {"realtime", os::kRealtimePriorityClass},
    };
    return lookUp(kClasses, name);
}

int threadPriorityFromName(const std::string& name) {
    static const NamedValue kThreadPriorities[] = {
        {"idle", os::kThreadPriorityIdle},          {"lowest", os::kThreadPriorityLowest},
        {"low", os::kThreadPriorityBelowNormal},    {"below", os::kThreadPriorityBelowNormal},
        {"normal", os::kThreadPriorityNormal},      {"above", os::kThreadPriorityAboveNormal},
        {"high", os::kThreadPriorityAboveNormal},   {"highest", os::kThreadPriorityHighest},
        {"timecritical", os::kThreadPriorityTimeCritical},
    };
    return lookUp(kThreadPriorities, name);
}

}  // namespace relayon
