// OS-independent: the translation-file check.
#include "startup/translation_check.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include "text/text_utils.h"
#include "engine/fields.h"
#include "engine/relay.h"
#include "platform/io.h"
#include "platform/path.h"
#include "process/input_thread.h"
#include "process/server_process.h"

namespace relayon {

namespace {

struct SectionView {
    RuleSection section;
    const char* purpose;
    bool answers;  // a reply table: whole lines answered back to their sender
};

const SectionView kSections[] = {
    {RuleSection::Client2Server, "rewrites lines from the client", false},
    {RuleSection::Server2Client, "rewrites lines from the server", false},
    {RuleSection::Client2Client, "answers whole lines from the client", true},
    {RuleSection::Server2Server, "answers whole lines from the server", true},
};

// The current value of a setting, as the check shows it.
std::string settingValue(const Settings& s, const std::string& name) {
    auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    auto word = [](const std::string& text, int value) {
        return quoted(text) + (text.empty() || value != kPriorityNotSet ? "" : " (not a known word: not set)");
    };
    if (name == "Priority") return word(s.Priority, priorityClassFromName(s.Priority));
    if (name == "ThreadPriority") return word(s.ThreadPriority, threadPriorityFromName(s.ThreadPriority));
    if (name == "Boost") return flag(s.Boost);
    if (name == "CommandLine") return quoted(s.CommandLine);
    if (name == "Debug") return std::to_string(s.Debug);
    if (name == "Log") return quoted(s.Log);
    if (name == "Ctrl") return flag(s.Ctrl);
    if (name == "TerminateHard") return flag(s.TerminateHard);
    if (name == "EndLineServer") return quoted(s.EndLineServer);
    if (name == "EndLineClient") return quoted(s.EndLineClient);
    std::ostringstream number;
    number << s.CpuPower;
    return number.str();
}

// What a rule value does besides replacing its key.
std::string marks(const std::string& value, bool answer) {
    if (answer) return "  [answer]";
    std::string found;
    if (value.find("<string") != std::string::npos) found += " template";
    if (equalsIgnoreCase(nthField(value, 1), "<readfile>")) found += " readfile";
    if (value.find("<delete>") != std::string::npos) found += " delete";
    if (equalsIgnoreCase(value, "<stop>") || equalsIgnoreCase(value, "<start>") ||
        equalsIgnoreCase(nthField(value, 1), "<copy>")) {
        found += " action";
    }
    return found.empty() ? found : "  [" + found.substr(1) + "]";
}

std::string describe(const ControlAction& action) {
    switch (action.kind) {
        case ControlAction::Kind::Stop: return "stop the server";
        case ControlAction::Kind::Start: return "start the server again";
        case ControlAction::Kind::Copy: return "copy " + quoted(action.source) + " to " + quoted(action.target);
        case ControlAction::Kind::None: break;
    }
    return "";
}

// The relay's targets as the check shows them: each rule that acts with the text it leaves, what
// a template's placeholders take, each line that would be written, each action that would be
// carried out (none is) and each note that would be logged, as coming from the side whose pump
// runs.
class ShownTargets : public RelayTargets, public TranslationObserver {
public:
    ShownTargets(const Settings& settings, std::ostream& out) : settings_(settings), out_(out) {}

    // The pump of the client (true) or of the server runs next, on line.
    void from(bool client, std::string_view line) {
        client_ = client;
        line_ = line;
        shown_ = 0;
    }
    // After the pump: says so when it gave nothing.
    void done() {
        if (shown_ == 0) say("nothing is written");
    }

    void toClient(std::string& lines, bool) override { show(true, lines); }
    void toServer(std::string_view lines) override { show(false, lines); }
    void carryOut(const ControlAction& action) override { say("control action: " + describe(action)); }
    void note(const std::string& text) override { say("log note " + quoted(text), false); }
    void ruleActed(std::string_view key, std::string_view text) override {
        say("rule " + quoted(std::string(key)) + " acts: " + quoted(std::string(text)), false);
    }
    void placeholdersFilled(std::string_view before, std::string_view after) override {
        std::string took;
        for (const auto& [name, value] : placeholdersIn(std::string(before), line_)) {
            took += (took.empty() ? "" : ", ") + name + " takes " + quoted(value);
        }
        say((took.empty() ? "no placeholder" : took) + " and the text becomes " + quoted(std::string(after)), false);
    }

private:
    // Without gathering, the relay hands on one line at a time, with its line end.
    void show(bool toClient, std::string_view lines) {
        const std::string& end = toClient ? settings_.EndLineClient : settings_.EndLineServer;
        if (lines.size() >= end.size() && lines.substr(lines.size() - end.size()) == end) {
            lines.remove_suffix(end.size());
        }
        const std::string text(lines);
        say(toClient == client_ ? "answered back with " + quoted(text)
                                : std::string("to the ") + (toClient ? "client " : "server ") + quoted(text));
    }
    void say(const std::string& text, bool counts = true) {
        out_ << "  from the " << (client_ ? "client" : "server") << ": " << text << "\n";
        shown_ += counts ? 1 : 0;
    }

