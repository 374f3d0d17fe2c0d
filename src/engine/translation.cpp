// OS-independent: the translation of one received line.
#include "engine/translation.h"

#include "engine/fields.h"

namespace relayon {

namespace {

// Rewrites text with each rule in key order. A value holding "<string" makes its rule a
// template rule: on a match it replaces the whole text and sets templated. Other rules replace
// every occurrence of their key that was in the text before them. Returns false when a
// replacement left the text empty: the line then vanishes.
bool applyRules(std::string& text, const RuleTable& rules, bool stringRulesPresent, bool& templated) {
    for (const auto& rule : rules.rules()) {
        const std::string& key = rule.first;
        const std::string& value = rule.second;
        std::size_t pos = text.find(key);
        if (pos == std::string::npos) continue;
        if (stringRulesPresent && value.find("<string") != std::string::npos) {
            text = value;
            templated = true;
            continue;
        }
        while (pos != std::string::npos) {
            text.replace(pos, key.size(), value);
            if (text.empty()) return false;
            // An empty key is found at every position, so it matches once, at the start of the
            // text (its value is put in front); searching on would never end.
            if (key.empty()) break;
            // The search goes on after the inserted value, which is never searched again.
            pos = text.find(key, pos + value.size());
        }
    }
    return true;
}

}  // namespace

Translation translateLine(const std::string& received, const RuleTable& rules, bool stringRulesPresent,
                          bool actionsEnabled, FileSource& files, NoteSink& notes) {
    Translation result;
    const std::string source = received.substr(0, received.find('\0'));
    std::string text = source;
    bool templated = false;
    if (!applyRules(text, rules, stringRulesPresent, templated)) return result;
    if (text.empty()) {
        // An empty line still reaches the other side as one empty line, without directives.
        result.lines.emplace_back();
        return result;
    }
    applyReadFile(text, files, notes);
    if (templated) substitutePlaceholders(text, source);
    applyDelete(text);
    if (actionsEnabled) {
        result.action = recognizeControlAction(text);
        if (result.action.kind != ControlAction::Kind::None) return result;
    }
    // Runs of line feeds, and line feeds at either end, give no empty lines.
    result.lines = splitFields(text, "\n");
    return result;
}

}  // namespace relayon
