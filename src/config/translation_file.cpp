// OS-independent: reading the translation file into the settings and the rule tables.
#include "config/translation_file.h"

#include <cstring>
#include <fstream>
#include <vector>

#include "config/text_utils.h"
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

// Sets the field named by key (any letter case) from a decoded value; unknown keys are ignored.
void applySetting(Settings& settings, const std::string& key, const std::string& value) {
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
}

void applyEntry(Section section, const std::string& key, const std::string& value, Settings& settings,
                RuleTables& tables) {
    switch (section) {
        case Section::Client2Server:
        case Section::Server2Client:
            if (value.find("<string") != std::string::npos) settings.StringRulesPresent = true;
            (section == Section::Client2Server ? tables.client2Server : tables.server2Client).add(key, value);
            break;
        case Section::Client2Client: tables.client2Client.add(key, value); break;
        case Section::Server2Server: tables.server2Server.add(key, value); break;
        case Section::Settings: applySetting(settings, key, value); break;
        case Section::None: break;
    }
}

// An entry's value decoded, up to its first zero byte.
std::string decodeValue(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return std::string(decodeEscapes(buffer.data()));
}

// Reads one line into line (without its line end and without one carriage return before
// it). Returns false at the end of the input, and when the line is longer than the limit;
// then line holds no more than the limit and one byte, whatever the input holds.
bool readLine(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr) return false;
    bool any = false;
    for (;;) {
        int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) break;
        any = true;
        if (c == '\n') break;
        // One byte more than the limit may still be the carriage return of the line end.
        if (line.size() > kMaxTranslationLine) return false;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any && line.size() <= kMaxTranslationLine;
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

double parseCpuPower(const std::string& text) {
    if (text.find('.') != std::string::npos) return readDecimal(text);
    return readInteger(text);
}

void loadTranslation(std::istream& in, Settings& settings, RuleTables& tables) {
    Section section = Section::None;
    std::string raw;
    while (readLine(in, raw)) {
        // As a C string, the line's text ends at a zero byte it may hold.
        std::vector<char> buffer(raw.begin(), raw.end());
        buffer.push_back('\0');
        const char* line = trimLine(buffer.data());
        if (*line == '\0' || *line == ';') continue;
        Section header = sectionOfHeader(line);
        if (header != Section::None) {
            section = header;
            continue;
        }
        const char* separator = std::strstr(line, ":=");
        if (section == Section::None || separator == nullptr) continue;
        std::string key = trimBlanks(std::string(line, separator));
        std::string value = decodeValue(trimBlanks(std::string(separator + 2)));
        applyEntry(section, key, value, settings, tables);
    }
}

void loadTranslationFile(Settings& settings, RuleTables& tables, const char* programArgument) {
    if (settings.TranslationFile.empty()) {
        std::string program = os::executablePath(programArgument ? programArgument : "");
        settings.TranslationFile = defaultTranslationFileName(program) + ".ini";
    }
    // Binary mode, so that both platforms see the same bytes; line ends are handled when reading.
    std::ifstream file(settings.TranslationFile, std::ios::binary);
    if (!file.is_open()) file.open(kFallbackTranslationFile, std::ios::binary);
    if (!file.is_open()) return;
    loadTranslation(file, settings, tables);
}

}  // namespace relayon
