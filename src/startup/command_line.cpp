// OS-independent: command-line parsing and the usage text.
#include "startup/command_line.h"

#include <cstring>
#include <string>

#include "config/text_utils.h"

namespace relayon {

namespace {

// Handles an option that takes a value: stores value, unless it is null (the option was the
// last argument). Returns false when option is not one of these options.
bool applyValueOption(const std::string& option, const char* value, Settings& settings) {
    std::string* text = nullptr;
    if (option == "/t") text = &settings.TranslationFile;
    else if (option == "/p") text = &settings.Priority;
    else if (option == "/h") text = &settings.ThreadPriority;
    else if (option == "/l") text = &settings.Log;
    else if (option != "/d" && option != "/b") return false;
    if (value == nullptr) return true;
    if (text != nullptr) *text = value;
    else if (option == "/d") settings.Debug = readInteger(value);
    else settings.Boost = parseFlag(value);
    return true;
}

}  // namespace

void parseCommandLine(int argc, const char* const* argv, Settings& settings) {
    int i = 1;
    while (i < argc) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "/c") == 0) {
            settings.Ctrl = false;
            ++i;
        } else if (applyValueOption(arg, value, settings)) {
            i += 2;
        } else {
            // The first other argument starts the server command line, which takes the rest.
            std::string commandLine = arg;
            for (++i; i < argc; ++i) {
                commandLine += ' ';
                commandLine += argv[i];
            }
            settings.CommandLine = commandLine;
        }
    }
}

void printUsage(std::ostream& out) {
    out << "Relayon. 1.11 by the Relayon developers\n"
        << "Syntax: Relayon [/t filename /p priority /c /b [0|1] /d n /t [priority] /l logfile] <command line>\n"
        << "Where:\n"
        << "  /t textfile with the translation. Default=Relayon.ini\n"
        << "  /p Priority flag, idle, below, normal, above, high, or realtime. Default is the same as this process.\n"
        << "  /c Stop ctrl C and ctrl break. Default is passing through.\n"
        << "  /d Debug where n could be 1=client side, 2=server side, 3=both.\n"
        << "  /h Thread priority flag, idle, lowest, below, normal, above, highest, or timecritical. Default is the "
           "same as this process.\n"
        << "  /b Disable normal windows boost.\n"
        << "  /l Logfile.\n";
    out.flush();
}

}  // namespace relayon
