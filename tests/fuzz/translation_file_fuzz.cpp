// Fuzz target: the translation file loader, on the input as the file. Every rule must keep to
// what the engine relies on (no zero byte, no blanks around its key, at most 509 bytes each), a
// stored rewriting value with a template must have set the template flag, and the same file
// with CR LF line ends must load the same.
#include <cstdint>
#include <string>

#include "text/text_utils.h"
#include "config/translation_file.h"
#include "fuzz_check.h"

namespace {

using relayon::RuleTable;

struct Loaded {
    relayon::Settings settings;
    relayon::RuleTables tables;

    explicit Loaded(const std::string& text) {
        relayon::loadTranslation(text, settings, tables);
    }
    bool operator==(const Loaded& o) const {
        const relayon::Settings& a = settings;
        const relayon::Settings& b = o.settings;
        return a.CommandLine == b.CommandLine && a.Priority == b.Priority && a.ThreadPriority == b.ThreadPriority &&
               a.Boost == b.Boost && a.Ctrl == b.Ctrl && a.Debug == b.Debug && a.Log == b.Log &&
               a.TerminateHard == b.TerminateHard && a.EndLineServer == b.EndLineServer &&
               a.EndLineClient == b.EndLineClient && a.CpuPower == b.CpuPower &&
               a.StringRulesPresent == b.StringRulesPresent && tables.client2Server.rules() == o.tables.client2Server.rules() &&
               tables.server2Client.rules() == o.tables.server2Client.rules() &&
               tables.client2Client.rules() == o.tables.client2Client.rules() &&
               tables.server2Server.rules() == o.tables.server2Server.rules();
    }
};

void checkRules(const RuleTable& table, bool templateFlagNeeded, bool templateFlag) {
    for (const auto& [key, value] : table.rules()) {
        FUZZ_CHECK(key.find('\0') == std::string::npos && value.find('\0') == std::string::npos);
        FUZZ_CHECK(key.size() <= 509 && value.size() <= 509);
        FUZZ_CHECK(relayon::trimBlanks(key) == key);
        if (templateFlagNeeded && value.find("<string") != std::string::npos) FUZZ_CHECK(templateFlag);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Loaded loaded(text);
    const relayon::RuleTables& t = loaded.tables;
    const bool flag = loaded.settings.StringRulesPresent;
    checkRules(t.client2Server, true, flag);
    checkRules(t.server2Client, true, flag);
    checkRules(t.client2Client, false, flag);
    checkRules(t.server2Server, false, flag);

    // A carriage return before each line feed that has none.
    std::string crlf;
    for (char c : text) {
        if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
        crlf += c;
    }
    FUZZ_CHECK(Loaded(crlf) == loaded);
    return 0;
}
