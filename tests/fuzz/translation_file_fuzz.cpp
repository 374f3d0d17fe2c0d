// Fuzz target: the translation file loader, on the input as the file. Every rule must keep to
// what the engine relies on (no zero byte, no blanks around its key, at most 509 bytes each), a
// stored rewriting value with a template must have set the template flag, and the same file
// with CR LF line ends must load the same.
#include <cstdint>
#include <string>
#include <tuple>

#include "text/text_utils.h"
#include "config/translation_file.h"
#include "fuzz_check.h"

namespace {

using relayon::RuleTable;

struct Loaded {
    relayon::Settings settings;
    relayon::RuleTables tables;

    explicit Loaded(const std::string& text) { relayon::loadTranslation(text, settings, tables); }
    auto fields() const {
        const relayon::Settings& s = settings;
        const relayon::RuleTables& t = tables;
        return std::tie(s.CommandLine, s.Priority, s.ThreadPriority, s.Boost, s.Ctrl, s.Debug, s.Log, s.TerminateHard,
                        s.EndLineServer, s.EndLineClient, s.CpuPower, s.StringRulesPresent, t.client2Server.rules(),
                        t.server2Client.rules(), t.client2Client.rules(), t.server2Server.rules());
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
    FUZZ_CHECK(Loaded(crlf).fields() == loaded.fields());
    return 0;
}
