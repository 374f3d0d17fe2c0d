// OS-independent: reading the translation file into the settings and the rule tables.
#include "config/translation_file.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <vector>

#include "text/text_utils.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/program_path.h"

namespace relayon {

const char kFallbackTranslationFile[] = "Relayon.ini";

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int octalDigitValue(char c) { return (c >= '0' && c <= '7') ? c - '0' : -1; }

// The byte a one-letter escape stands for, or 0 when the letter is not one.
char simpleEscape(char c) {
    switch (c) {
        case 'n': return '\n';
        case 't': return '\t';
        case 'v': return '\v';
        case 'b': return '\b';
        case 'r': return '\r';
        case 'f': return '\f';
        case 'a': return '\a';
        case '\\': return '\\';
        case '?': return '?';
        case '\'': return '\'';
        case '"': return '"';
        default: return 0;
    }
}

// Reads a run of digits in base 8 or 16 starting at text, keeping the low 8 bits of the
// number however long the run is; returns the byte and moves text past the run.
char readNumericEscape(const char*& text, int (*digitValue)(char), unsigned base) {
    unsigned value = 0;
    for (int d; (d = digitValue(*text)) >= 0; ++text) value = (value * base + static_cast<unsigned>(d)) & 0xFFu;
    return static_cast<char>(value);
}

enum class Section { None, Client2Server, Server2Client, Settings, Client2Client, Server2Server };

Section sectionOfHeader(const char* line) {
    static const struct {
        const char* header;
        Section section;
    } kHeaders[] = {
        {"[Client2Server]", Section::Client2Server}, {"[Server2Client]", Section::Server2Client},
        {"[Relayon]", Section::Settings},            {"[Client2Client]", Section::Client2Client},
        {"[Server2Server]", Section::Server2Server},
    };
    for (const auto& entry : kHeaders) {
        if (equalsIgnoreCase(line, entry.header)) return entry.section;
    }
    return Section::None;
}

// The rule section of a section, false for the settings and for none.
bool ruleSectionOf(Section section, RuleSection& out) {
    switch (section) {
        case Section::Client2Server: out = RuleSection::Client2Server; return true;
        case Section::Server2Client: out = RuleSection::Server2Client; return true;
        case Section::Client2Client: out = RuleSection::Client2Client; return true;
        case Section::Server2Server: out = RuleSection::Server2Server; return true;
        case Section::Settings:
        case Section::None: break;
    }
    return false;
}

const char* headerOf(Section section) {
    RuleSection rules;
    if (ruleSectionOf(section, rules)) return sectionHeader(rules);
    return section == Section::Settings ? "[Relayon]" : "";
}

// Sets the field named by key (any letter case) from a decoded value. Returns the setting's
// name as the Settings field spells it, or null for an unknown key, which is ignored.
const char* applySetting(Settings& settings, const std::string& key, const std::string& value) {
    if (equalsIgnoreCase(key, "Priority")) settings.Priority = value;
    else if (equalsIgnoreCase(key, "ThreadPriority")) settings.ThreadPriority = value;
    else if (equalsIgnoreCase(key, "Boost")) settings.Boost = parseFlag(value);
    else if (equalsIgnoreCase(key, "CommandLine")) settings.CommandLine = value;
    else if (equalsIgnoreCase(key, "Debug")) settings.Debug = readInteger(value);
    else if (equalsIgnoreCase(key, "Log")) settings.Log = value;
    else if (equalsIgnoreCase(key, "Ctrl")) settings.Ctrl = parseFlag(value);
    else if (equalsIgnoreCase(key, "TerminateHard")) settings.TerminateHard = parseFlag(value);
    else if (equalsIgnoreCase(key, "EndLineServer")) settings.EndLineServer = value;
    else if (equalsIgnoreCase(key, "EndLineClient")) settings.EndLineClient = value;
    else if (equalsIgnoreCase(key, "CpuPower")) settings.CpuPower = parseCpuPower(value);
    else return nullptr;
    for (const char* name : kSettingKeys) {
        if (equalsIgnoreCase(key, name)) return name;
    }
    return nullptr;
}

// Notes what the loader sees, when a report is wanted.
class Observer {
public:
    Observer(TranslationReport* report, std::string_view text) : report_(report), text_(text) {}

    // Where the line being read begins in the text.
    void at(std::size_t lineStart) { lineStart_ = lineStart; }

