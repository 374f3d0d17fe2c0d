// OS-independent: the translation of one received line.
#include "engine/translation.h"

#include <cstring>

#include "text/text_utils.h"

namespace relayon {

namespace {

// Below this many rules, searching for each key directly costs less than summarising the line.
constexpr std::size_t kFilterMinRules = 4;

// One of 4096 values for the pair of bytes, well mixed.
unsigned pairHash(unsigned char first, unsigned char second) {
    return ((static_cast<std::uint32_t>(first) << 8 | second) * 0x9E3779B1u) >> 20;
}

// True when the first byte outside the blank set is '<': every directive and action keyword
// starts so, and word 1 of the text can be one of them only then.
bool firstWordOpensAngle(std::string_view text) {
    std::size_t at = text.find_first_not_of(kBlanks);
    return at != std::string_view::npos && text[at] == '<';
}

// The first occurrence of key (not empty) in text at or after from, or npos: a byte-by-byte
// match, the first two bytes tested before the rest.
std::size_t findKey(std::string_view text, const std::string& key, std::size_t from) {
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
    : actionsEnabled_(actionsEnabled), filter_(rules.rules().size() >= kFilterMinRules) {
    rules_.reserve(rules.rules().size());
    for (const auto& entry : rules.rules()) {
        Rule rule{&entry.first, &entry.second, false, 0, {}};
        // A value holding "<string" makes its rule a template rule.
        rule.isTemplate = stringRulesPresent && entry.second.find("<string") != std::string::npos;
        // Keys of one byte or none have no pairs and are always searched.
        const std::string& key = entry.first;
        if (key.size() >= 2) {
            const std::size_t last = key.size() - 2;
            for (std::size_t at : {std::size_t{0}, last, last / 2, last / 4}) {
                const auto hash = static_cast<std::uint16_t>(
                    pairHash(static_cast<unsigned char>(key[at]), static_cast<unsigned char>(key[at + 1])));
                bool known = false;
                for (int i = 0; i < rule.probeCount; ++i) known |= rule.probes[i] == hash;
                if (!known) rule.probes[rule.probeCount++] = hash;
            }
        }
        rules_.push_back(rule);
    }
}

// Marks every pair that has one of the bytes text[from, to) as either member. Marks are only
// added while a line is rewritten: a pair that a replacement took away stays marked, which
// costs at most a search that finds nothing.
void LineTranslator::notePairs(std::string_view text, std::size_t from, std::size_t to) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    if (to > size) to = size;
    for (std::size_t i = from > 0 ? from - 1 : 0; i < to && i + 1 < size; ++i) {
        pairSeen_[pairHash(p[i], p[i + 1])] = mark_;
    }
}

bool LineTranslator::mayHold(const Rule& rule) const {
    for (int i = 0; i < rule.probeCount; ++i) {
        if (pairSeen_[rule.probes[i]] != mark_) return false;
    }
    return true;
}

// Rewrites the text with each rule in key order. A template rule replaces the whole text on a
// match and sets templated. Other rules replace every occurrence of their key that was in the
// text before them. The received text is only read; text_ holds the working text from the
// first change on (owned). Returns false when a replacement left the text empty: the line
// then vanishes.
bool LineTranslator::applyRules(std::string_view received, bool& owned, bool& templated) {
    if (filter_) {
        if (++mark_ == 0) {  // marks of 256 lines ago would count again
            std::memset(pairSeen_, 0, sizeof pairSeen_);
            mark_ = 1;
        }
        notePairs(received, 0, received.size());
    }
    for (const Rule& rule : rules_) {
        if (filter_ && !mayHold(rule)) continue;
        const std::string& key = *rule.key;
        const std::string& value = *rule.value;
        // An empty key is found at every position, so it matches once, at the start of the
        // text (its value is put in front); searching on would never end.
        std::size_t pos = key.empty() ? 0 : findKey(owned ? std::string_view(text_) : received, key, 0);
        if (pos == std::string_view::npos) continue;
        if (rule.isTemplate) {
            text_ = value;
            owned = true;
            templated = true;
            if (filter_) notePairs(text_, 0, text_.size());
            if (observer_) observer_->ruleActed(key, text_);
            continue;
        }
        // The rewritten text is built in one pass, so that many matches in a long line cost
        // linear time. The search goes on after each replaced key: the inserted value is never
        // searched again.
        // A value longer than its key makes the text grow: it is kept to kMaxLineBytes.
        const std::string_view source = owned ? std::string_view(text_) : received;
        scratch_.clear();
        inserts_.clear();
        std::size_t from = 0;
        bool full = false;
        while (pos != std::string_view::npos && !full) {
            full = appendWithinLimit(scratch_, source.substr(from, pos - from));
            inserts_.push_back(scratch_.size());
            full = full || appendWithinLimit(scratch_, value);
            from = pos + key.size();
            if (key.empty()) break;
            pos = findKey(source, key, from);
        }
        if (!full) full = appendWithinLimit(scratch_, source.substr(from));
        cut_ = cut_ || full;
        text_.swap(scratch_);
        owned = true;
        if (observer_) observer_->ruleActed(key, text_);
        if (text_.empty()) return false;
        if (filter_) {
            for (std::size_t at : inserts_) notePairs(text_, at, at + value.size());
        }
    }
    return true;
}

void LineTranslator::translate(std::string_view received, FileSource& files, NoteSink& notes) {
    lines_.clear();
    if (action_.kind != ControlAction::Kind::None) action_ = ControlAction();
    received = received.substr(0, received.find('\0'));
    bool owned = false;
    bool templated = false;
    cut_ = false;
    if (applyRules(received, owned, templated)) {
        std::string_view text = owned ? std::string_view(text_) : received;
        if (text.empty()) {
            // An empty line still reaches the other side as one empty line, without directives.
            lines_.emplace_back();
        } else {
            finish(text, owned, templated, received, files, notes);
        }
    }
    if (cut_) notes.note("Translated line cut at " + std::to_string(kMaxLineBytes) + " bytes");
}

void LineTranslator::finish(std::string_view text, bool owned, bool templated, std::string_view received,
                            FileSource& files, NoteSink& notes) {
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
