// OS-independent: command-line parsing and the usage text.
#include "startup/command_line.h"

#include <cstring>
#include <string>

#include "config/translation_file.h"
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
            if (value != nullptr) {
                result.optionSettings.push_back(name);
                const std::string problem = settingProblem(name, value);
                if (!problem.empty()) result.warnings.push_back(std::string("option ") + arg + ": " + problem);
            }
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

namespace {

// Writes text wrapped at 80 columns, every line after the first indented by indent blanks.
void writeWrapped(std::ostream& out, const std::string& text, std::size_t indent) {
    constexpr std::size_t kWidth = 80;
    std::size_t column = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::size_t length = end - start;
        if (column > indent && column + 1 + length >= kWidth) {
            out << "\n" << std::string(indent, ' ');
            column = indent;
        } else if (start > 0) {
            out << ' ';
            ++column;
        }
        out << text.substr(start, length);
        column += length;
        start = end + 1;
    }
    out << "\n";
}

}  // namespace

std::string optionHint(const std::string& commandLine) {
    const std::string first = commandLine.substr(0, commandLine.find(' '));
    if (first.size() != 2 || first[0] != '-' || std::strchr("tphldbc", first[1]) == nullptr) return std::string();
    return std::string("Relayon's own options are written with a slash: /") + first[1] + ", not " + first;
}

void printHelp(std::ostream& out, const std::string& defaultFile) {
    out << kVersionLine << "\n";
    writeWrapped(out, "Relays lines of text between a client, on its standard input and output, and a server "
                      "program that it starts, rewriting them by the rules of a translation file.", 0);
    out << "\nUsage:\n"
           "  relayon [options] <server command line>\n"
           "  relayon [options] --check [file]   show how the translation file reads, and\n"
           "                                     what each line given on standard input\n"
           "                                     becomes; start nothing\n"
           "  relayon -h | --help | /? | -?      print this help\n"
           "  relayon --version                  print the version line\n"
           "\nOptions, only before the server command line, written exactly so:\n";
    const std::string indent(12, ' ');
    writeWrapped(out, "  /t file   the translation file; default: " + defaultFile +
                          " in the current directory, else " + kFallbackTranslationFile, 12);
    out << "  /p word   the priority class of the server, one of:\n" << indent << priorityWords(false) << "\n"
        << "  /h word   the priority of the server's main thread, one of:\n" << indent << priorityWords(true) << "\n"
        << "  /l file   log the lines received and Relayon's notices, appended to file\n"
           "  /d n      show the traffic on a debug display: 1 client side, 2 server\n"
           "            side, 3 both\n"
           "  /b flag   false disables the server's dynamic priority boost (Windows)\n"
           "  /c        do not pass Ctrl-C and Ctrl-Break on to the server\n";
    std::string flags = kFlagRule;
    flags[0] = 'A';
    writeWrapped(out, flags + ". The [Relayon] section of the translation file wins over the options.", 0);
    out << "\n";
    writeWrapped(out, "Ctrl-C and Ctrl-Break (POSIX: SIGINT, SIGQUIT) go on to the server, and Relayon runs on; "
                      "closing its console (POSIX: SIGHUP, SIGTERM) ends it at once. A run ends when the client "
                      "closes Relayon's input or the server its output.", 0);
    out << "\nExample:\n  relayon /t first.ini /l first.log ./myserver --verbose\n";
    out.flush();
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
