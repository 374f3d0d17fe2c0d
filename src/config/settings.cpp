// OS-independent: reading flags and priority words of the settings.
#include "config/settings.h"

#include "config/text_utils.h"

namespace relayon {

const char* const kSettingKeys[kSettingKeyCount] = {"Priority",      "ThreadPriority", "Boost",         "CommandLine",
                                                    "Debug",         "Log",            "Ctrl",          "TerminateHard",
                                                    "EndLineServer", "EndLineClient",  "CpuPower"};

namespace {

struct NamedValue {
    const char* name;
    int value;
};

// Searches a table in its order; the first word equal to name (any letter case) wins.
template <std::size_t N>
int lookUp(const NamedValue (&table)[N], const std::string& name) {
    for (const NamedValue& entry : table) {
        if (equalsIgnoreCase(name, entry.name)) return entry.value;
    }
    return kPriorityNotSet;
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool parseFlag(const std::string& text) {
    if (text.empty()) return false;
    std::string upper(text);
    for (char& c : upper) c = upperAscii(c);
    if (upper[0] == 'T') return true;
    if (upper[0] == 'F') return false;
    if (upper == "ON") return true;
    if (upper == "OFF") return false;
    return upper[0] >= '1' && upper[0] <= '9';
}

// The values are the platform's priority class constants; the OS layer maps them.
int priorityClassFromName(const std::string& name) {
    static const NamedValue kClasses[] = {
        {"low", 64},     {"idle", 64},  {"below", 16384}, {"normal", 32},
        {"above", 32768}, {"high", 128}, {"realtime", 256},
    };
    return lookUp(kClasses, name);
}

int threadPriorityFromName(const std::string& name) {
    static const NamedValue kThreadPriorities[] = {
        {"idle", -15},  {"lowest", -2}, {"low", -1},     {"below", -1},        {"normal", 0},
        {"above", 1},   {"high", 1},    {"highest", 2},  {"timecritical", 15},
    };
    return lookUp(kThreadPriorities, name);
}

}  // namespace relayon