    bool wanted() const { return report_ != nullptr; }
    void warn(std::size_t line, std::string text) {
        if (report_) report_->warnings.push_back({line, std::move(text)});
    }
    void setting(const char* name, std::size_t line) {
        if (report_) report_->settingLines[name] = line;
    }
    // A rule added, or dropped because its key was defined before.
    void rule(RuleSection section, const std::string& key, bool added, std::size_t line) {
        if (!report_) return;
        if (!added && !report_->ruleLinesNoted) noteEarlierRuleLines();
        auto& lines = report_->ruleLines[static_cast<std::size_t>(section)];
        if (added) {
            if (report_->ruleLinesNoted) lines[key] = line;
            return;
        }
        warn(line, "the key \"" + key + "\" is defined again in " + sectionHeader(section) +
                       " and ignored here: its first definition, on line " + std::to_string(lines[key]) + ", stays");
    }

private:
    // The lines of the rules before the line being read, from a second reading of the text
    // before it, and those of the rules after it from now on.
    void noteEarlierRuleLines() {
        Settings settings;
        RuleTables tables;
        TranslationReport earlier;
        earlier.ruleLinesNoted = true;
        loadTranslation(text_.substr(0, lineStart_), settings, tables, &earlier);
        for (std::size_t i = 0; i < kRuleSectionCount; ++i) report_->ruleLines[i] = std::move(earlier.ruleLines[i]);
        report_->ruleLinesNoted = true;
    }

    TranslationReport* report_;
    std::string_view text_;
    std::size_t lineStart_ = 0;
};

// True when all of text is a number as the settings read one: a sign and digits and, with
// fraction, a decimal point and an exponent after it.
bool isWholeNumber(const std::string& text, bool fraction) {
    std::size_t i = 0;
    auto sign = [&] {
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    };
    auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    sign();
    std::size_t count = digits();
    if (fraction && i < text.size() && text[i] == '.') {
        ++i;
        count += digits();
        if (count > 0 && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            ++i;
            sign();
            if (digits() == 0) return false;
        }
    }
    return count > 0 && i == text.size();
}

// A decoded path value that holds a control byte: most likely a backslash meant as itself that
// began an escape. Says so, with the value as it would have to be typed (each single backslash
// doubled); empty when there is none.
std::string escapeProblem(const std::string& name, const std::string& typed, const std::string& value) {
    const auto control = std::find_if(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) < 32 || c == 127;
    });
    if (control == value.end()) return std::string();
    std::string doubled;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        doubled += typed[i];
        if (typed[i] != '\\') continue;
        if (i + 1 < typed.size() && typed[i + 1] == '\\') ++i;  // already doubled
        doubled += '\\';
    }
    return "the value of " + name + " holds the control byte " + shownOnOneLine(std::string(1, *control)) +
           ", made by an escape; a backslash meant as itself is written twice: " + name + " := " + doubled;
}

void applyEntry(Section section, const std::string& key, const std::string& typed, const std::string& value,
                Settings& settings, RuleTables& tables, Observer& observer, std::size_t line) {
    RuleSection rules;
    if (!ruleSectionOf(section, rules)) {
        if (section != Section::Settings) return;
        if (const char* name = applySetting(settings, key, value)) {
            observer.setting(name, line);
            const bool path = std::strcmp(name, "CommandLine") == 0 || std::strcmp(name, "Log") == 0;
            const std::string problem = path ? escapeProblem(name, typed, value) : settingProblem(name, value);
            if (!problem.empty()) observer.warn(line, problem);
        } else {
            observer.warn(line, "the setting \"" + key + "\" is unknown and ignored");
        }
        return;
    }
    if ((rules == RuleSection::Client2Server || rules == RuleSection::Server2Client) &&
        value.find("<string") != std::string::npos) {
        settings.StringRulesPresent = true;
    }
    observer.rule(rules, key, tableOf(tables, rules).add(key, value), line);
}

// An entry's value decoded, up to its first zero byte.
std::string decodeValue(const std::string& text) {
    if (text.find('\\') == std::string::npos) return text;  // no escape: the value is as typed
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return std::string(decodeEscapes(buffer.data()));
}

// Warnings about the file as a whole: bytes that are not single-byte text in lines. Returns
// true for text that looks like UTF-16, whose zero bytes need no warning each.
bool checkEncoding(std::string_view text, Observer& observer) {
    if (text.empty()) return false;
    const bool utf16Mark = text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') ||
                                                (text[0] == '\xFE' && text[1] == '\xFF'));
    const auto zeros = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\0'));
    // ASCII text in UTF-16 has a zero byte beside nearly every other byte.
    const bool utf16 = utf16Mark || zeros * 4 >= text.size();
    if (utf16) {
        observer.warn(0, "the file looks like UTF-16 text; Relayon reads single bytes, so save it as ASCII or "
                         "UTF-8 without a byte-order mark");
    } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        observer.warn(1, "the file begins with a UTF-8 byte-order mark, which is read as part of the first line");
    }
    if (text.find('\n') == std::string_view::npos) {
        observer.warn(0, "the file holds no line feed, so it is read as one line (a carriage return alone does not "
                         "end a line)");
    }
    return utf16;
}

