// OS-independent: command-line parsing and the usage text.
#include "startup/command_line.h"

#include <cstring>
#include <string>

#include "text/text_utils.h"

namespace relayon {

const char kCheckOption[] = "--check";

namespace {

const char kVersionLine[] = "Relayon. 1.11 by the Relayon developers\n";

// Handles an option that takes a value: stores value, unless it is null (the option was the
// last argument). Returns the name of the setting the option fills, or null when option is not
// one of these options.
const char* applyValueOption(const std::string& option, const char* value, Settings& settings) {
    static const struct {
        char letter;
        const char* setting;
    } kOptions[] = {{'t', "TranslationFile"}, {'p', "Priority"}, {'h', "ThreadPriority"},
                    {'l', "Log"},             {'d', "Debug"},    {'b', "Boost"}};
    if (option.size() != 2 || option[0] != '/') return nullptr;
    for (const auto& entry : kOptions) {
        if (option[1] != entry.letter) continue;
        if (value == nullptr) return entry.setting;
        switch (entry.letter) {
            case 't': settings.TranslationFile = value; break;
            case 'p': settings.Priority = value; break;
            case 'h': settings.ThreadPriority = value; break;
            case 'l': settings.Log = value; break;
            case 'd': settings.Debug = readInteger(value); break;
            default: settings.Boost = parseFlag(value); break;
        }
        return entry.setting;
    }
    return nullptr;
}

// The request of a help, version or check form, Relay for any other argument.
Request requestOf(const char* arg) {
    for (const char* help : {"-h", "--help", "/?", "-?"}) {
        if (std::strcmp(arg, help) == 0) return Request::Help;
    }
    if (std::strcmp(arg, "--version") == 0) return Request::Version;
    if (std::strcmp(arg, kCheckOption) == 0) return Request::Check;
    return Request::Relay;
}

}  // namespace

CommandLineRequest parseCommandLine(int argc, const char* const* argv, Settings& settings) {
    CommandLineRequest result;
    int i = 1;
    while (i < argc) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "/c") == 0) {
            settings.Ctrl = false;
            result.optionSettings.push_back("Ctrl");
            ++i;
        } else if (const char* name = applyValueOption(arg, value, settings)) {
            if (value != nullptr) result.optionSettings.push_back(name);
            i += 2;
        } else if ((result.request = requestOf(arg)) != Request::Relay) {
            if (result.request != Request::Check) return result;
            if (argc - i > 2) {
                result.request = Request::Invalid;
                result.problem = std::string(kCheckOption) + " takes one translation file name, not more";
            } else if (value != nullptr) {
                settings.TranslationFile = value;
                result.optionSettings.push_back("TranslationFile");
            }
            return result;
        } else {
            // The first other argument starts the server command line, which takes the rest.
            std::string commandLine = arg;
            for (++i; i < argc; ++i) {
                commandLine += ' ';
                commandLine += argv[i];
            }
            settings.CommandLine = commandLine;
            result.optionSettings.push_back("CommandLine");
        }
    }
    return result;
}

void printVersion(std::ostream& out) {
    out << kVersionLine;
    out.flush();
}

void printUsage(std::ostream& out) {
    out << kVersionLine
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
