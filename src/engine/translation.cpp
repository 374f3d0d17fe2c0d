// OS-independent: the translation of one received line.
#include "engine/translation.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "text/text_utils.h"

namespace relayon {

namespace {

// True when the first byte outside the blank set is '<': every directive and action keyword
// starts so, and word 1 of the text can be one of them only then.
bool firstWordOpensAngle(std::string_view text) {
    std::size_t at = text.find_first_not_of(kBlanks);
    return at != std::string_view::npos && text[at] == '<';
}

// The first occurrence of key (not empty) in text at or after from, or npos: a byte-by-byte
// match, the first two bytes tested before the rest.
std::size_t findKey(std::string_view text, std::string_view key, std::size_t from) {
    const std::size_t size = key.size();
    if (from > text.size() || text.size() - from < size) return std::string_view::npos;
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - size);  // the last place the key can start
    const char* const k = key.data();
    for (const char* p = begin + from; p <= last; ++p) {
        p = static_cast<const char*>(std::memchr(p, k[0], static_cast<std::size_t>(last - p) + 1));
        if (p == nullptr) break;
        if (size == 1 || (p[1] == k[1] && std::memcmp(p + 2, k + 2, size - 2) == 0)) {
            return static_cast<std::size_t>(p - begin);
        }
    }
    return std::string_view::npos;
}

}  // namespace

LineTranslator::LineTranslator(const RuleTable& rules, bool stringRulesPresent, bool actionsEnabled)
    : actionsEnabled_(actionsEnabled) {
    rules_.reserve(rules.rules().size());
    std::vector<std::string_view> keys;  // a key is found as its rule's index
    keys.reserve(rules.rules().size());
    for (const auto& [key, value] : rules.rules()) {
        // A value holding "<string" makes its rule a template rule.
        const bool isTemplate = stringRulesPresent && value.find("<string") != std::string::npos;
        rules_.push_back({key, &value, isTemplate, value.find('\n') != std::string::npos, true});
        keys.push_back(key);
    }
    automaton_ = KeyAutomaton(keys);
    marks_.resize(rules_.size());
    // A value makes a later key only where one overlaps it: within it, or across its first byte
    // (which that key then holds past its own first) or its last (which that key holds before
    // its own last). An empty value joins the text on either side.
    bool inner[256] = {};    // bytes that keys after the rule at hand hold past their first
    bool notLast[256] = {};  // and before their last
    const auto byte = [](char c) { return static_cast<unsigned char>(c); };
    for (std::size_t id = rules_.size(); id-- > 0;) {
        Rule& rule = rules_[id];
        const std::string& value = *rule.value;
        rule.mayMakeKeys = value.empty() || inner[byte(value.front())] || notLast[byte(value.back())];
        if (!rule.mayMakeKeys) {
            marks_.renew();
            automaton_.scan(value, marks_, found_);
            rule.mayMakeKeys = std::any_of(found_.begin(), found_.end(), [id](const auto& f) { return f.id > id; });
            found_.clear();
        }
        const std::string_view key = rule.key;
        for (std::size_t at = 1; at < key.size(); ++at) inner[byte(key[at])] = true;
        for (std::size_t at = 0; at + 1 < key.size(); ++at) notLast[byte(key[at])] = true;
    }
}

