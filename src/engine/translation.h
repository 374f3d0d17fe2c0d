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
#include "engine/key_automaton.h"

namespace relayon {

// Told what a translation does, step by step, by a reader that shows it (the check): each rule
// that acted, in order, with the text it left, and the text of a template before and after its
// placeholders were filled.
class TranslationObserver {
public:
    virtual ~TranslationObserver() = default;
    virtual void ruleActed(std::string_view key, std::string_view text) = 0;
    virtual void placeholdersFilled(std::string_view before, std::string_view after) = 0;
};

// Translates the lines of one direction, reusing its working memory from line to line, so that
// a line costs no allocation once the buffers have grown. Built once per rule table, which must
// outlive it and not change meanwhile.
//
// The text is rewritten with the rules in key order, then the readfile, placeholder and delete
// directives run, then (when actionsEnabled, the client direction) a control action is
// recognised, and otherwise the text is cut into lines at the line feeds that rule values and
// files brought in. stringRulesPresent false lets the rule pass skip the test for template
// values. Directive notes for the log go to notes. A text that would grow past kMaxLineBytes (by
// rules, placeholders or a file) is cut there, with a note.
//
// The rule pass does not visit every rule: one automaton over all keys tells, in one pass over
// the line, which keys it holds, and only their rules act, in key order. After a rule has
// replaced its key, only the text around what it inserted is searched again. Where the keys a
// line holds overlap nowhere and no value can make a key, they are all replaced in one pass.
class LineTranslator {
public:
    LineTranslator(const RuleTable& rules, bool stringRulesPresent, bool actionsEnabled);

    // Translates one received line: it holds no line feed and no zero byte (the reader cut it at
    // them). The results stay valid until the next call; the lines may point into received.
    void translate(std::string_view received, FileSource& files, NoteSink& notes);

    const std::vector<std::string_view>& lines() const { return lines_; }
    const ControlAction& action() const { return action_; }
    // The bytes the key search of every line may read.
    std::size_t searchBytes() const { return automaton_.memoryBytes(); }

    // Tells observer (null: nobody, the usual case) of every later translation's steps.
    void setObserver(TranslationObserver* observer) { observer_ = observer; }

private:
    struct Rule {
        std::string_view key;
        const std::string* value;
        bool isTemplate;
        bool valueHasFeed;
        // A later key can overlap the value, or the value is empty (then the text on either
        // side meets): only then can a replacement make a later key.
        bool mayMakeKeys;
    };

    // A rule whose key a scan found: where the key first occurs is known while the working
    // text is the one that scan read (its version).
    struct Pending {
        std::uint32_t id;
        std::uint32_t at;
        std::uint32_t version;
        bool operator>(const Pending& other) const { return id > other.id; }
    };

    bool applyRules(std::string_view received, bool& owned, bool& templated, bool& feeds);
    bool rewriteAtOnce(std::string_view source, bool& owned, bool& feeds);
    bool replace(const Rule& rule, std::size_t pos, std::string_view received, bool& owned);
    void collect(std::string_view text, std::size_t offset, std::uint32_t first,
                 std::size_t settled = std::string_view::npos);
    void queueFound(std::size_t offset, std::uint32_t first);
    void finish(std::string_view text, bool owned, bool templated, bool feeds, std::string_view received,
                FileSource& files, NoteSink& notes);

    // The most key occurrences a line may hold for the rules to act in one pass.
    static constexpr std::size_t kFoundLimit = 64;

    std::vector<Rule> rules_;
    const bool actionsEnabled_;
    KeyAutomaton automaton_;  // over the non-empty keys; a key's id is the index of its rule
    KeyMarks marks_;          // the keys found in the working text since it was last scanned whole
    std::vector<Pending> pending_;  // a min-heap of the rules whose keys were found
    std::vector<KeyAutomaton::Found> found_;
    std::uint32_t version_ = 0;     // counts the changes of the working text
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