// The next line of text from pos (without its line feed and one carriage return before it),
// moving pos past it; false at the end of the text. A last line without a line feed counts.
bool nextLine(std::string_view text, std::size_t& pos, std::string_view& line) {
    if (pos >= text.size()) return false;
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

// Reads the file's bytes into text, to its end or, in a file that does not end (a device), up
// to a line too long to be read, since nothing after it is used. False when the file does not
// open or a read fails (a directory, a device that refuses), with the system's reason in error.
// Reads the file's text, up to the line that is too long for the loader and no further than
// kMaxTranslationFileBytes; a text cut at that size ends with its last whole line, and cut is set.
bool readTranslationFile(const std::string& name, std::string& text, bool& cut, std::string& error) {
    os::Handle file(os::openFile(name, os::kGenericRead,
                                 os::kFileShareRead | os::kFileShareWrite | os::kFileShareDelete,
                                 os::kOpenExisting, os::kFileAttributeNormal | os::kFlagSequentialScan));
    if (!file.valid()) {
        error = trimBlanks(os::lastErrorText());
        return false;
    }
    text.clear();
    cut = false;
    std::size_t lineStart = 0;
    char block[4096];
    for (;;) {
        std::size_t got = 0;
        if (!os::readFile(file.get(), block, sizeof block, got)) {
            error = trimBlanks(os::lastErrorText());
            return false;
        }
        if (got == 0) return true;
        std::size_t scan = text.size();
        text.append(block, got);
        for (std::size_t end; (end = text.find('\n', scan)) != std::string::npos; scan = end + 1) lineStart = end + 1;
        // One byte more than the limit may still be the carriage return of the line end.
        if (text.size() - lineStart > kMaxTranslationLine + 1) return true;
        if (text.size() >= kMaxTranslationFileBytes) {
            text.resize(lineStart);
            cut = true;
            return true;
        }
    }
}

}  // namespace

char* decodeEscapes(char* text) {
    const char* in = text;
    char* out = text;
    while (*in != '\0') {
        if (*in != '\\' || in[1] == '\0') {
            *out++ = *in++;
            continue;
        }
        char next = in[1];
        char decoded;
        if (next == 'x' && hexDigitValue(in[2]) >= 0) {
            in += 2;
            decoded = readNumericEscape(in, hexDigitValue, 16);
        } else if (octalDigitValue(next) >= 0) {
            in += 1;
            decoded = readNumericEscape(in, octalDigitValue, 8);
        } else if ((decoded = simpleEscape(next)) != 0) {
            in += 2;
        } else {
            // Not an escape: the backslash stays and the next byte is read as an ordinary one.
            *out++ = *in++;
            continue;
        }
        *out++ = decoded;
        if (decoded == '\0') return text;  // a decoded zero ends the text
    }
    *out = '\0';
    return text;
}

std::string defaultTranslationFileName(const std::string& exePath) {
    std::size_t slash = exePath.rfind('\\');
    if (slash == std::string::npos) slash = exePath.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t end = exePath.rfind('.');
    if (end == std::string::npos) end = exePath.size();
    return start < end ? exePath.substr(start, end - start) : std::string();
}

std::string translationFileFor(const std::string& programPath, bool replaceExtensionOnly) {
    if (!replaceExtensionOnly) return defaultTranslationFileName(programPath) + ".ini";
    std::size_t slash = programPath.find_last_of("/\\");
    std::string name = programPath.substr(slash == std::string::npos ? 0 : slash + 1);
    // A full stop that begins the name (a hidden file) starts no extension.
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + ".ini";
}

const char* sectionHeader(RuleSection section) {
    static const char* const kHeaders[] = {"[Client2Server]", "[Server2Client]", "[Client2Client]",
                                           "[Server2Server]"};
    return kHeaders[static_cast<std::size_t>(section)];
}

const RuleTable& tableOf(const RuleTables& tables, RuleSection section) {
    return tableOf(const_cast<RuleTables&>(tables), section);
}

RuleTable& tableOf(RuleTables& tables, RuleSection section) {
    switch (section) {
        case RuleSection::Client2Server: return tables.client2Server;
        case RuleSection::Server2Client: return tables.server2Client;
        case RuleSection::Client2Client: return tables.client2Client;
        case RuleSection::Server2Server: break;
    }
    return tables.server2Server;
}

double parseCpuPower(const std::string& text) {
    if (text.find('.') != std::string::npos) return readDecimal(text);
    return readInteger(text);
}