// Rewrites the text with each rule in key order. A template rule replaces the whole text on a
// match and sets templated. Other rules replace every occurrence of their key that was in the
// text before them. The received text is only read; text_ holds the working text from the
// first change on (owned). feeds tells whether a value brought in a line feed. Returns false
// when a replacement left the text empty: the line then vanishes.
//
// Only the rules whose keys the automaton found act, smallest key first. What a rule changes
// can make later keys (around the values it inserted: those windows are searched again) or
// take them apart (their rule then finds nothing); rules before it never act again.
bool LineTranslator::applyRules(std::string_view received, bool& owned, bool& templated, bool& feeds) {
    std::uint32_t first = 0;  // the rules before first have had their turn
    if (!rules_.empty() && rules_[0].key.empty()) {
        // An empty key is found at every position, so it matches once, at the start of the
        // text (its value is put in front); searching on would never end.
        if (!replace(rules_[0], 0, received, owned)) return false;
        templated = rules_[0].isTemplate;
        feeds = rules_[0].valueHasFeed;
        first = 1;
    }
    if (automaton_.empty()) return true;
    const std::string_view source = owned ? std::string_view(text_) : received;
    marks_.renew();
    pending_.clear();
    found_.clear();
    if (automaton_.scanAll(source, found_, kFoundLimit)) {
        if (found_.empty()) return true;
        if (observer_ == nullptr && rewriteAtOnce(source, owned, feeds)) return !text_.empty();
        // Otherwise the rules act one after another, from each key's first occurrence.
        found_.erase(std::remove_if(found_.begin(), found_.end(), [this](const KeyAutomaton::Found& found) {
                         return !marks_.take(found.id);
                     }),
                     found_.end());
        queueFound(0, first);
    } else {
        found_.clear();
        collect(source, 0, first);
    }
    const std::size_t reach = automaton_.longestKey() - 1;  // how far a key can stick out of a value
    while (!pending_.empty()) {
        std::pop_heap(pending_.begin(), pending_.end(), std::greater<>());
        const Pending next = pending_.back();
        pending_.pop_back();
        const std::uint32_t id = next.id;
        const Rule& rule = rules_[id];
        const std::size_t pos = next.version == version_
                                    ? next.at
                                    : findKey(owned ? std::string_view(text_) : received, rule.key, 0);
        if (pos == std::string_view::npos) continue;
        if (!replace(rule, pos, received, owned)) return false;
        feeds = feeds || rule.valueHasFeed;
        if (rule.isTemplate) {
            templated = true;
            marks_.renew();
            pending_.clear();
            collect(text_, 0, id + 1);
            continue;
        }
        // Windows around the inserted values, merged where they overlap; a window ends early
        // where no key under way began in a value.
        const std::size_t size = rule.value->size();
        for (std::size_t i = 0; rule.mayMakeKeys && i < inserts_.size();) {
            const std::size_t from = inserts_[i] > reach ? inserts_[i] - reach : 0;
            std::size_t last = inserts_[i] + size;  // the end of the window's last value
            while (++i < inserts_.size() && inserts_[i] <= last + 2 * reach) last = inserts_[i] + size;
            collect(std::string_view(text_).substr(from, last + reach - from), from, id + 1, last - from);
        }
    }
    return true;
}

// Rewrites the text in one pass where that comes to what the rules acting one after another
// would make of it: the occurrences they replace (of found_, every key's, in the order they
// end) overlap nowhere, no value can make a later key or is a template, and no step can reach
// kMaxLineBytes. Each rule then replaces its key where it occurs in the text as received;
// false, with the working text and found_ as they were, where that does not hold.
bool LineTranslator::rewriteAtOnce(std::string_view source, bool& owned, bool& feeds) {
    std::string& out = owned ? scratch_ : text_;  // text_ is not the working text until owned
    out.clear();
    std::size_t from = 0;          // where the last occurrence replaced ends
    std::uint32_t lastId = 0;      // and whose it is
    std::size_t longest = source.size();  // no step's text is longer
    bool valueFeeds = false;
    for (const KeyAutomaton::Found& found : found_) {
        const Rule& rule = rules_[found.id];
        if (rule.isTemplate || rule.mayMakeKeys) return false;
        // The occurrences replaced end in order and overlap nowhere, so that only the last one
        // can overlap this one where any does. One of the same key makes this one an occurrence
        // its rule passes over (it takes them from the left, each after the one before);
        // another key's, one that the rule acting first would take apart.
        const std::size_t start = found.end - rule.key.size();
        if (start < from) {
            if (found.id != lastId) return false;
            continue;
        }
        out.append(source.substr(from, start - from));
        out.append(*rule.value);
        from = found.end;
        lastId = found.id;
        if (rule.value->size() > rule.key.size()) longest += rule.value->size() - rule.key.size();
        valueFeeds = valueFeeds || rule.valueHasFeed;
    }
    if (longest > kMaxLineBytes) return false;
    out.append(source.substr(from));
    if (owned) text_.swap(scratch_);
    owned = true;
    feeds = feeds || valueFeeds;
    ++version_;
    return true;
}

// Queues the rules from first on whose keys occur in text (the working text from offset on) and
// are not queued yet. A key's first occurrence in text is its first in the working text: one
// before it would have been found by an earlier scan.
void LineTranslator::collect(std::string_view text, std::size_t offset, std::uint32_t first, std::size_t settled) {
    automaton_.scan(text, marks_, found_, settled);
    queueFound(offset, first);
}

