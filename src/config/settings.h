// OS-independent: the one record of configurable values, with their defaults.
#pragma once

#include <string>

namespace relayon {

// "Not set" for the requested priority class and thread priority.
constexpr int kPriorityNotSet = 999;

struct Settings {
    std::string CommandLine;      // the server's command line, untrimmed
    std::string TranslationFile;  // empty: the default name from the program's own name
    std::string Priority;         // priority class word for the server
    std::string ThreadPriority;   // priority word for the server's main thread
    bool Boost = true;            // false disables the dynamic priority boost of the server
    bool Ctrl = true;             // true installs the control handler
    int Debug = 0;                // 0 off, 1 client side, 2 server side, 3 both
    std::string Log;              // log file name; empty: no log
    bool TerminateHard = false;   // stop the server hard at shutdown and on "<stop>"
    std::string EndLineServer = "\n";
    std::string EndLineClient = "\n";
    double CpuPower = 100.0;  // percent of processor time for the server's main thread
    bool StringRulesPresent = false;

    // Derived once by start-up from Priority and ThreadPriority.
    int requestedPriorityClass = kPriorityNotSet;
    int requestedThreadPriority = kPriorityNotSet;
};

// The keys of the translation file's settings, spelt as the fields above, in the order the
// loader compares them.
constexpr int kSettingKeyCount = 11;
extern const char* const kSettingKeys[kSettingKeyCount];

// Reads a flag: T..., ON and a first digit 1-9 are true; everything else is false.
bool parseFlag(const std::string& text);
// How parseFlag reads a flag, in a sentence for the user.
extern const char kFlagRule[];

// The priority class value of a word (idle, low, below, normal, above, high, realtime; any
// letter case), or kPriorityNotSet for any other word.
int priorityClassFromName(const std::string& name);

// The thread priority value of a word (idle, lowest, low, below, normal, above, high, highest,
// timecritical; any letter case), or kPriorityNotSet for any other word.
int threadPriorityFromName(const std::string& name);

// The words of priorityClassFromName or (thread) of threadPriorityFromName, as "idle, low, ...".
std::string priorityWords(bool thread);

}  // namespace relayon