std::string settingProblem(const std::string& name, const std::string& value) {
    const std::string given = "the value \"" + shownOnOneLine(value) + "\" of " + name;
    const bool thread = name == "ThreadPriority";
    if (thread || name == "Priority") {
        const int level = thread ? threadPriorityFromName(value) : priorityClassFromName(value);
        if (value.empty() || level != kPriorityNotSet) return std::string();
        return given + " is none of its words (" + priorityWords(thread) + "), so none is set";
    }
    const bool cpuPower = name == "CpuPower";
    if (cpuPower || name == "Debug") {
        if (isWholeNumber(value, cpuPower)) return std::string();
        std::ostringstream read;
        if (cpuPower) {
            read << parseCpuPower(value);
        } else {
            read << readInteger(value);
        }
        return given + " is not a number: it reads as " + read.str();
    }
    if (name == "Boost" || name == "Ctrl" || name == "TerminateHard") {
        const bool looksFalse = value.empty() || value[0] == 'F' || value[0] == 'f' || value[0] == '0' ||
                                equalsIgnoreCase(value, "off") || equalsIgnoreCase(value, "no");
        if (parseFlag(value) || looksFalse) return std::string();
        return given + " reads as false: " + kFlagRule;
    }
    return std::string();
}

void loadTranslation(std::string_view text, Settings& settings, RuleTables& tables, TranslationReport* report) {
    Observer observer(report, text);
    const bool utf16 = observer.wanted() && checkEncoding(text, observer);
    Section section = Section::None;
    std::size_t pos = 0;
    std::string_view raw;
    std::vector<char> buffer;
    for (std::size_t number = 1; nextLine(text, pos, raw); ++number) {
        observer.at(static_cast<std::size_t>(raw.data() - text.data()));
        if (raw.size() > kMaxTranslationLine) {
            observer.warn(number, "the line is longer than " + std::to_string(kMaxTranslationLine) +
                                      " bytes: it ends the reading, and the rest of the file is ignored");
            return;
        }
        // As a C string, the line's text ends at a zero byte it may hold.
        buffer.assign(raw.begin(), raw.end());
        buffer.push_back('\0');
        const char* line = trimLine(buffer.data());
        if (!utf16 && *line != '\0' && raw.find('\0') != std::string_view::npos) {
            observer.warn(number, "the line holds a zero byte, which ends its text");
        }
        if (*line == '\0' || *line == ';') continue;
        Section header = sectionOfHeader(line);
        if (header != Section::None) {
            section = header;
            continue;
        }
        const char* separator = std::strstr(line, ":=");
        if (line[0] == '[' && line[std::strlen(line) - 1] == ']' && separator == nullptr) {
            observer.warn(number, std::string("the section ") + line + " is unknown, so the entries after it " +
                                      (section == Section::None ? std::string("are ignored")
                                                                : std::string("still go to ") + headerOf(section)));
            continue;
        }
        if (section == Section::None) {
            if (separator) observer.warn(number, "the entry comes before any section header and is ignored");
            continue;
        }
        if (separator == nullptr) {
            observer.warn(number, "the line is neither an entry (key := value) nor a comment, and is ignored");
            continue;
        }
        std::string key = trimBlanks(std::string(line, separator));
        std::string typed = trimBlanks(std::string(separator + 2));
        // A comment written after an entry is no comment: only a line can be one.
        if (typed.find(" ;") != std::string::npos || typed.find("\t;") != std::string::npos) {
            observer.warn(number, "the value holds \" ;\", which starts no comment there: it is part of the value");
        }
        applyEntry(section, key, typed, decodeValue(typed), settings, tables, observer, number);
    }
}

std::string defaultTranslationFile(const char* programArgument) {
    return translationFileFor(os::programPath(programArgument ? programArgument : ""), os::kReplaceExtensionOnly);
}

TranslationReport loadTranslationFile(Settings& settings, RuleTables& tables, const char* programArgument,
                                      bool ruleLines) {
    if (settings.TranslationFile.empty()) settings.TranslationFile = defaultTranslationFile(programArgument);
    TranslationReport report;
    report.ruleLinesNoted = ruleLines;
    std::string text;
    bool cut = false;
    if (readTranslationFile(settings.TranslationFile, text, cut, report.namedFileError)) {
        report.fileRead = settings.TranslationFile;
    } else {
        report.namedFileRead = false;
        std::string ignored;
        if (!readTranslationFile(kFallbackTranslationFile, text, cut, ignored)) return report;
        report.fileRead = kFallbackTranslationFile;
    }
    loadTranslation(text, settings, tables, &report);
    if (cut) {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        report.warnings.push_back({lines + 1, "the file is longer than " + std::to_string(kMaxTranslationFileBytes) +
                                                  " bytes: the reading ends here, and the rest of the file is ignored"});
    }
    return report;
}

}  // namespace relayon
