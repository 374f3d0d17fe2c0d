// OS-independent: the translation-file check.
#include "startup/translation_check.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "text/text_utils.h"
#include "engine/delivery.h"
#include "engine/fields.h"
#include "engine/translation.h"

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

class CollectedNotes : public NoteSink {
public:
    void note(const std::string& text) override { notes.push_back(text); }
    std::vector<std::string> notes;
};

std::string describe(const ControlAction& action) {
    switch (action.kind) {
        case ControlAction::Kind::Stop: return "stop the server";
        case ControlAction::Kind::Start: return "start the server again";
        case ControlAction::Kind::Copy: return "copy " + quoted(action.source) + " to " + quoted(action.target);
        case ControlAction::Kind::None: break;
    }
    return "";
}

// One direction of the relay: its translator and its writer's reply table.
struct Direction {
    const char* sender;
    const char* receiver;
    LineTranslator translator;
    const RuleTable& replies;
};

void showTranslation(Direction& d, const std::string& line, FileSource& files, std::ostream& out) {
    CollectedNotes notes;
    d.translator.translate(line, files, notes);
    const std::string from = std::string("  from the ") + d.sender + ": ";
    for (const std::string& note : notes.notes) out << from << "log note " << quoted(note) << "\n";
    if (d.translator.action().kind != ControlAction::Kind::None) {
        out << from << "control action: " << describe(d.translator.action()) << "\n";
        return;
    }
    if (d.translator.lines().empty()) out << from << "nothing is written\n";
    std::string scratch;
    for (std::string_view piece : d.translator.lines()) {
        if (const std::string* answer = findReply(piece, d.replies, scratch)) {
            out << from << "answered back with " << quoted(*answer) << "\n";
        } else {
            out << from << "to the " << d.receiver << " " << quoted(std::string(piece)) << "\n";
        }
    }
}

}  // namespace

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const char* named = nullptr;
        switch (c) {
            case '"': named = "\\\""; break;
            case '\\': named = "\\\\"; break;
            case '\n': named = "\\n"; break;
            case '\r': named = "\\r"; break;
            case '\t': named = "\\t"; break;
            default: break;
        }
        if (named) {
            out += named;
        } else if (byte < 32 || byte == 127) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int checkTranslation(const Settings& settings, const RuleTables& tables, const TranslationReport& report,
                     const std::vector<std::string>& optionSettings, std::istream& input, std::ostream& out) {
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
    if (settings.CommandLine.empty()) out << "No server command line: Relayon would print its usage and end.\n";

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

    Direction fromClient{"client", "server", LineTranslator(tables.client2Server, settings.StringRulesPresent, true),
                         tables.client2Client};
    Direction fromServer{"server", "client", LineTranslator(tables.server2Client, settings.StringRulesPresent, false),
                         tables.server2Server};
    DiskFileSource files;
    bool first = true;
    for (std::string line; std::getline(input, line);) {
        if (first) out << "\nLines given on standard input, as each side would send them:\n";
        first = false;
        // As the readers pass lines on: without carriage returns, up to a zero byte.
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        line.erase(std::min(line.find('\0'), line.size()));
        out << quoted(line) << "\n";
        showTranslation(fromClient, line, files, out);
        showTranslation(fromServer, line, files, out);
        out.flush();
    }
    out.flush();
    if (report.fileRead.empty()) return 2;
    return warnings == 0 ? 0 : 1;
}

}  // namespace relayon