    const Settings& settings_;
    std::ostream& out_;
    std::string line_;
    bool client_ = true;
    int shown_ = 0;
};

// Shows the program that the server command line starts and the folder it runs in; false when
// it cannot be started (said in a warning).
bool showServerProgram(const std::string& commandLine, std::ostream& out) {
    auto warn = [&](const std::string& why) {
        out << "Warning: the server command line " << quoted(commandLine) << " " << why << "\n";
        return false;
    };
    if (commandLine.size() >= kMaxCommandLine) {
        return warn("has " + std::to_string(commandLine.size()) + " characters; it must be shorter than " +
                    std::to_string(kMaxCommandLine));
    }
    ServerProgram program;
    if (!locateServerProgram(commandLine, program)) return warn("names no program that exists");
    std::string current;
    out << "The server program: \"" << program.path << "\", run in ";
    if (!program.directory.empty()) {
        out << "its folder \"" << program.directory << "\"\n";
    } else if (os::fullPath(".", current)) {
        out << "Relayon's current folder \"" << current << "\"\n";
    } else {
        out << "Relayon's current folder\n";
    }
    return true;
}

// Shows what the relay makes of each line of input, from either side: the lines are cut by a
// reader as the relay's readers cut them, and go through the relay's own pumps, without
// gathering, into targets that show them.
void showLines(const Settings& settings, const RuleTables& tables, os::RawHandle input, std::ostream& out) {
    ShownTargets targets(settings, out);
    Relay relay(settings, tables, targets, false);
    relay.setObserver(&targets);
    InputThread reader;
    reader.setBorrowedHandle(input);
    bool first = true;
    reader.callback = [&](std::string_view line) {
        if (first) out << "\nLines given on standard input, as each side would send them:\n";
        first = false;
        out << quoted(std::string(line)) << "\n";
        targets.from(true, line);
        relay.clientPump(line);
        targets.done();
        targets.from(false, line);
        relay.serverPump(line);
        targets.done();
        out.flush();
        return true;
    };
    // The reader cuts a line once, for both sides.
    reader.lineCut = [&](std::uint64_t dropped) {
        targets.from(true, std::string());
        relay.noteLineCut(dropped);
    };
    reader.unfinishedLine = [&](std::uint64_t bytes) {
        out << "The input ends with " << bytes << " bytes after its last line feed: Relayon drops them.\n";
    };
    if (os::isTerminal(input)) {
        std::cerr << "Type lines to see what each becomes, as from the client and as from the server; "
                  << os::kEndOfInputKeys << " ends.\n" << std::flush;
    }
    if (reader.start(0)) reader.ended().wait(kInfinite);
    reader.stop();
}

}  // namespace

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        appendShown(out, c);
    }
    return out + "\"";
}

std::string warningSummary(const TranslationReport& report) {
    const std::size_t count = report.warnings.size();
    const TranslationReport::Warning& first = report.warnings.front();
    const bool blank = report.fileRead.find(' ') != std::string::npos;
    return report.fileRead + ": " + std::to_string(count) + (count == 1 ? " warning (" : " warnings (") +
           (first.line != 0 ? "line " + std::to_string(first.line) + ": " : "") + first.text + "); see relayon " +
           kCheckOption + (blank ? " \"" + report.fileRead + "\"" : " " + report.fileRead);
}

int checkTranslation(const Settings& settings, const RuleTables& tables, const TranslationReport& report,
                     const CommandLineRequest& request, os::RawHandle input, std::ostream& out) {
    const std::vector<std::string>& optionSettings = request.optionSettings;
    // File names are shown as they are, without escapes, so that Windows paths read as usual.
    auto name = [](const std::string& file) { return "\"" + file + "\""; };
    std::size_t warnings = report.warnings.size();
    if (report.fileRead.empty()) {
        out << "No translation file could be read: " << name(settings.TranslationFile) << " ("
            << report.namedFileError << ") nor " << name(kFallbackTranslationFile) << ". Relayon runs with no rules.\n";
    } else if (!report.namedFileRead) {
        ++warnings;
        out << "Warning: " << name(settings.TranslationFile) << " cannot be read (" << report.namedFileError
            << "), so " << name(report.fileRead) << " is read instead.\n";
    } else {
        out << "Translation file: " << name(report.fileRead) << "\n";
    }
    for (const auto& warning : report.warnings) {
        out << "Warning";
        if (warning.line != 0) out << ", line " << warning.line;
        out << ": " << warning.text << "\n";
    }
    for (const std::string& warning : request.warnings) out << "Warning, " << warning << "\n";
    warnings += request.warnings.size();

    out << "\nSettings (the file wins over the command line, which wins over the defaults):\n";
    for (const char* name : kSettingKeys) {
        auto line = report.settingLines.find(name);
        std::string source = line != report.settingLines.end() ? "file, line " + std::to_string(line->second)
                             : std::count(optionSettings.begin(), optionSettings.end(), name) ? "command line"
                                                                                              : "default";
        std::string shown = "  " + std::string(name);
        shown.resize(18, ' ');
        out << shown << settingValue(settings, name) << "  (" << source << ")\n";
    }
    out << "\n";
    if (settings.CommandLine.empty()) {
        out << "No server command line: Relayon would print its usage and end.\n";
    } else if (!showServerProgram(trimBlanks(settings.CommandLine), out)) {
        ++warnings;
    }

    for (const SectionView& view : kSections) {
        const RuleTable& table = tableOf(tables, view.section);
        const auto& lines = report.ruleLines[static_cast<std::size_t>(view.section)];
        out << "\n" << sectionHeader(view.section) << " " << view.purpose;
        if (table.empty()) {
            out << ": no rules\n";
            continue;
        }
        out << (view.answers ? "; the rules:\n" : "; the rules in the order they apply:\n");
        int number = 0;
        for (const auto& [key, value] : table.rules()) {
            auto line = lines.find(key);
            out << "  " << ++number << ". ";
            if (line != lines.end()) out << "line " << line->second << ": ";
            out << quoted(key) << " => " << quoted(value) << marks(value, view.answers) << "\n";
        }
    }

    showLines(settings, tables, input, out);
    out.flush();
    if (report.fileRead.empty()) return 2;
    return warnings == 0 ? 0 : 1;
}

}  // namespace relayon
