// OS-independent: reading flags and priority words of the settings.
#include "config/settings.h"

#include "text/text_utils.h"
#include "platform/priority.h"

namespace relayon {

const char* const kSettingKeys[kSettingKeyCount] = {"Priority",      "ThreadPriority", "Boost",         "CommandLine",
                                                    "Debug",         "Log",            "Ctrl",          "TerminateHard",
                                                    "EndLineServer", "EndLineClient",  "CpuPower"};

const char kFlagRule[] =
    "a flag is true when it begins with T or a digit 1 to 9, or is ON (any letter case); every other word, "
    "yes included, is false";

namespace {

struct NamedValue {
    const char* name;
    long long value;  // wide enough for both the class and the level constants
};

// The words and their values, the platform's constants (the OS layer maps them), in the order
// they are searched.
const NamedValue kClasses[] = {
    {"idle", os::kIdlePriorityClass},         {"low", os::kIdlePriorityClass},
    {"below", os::kBelowNormalPriorityClass}, {"normal", os::kNormalPriorityClass},
    {"above", os::kAboveNormalPriorityClass}, {"high", os::kHighPriorityClass},
    {"realtime", os::kRealtimePriorityClass},
};
const NamedValue kThreadPriorities[] = {
    {"idle", os::kThreadPriorityIdle},          {"lowest", os::kThreadPriorityLowest},
    {"low", os::kThreadPriorityBelowNormal},    {"below", os::kThreadPriorityBelowNormal},
    {"normal", os::kThreadPriorityNormal},      {"above", os::kThreadPriorityAboveNormal},
    {"high", os::kThreadPriorityAboveNormal},   {"highest", os::kThreadPriorityHighest},
    {"timecritical", os::kThreadPriorityTimeCritical},
};

// Searches a table in its order; the first word equal to name (any letter case) wins.
template <std::size_t N>
int lookUp(const NamedValue (&table)[N], const std::string& name) {
    for (const NamedValue& entry : table) {
        if (equalsIgnoreCase(name, entry.name)) return static_cast<int>(entry.value);
    }
    return kPriorityNotSet;
}

template <std::size_t N>
std::string wordsOf(const NamedValue (&table)[N]) {
    std::string words;
    for (const NamedValue& entry : table) words += (words.empty() ? "" : ", ") + std::string(entry.name);
    return words;
}

}  // namespace

bool parseFlag(const std::string& text) {
    if (text.empty()) return false;
    if (text[0] == 'T' || text[0] == 't') return true;
    if (text[0] == 'F' || text[0] == 'f') return false;
    if (equalsIgnoreCase(text, "ON")) return true;
    return text[0] >= '1' && text[0] <= '9';
}

int priorityClassFromName(const std::string& name) { return lookUp(kClasses, name); }

int threadPriorityFromName(const std::string& name) { return lookUp(kThreadPriorities, name); }

std::string priorityWords(bool thread) { return thread ? wordsOf(kThreadPriorities) : wordsOf(kClasses); }

}  // namespace relayon
