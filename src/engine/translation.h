// OS-independent: the translation of one received line into the lines to deliver, or into a
// control action.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/rule_table.h"
#include "engine/control_action.h"
#include "engine/directives.h"
#include "engine/file_source.h"

namespace relayon {

// Told what a translation does, step by step, by a reader that shows it (the check): each rule
// that acted, in order, with the text it left, and the text of a template before and after its
// placeholders were filled.
class TranslationObserver {
public:
    virtual ~TranslationObserver() = default;
    virtual void ruleActed(const std::string& key, std::string_view text) = 0;
    virtual void placeholdersFilled(std::string_view before, std::string_view after) = 0;
};

// Translates the lines of one direction, reusing its working memory from line to line, so that
// a line costs no allocation once the buffers have grown. Built once per rule table, which must
// outlive it and not change meanwhile.
//
// The text up to its first zero byte is rewritten with the rules in key order, then the
// readfile, placeholder and delete directives run, then (when actionsEnabled, the client
// direction) a control action is recognised, and otherwise the text is cut into lines at line
// feeds. stringRulesPresent false lets the rule pass skip the test for template values.
// Directive notes for the log go to notes. A text that would grow past kMaxLineBytes (by rules,
// placeholders or a file) is cut there, with a note.
class LineTranslator {
public:
    LineTranslator(const RuleTable& rules, bool stringRulesPresent, bool actionsEnabled);

    // Translates one received text. The results stay valid until the next call; the lines may
    // point into received.
    void translate(std::string_view received, FileSource& files, NoteSink& notes);

    const std::vector<std::string_view>& lines() const { return lines_; }
    const ControlAction& action() const { return action_; }

    // Tells observer (null: nobody, the usual case) of every later translation's steps.
    void setObserver(TranslationObserver* observer) { observer_ = observer; }

private:
    struct Rule {
        const std::string* key;
        const std::string* value;
        bool isTemplate;
        // Hashes of up to four byte pairs spread over the key: a text that has not held one of
        // them does not hold the key.
        int probeCount;
        std::uint16_t probes[4];
    };

    void notePairs(std::string_view text, std::size_t from, std::size_t to);
    bool mayHold(const Rule& rule) const;
    bool applyRules(std::string_view received, bool& owned, bool& templated);
    void finish(std::string_view text, bool owned, bool templated, std::string_view received, FileSource& files,
                NoteSink& notes);

    std::vector<Rule> rules_;
    const bool actionsEnabled_;
    // With enough rules, a line is first summarised in pairSeen_, so that most keys it cannot
    // hold are passed over without a search.
    const bool filter_;
    // The hashes of the byte pairs that the working text has held since the line came in are
    // the entries equal to mark_, a line count that wraps (the table is cleared when it does).
    std::uint8_t pairSeen_[4096] = {};
    std::uint8_t mark_ = 0;
    std::string text_;     // the working text, once a rule has changed it
    std::string scratch_;  // where a rule builds the next working text
    std::vector<std::size_t> inserts_;  // where the values a rule inserted begin
    std::string source_;   // the received text, kept for placeholders
    std::vector<std::string_view> lines_;
    ControlAction action_;
    bool cut_ = false;  // the text of the current line reached kMaxLineBytes
    TranslationObserver* observer_ = nullptr;
};

}  // namespace relayon