// Queues the rules from first on of the keys in found_ (each key's first occurrence, found in the
// working text from offset on), and empties it.
void LineTranslator::queueFound(std::size_t offset, std::uint32_t first) {
    for (const KeyAutomaton::Found& found : found_) {
        if (found.id < first) continue;
        const auto at = static_cast<std::uint32_t>(offset + found.end - rules_[found.id].key.size());
        pending_.push_back({found.id, at, version_});
        std::push_heap(pending_.begin(), pending_.end(), std::greater<>());
    }
    found_.clear();
}

// Applies rule, whose key occurs first at pos of the working text; false when the text is left
// empty. A template's value replaces the whole text.
bool LineTranslator::replace(const Rule& rule, std::size_t pos, std::string_view received, bool& owned) {
    const std::string_view key = rule.key;
    const std::string& value = *rule.value;
    ++version_;
    if (rule.isTemplate) {
        text_ = value;
        owned = true;
        if (observer_) observer_->ruleActed(key, text_);
        return true;
    }
    // The rewritten text is built in one pass, so that many matches in a long line cost linear
    // time. The search goes on after each replaced key: the inserted value is never searched
    // again. A value longer than its key makes the text grow: it is kept to kMaxLineBytes.
    const std::string_view source = owned ? std::string_view(text_) : received;
    std::string& out = owned ? scratch_ : text_;  // the received text is rewritten straight into text_
    out.clear();
    inserts_.clear();
    std::size_t from = 0;
    bool full = false;
    while (pos != std::string_view::npos && !full) {
        full = appendWithinLimit(out, source.substr(from, pos - from));
        inserts_.push_back(out.size());
        full = full || appendWithinLimit(out, value);
        from = pos + key.size();
        if (key.empty()) break;
        pos = findKey(source, key, from);
    }
    if (!full) full = appendWithinLimit(out, source.substr(from));
    cut_ = cut_ || full;
    if (owned) text_.swap(scratch_);
    owned = true;
    if (observer_) observer_->ruleActed(key, text_);
    return !text_.empty();
}

void LineTranslator::translate(std::string_view received, FileSource& files, NoteSink& notes) {
    lines_.clear();
    if (action_.kind != ControlAction::Kind::None) action_ = ControlAction();
    bool owned = false;
    bool templated = false;
    bool feeds = false;
    cut_ = false;
    if (rules_.empty() || applyRules(received, owned, templated, feeds)) {
        std::string_view text = owned ? std::string_view(text_) : received;
        if (text.empty()) {
            // An empty line still reaches the other side as one empty line, without directives.
            lines_.emplace_back();
        } else {
            finish(text, owned, templated, feeds, received, files, notes);
        }
    }
    if (cut_) notes.note("Translated line cut at " + std::to_string(kMaxLineBytes) + " bytes");
}

void LineTranslator::finish(std::string_view text, bool owned, bool templated, bool feeds,
                            std::string_view received, FileSource& files, NoteSink& notes) {
    // Every directive and action keyword holds a '<' (a template value too), so a text without
    // one is cut into lines as it is.
    if (templated || text.find('<') != std::string_view::npos) {
        if (!owned) text_.assign(text);
        if (firstWordOpensAngle(text_)) cut_ = applyReadFile(text_, files, notes) || cut_;
        if (templated) {
            source_.assign(received);
            const std::string before = observer_ ? text_ : std::string();
            cut_ = substitutePlaceholders(text_, source_) || cut_;
            if (observer_) observer_->placeholdersFilled(before, text_);
        }
        applyDelete(text_);
        if (actionsEnabled_ && firstWordOpensAngle(text_)) {
            action_ = recognizeControlAction(text_);
            if (action_.kind != ControlAction::Kind::None) return;
        }
        text = text_;
        feeds = true;  // a file's lines come with theirs
    }
    if (!feeds) {
        lines_.push_back(text);
        return;
    }
    // Runs of line feeds, and line feeds at either end, give no empty lines.
    std::size_t start = 0;
    while (start < text.size()) {
        if (text[start] == '\n') {
            ++start;
            continue;
        }
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines_.push_back(text.substr(start, end - start));
        start = end;
    }
}

}  // namespace relayon
