// Fuzz target: the translation of one received line. Input: a flags byte (bit 0: the client
// direction, with control actions; bit 1: templates present; bit 2: bytes from 0x80 up stand for
// the letters a to d, a small alphabet in which keys meet, overlap and get made and taken apart
// by replacements), then lines: each but the last is a rule, key and value split at the first
// tab (0x01 in a value stands for a line feed; zero bytes are left out, as the loader leaves
// none); the last is the received line, cut at a zero byte as the reader cuts it. A readfile
// directive finds a file under any key; its lines are the values of all rules.
//
// The result must equal that of a plain rule pass that applies every rule in turn to the whole
// text, and a translator that has translated other lines must give the same as a fresh one. The
// key automaton, with rows for every node, some or the root only, must find exactly the keys
// that occur in the line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "text/text_utils.h"
#include "engine/fields.h"
#include "engine/key_automaton.h"
#include "engine/translation.h"
#include "fuzz_check.h"

namespace {

using relayon::ControlAction;
using relayon::RuleTable;

class RuleFiles : public relayon::FileSource {
public:
    explicit RuleFiles(const RuleTable& table) : table_(table) {}
    bool readLines(const std::string& name, const LineSink& sink, std::string& error) override {
        error = "not found";
        if (table_.findExact(relayon::trimBlanks(name)) == nullptr) return false;
        for (const auto& rule : table_.rules()) {
            for (const std::string& line : relayon::splitFields(rule.second, "\n")) {
                if (!sink(line)) return true;
            }
        }
        return true;
    }

private:
    const RuleTable& table_;
};

// Lines, action and notes of one translation, in one comparable text.
struct Outcome : relayon::NoteSink {
    std::string text;
    void note(const std::string& note) override { text += "note " + note + '\0'; }
    void add(const std::vector<std::string>& lines, const ControlAction& action) {
        for (const std::string& line : lines) text += "line " + line + '\0';
        text += std::to_string(static_cast<int>(action.kind)) + action.target + '\0' + action.source;
    }
    void add(const relayon::LineTranslator& t) { add({t.lines().begin(), t.lines().end()}, t.action()); }
};

std::string plainTranslation(const std::string& received, const RuleTable& table, bool templates, bool actions,
                             relayon::FileSource& files) {
    Outcome out;
    const std::string& source = received;
    std::string text = source;
    bool templated = false;
    for (const auto& [key, value] : table.rules()) {
        std::size_t pos = text.find(key);
        if (pos != std::string::npos && templates && value.find("<string") != std::string::npos) {
            text = value;
            templated = true;
            continue;
        }
        for (; pos != std::string::npos; pos = key.empty() ? std::string::npos : text.find(key, pos + value.size())) {
            text.replace(pos, key.size(), value);
            if (text.empty()) return out.text + "0" + '\0';  // the line vanishes
        }
    }
    ControlAction action;
    if (text.empty()) {
        out.add({""}, action);
        return out.text;
    }
    relayon::applyReadFile(text, files, out);
    if (templated) relayon::substitutePlaceholders(text, source);
    relayon::applyDelete(text);
    if (actions) action = relayon::recognizeControlAction(text);
    out.add(action.kind == ControlAction::Kind::None ? relayon::splitFields(text, "\n") : std::vector<std::string>(),
            action);
    return out.text;
}

// At most how long a translated text can get: each rule multiplies it by at most its value's
// length over its key's (an empty key puts its value in front), a readfile gives at most all
// values, and each placeholder brings in the received line.
double growthBound(double length, const RuleTable& table) {
    double bound = length + 1, allValues = 0;
    for (const auto& [key, value] : table.rules()) {
        const double k = static_cast<double>(key.size()), v = static_cast<double>(value.size());
        bound = k == 0 ? bound + v : bound * (v > k ? v / k : 1) + v;
        allValues += v + 1;
        if (bound > 1e7) return bound;
    }
    return (bound > allValues ? bound : allValues) * (length / 7 + 1);
}

// The keys (by rule index) that the automaton finds in text, and where each first ends, are
// those that a plain search finds, whatever the rows and whether three bytes are looked at; so
// are all their occurrences, within a limit.
void checkKeysFound(const RuleTable& table, const std::string& text) {
    std::vector<std::string_view> keys;
    std::vector<relayon::KeyAutomaton::Found> expected, every;
    for (const auto& rule : table.rules()) {
        const auto id = static_cast<std::uint32_t>(keys.size());
        const std::size_t at = rule.first.empty() ? std::string::npos : text.find(rule.first);
        if (at != std::string::npos) expected.push_back({id, static_cast<std::uint32_t>(at + rule.first.size())});
        for (std::size_t next = at; next != std::string::npos; next = text.find(rule.first, next + 1)) {
            every.push_back({id, static_cast<std::uint32_t>(next + rule.first.size())});
        }
        keys.push_back(rule.first);
    }
    const auto byEnd = [](const auto& a, const auto& b) { return a.end != b.end ? a.end < b.end : a.id < b.id; };
    std::sort(every.begin(), every.end(), byEnd);
    using relayon::KeyAutomaton;
    const std::size_t sizes[][2] = {{KeyAutomaton::kRowBytes, KeyAutomaton::kThreeLimit}, {0, 0}, {256, 1}};
    for (const auto& [rowBytes, threeLimit] : sizes) {
        const KeyAutomaton automaton(keys, rowBytes, threeLimit);
        relayon::KeyMarks marks;
        marks.resize(keys.size());
        std::vector<relayon::KeyAutomaton::Found> found;
        automaton.scan(text, marks, found);
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
        FUZZ_CHECK(found.size() == expected.size());
        for (std::size_t i = 0; i < found.size() && i < expected.size(); ++i) {
            FUZZ_CHECK(found[i].id == expected[i].id && found[i].end == expected[i].end);
        }
        found.clear();
        FUZZ_CHECK(automaton.scanAll(text, found, every.size()));
        FUZZ_CHECK(std::is_sorted(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.end < b.end; }));
        std::sort(found.begin(), found.end(), byEnd);
        FUZZ_CHECK(found.size() == every.size());
        for (std::size_t i = 0; i < found.size() && i < every.size(); ++i) {
            FUZZ_CHECK(found[i].id == every[i].id && found[i].end == every[i].end);
        }
        found.clear();
        FUZZ_CHECK(every.empty() || !automaton.scanAll(text, found, every.size() - 1));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool actions = data[0] & 1, templates = data[0] & 2, small = data[0] & 4;
    std::vector<std::string> records(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == '\n') records.emplace_back();
        if (data[i] != '\n') records.back() += static_cast<char>(small && data[i] >= 0x80 ? 'a' + (data[i] & 3) : data[i]);
    }
    const std::string received = records.back().substr(0, records.back().find('\0'));
    records.pop_back();
    RuleTable table;
    std::size_t longest = received.size();
    for (const std::string& record : records) {
        std::string rule;
        for (char c : record) {
            if (c != '\0') rule += c == '\x01' ? '\n' : c;
        }
        const std::size_t tab = rule.find('\t');
        const std::string key = rule.substr(0, tab);
        table.add(key.substr(0, key.find('\n')), tab == std::string::npos ? "" : rule.substr(tab + 1));
        longest = rule.size() > longest ? rule.size() : longest;
    }
    // Rules applied one after another multiply a line's length: inputs that could exhaust the
    // memory that way are passed over.
    if (growthBound(static_cast<double>(longest), table) > 1e6) return 0;

    checkKeysFound(table, received);
    RuleFiles files(table);
    relayon::LineTranslator translator(table, templates, actions);
    Outcome fresh;
    translator.translate(received, files, fresh);
    fresh.add(translator);
    FUZZ_CHECK(translator.lines().empty() || translator.action().kind == ControlAction::Kind::None);
    FUZZ_CHECK(fresh.text == plainTranslation(received, table, templates, actions, files));

    for (const auto& rule : table.rules()) {
        for (const std::string* text : {&rule.first, &rule.second}) {
            Outcome ignored;
            translator.translate(*text, files, ignored);
        }
    }
    Outcome again;
    translator.translate(received, files, again);
    again.add(translator);
    FUZZ_CHECK(again.text == fresh.text);
    return 0;
}
