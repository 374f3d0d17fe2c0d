// OS-independent: the multi-key search automaton.
#include "engine/key_automaton.h"

#include <algorithm>
#include <cstring>

namespace relayon {

// Marks made 2^32 renewals ago would count again: they are cleared.
void KeyMarks::restart() {
    std::fill(marks_.begin(), marks_.end(), 0);
    current_ = 1;
}

KeyAutomaton::KeyAutomaton(const std::vector<std::string_view>& keys, std::size_t rowBytes, std::size_t threeLimit) {
    if (keys.empty() || keys.back().empty()) return;
    begins_.assign(65536, 0);
    threes_.assign(kThreeWords, 0);
    std::size_t threes = 0;  // bits set in threes_
    for (std::string_view key : keys) {
        for (char byte : key) classOf_[static_cast<unsigned char>(byte)] = 1;
        if (key.empty()) continue;
        const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
        unsigned char pair[2] = {bytes[0], static_cast<unsigned char>(key.size() > 1 ? bytes[1] : 0)};
        if (key.size() >= 3) {
            begins_[pairAt(pair)] |= kSomeThirds;
            const std::uint32_t three = threeAt(bytes);
            std::uint64_t& word = threes_[three / 64];
            const std::uint64_t bit = std::uint64_t{1} << (three % 64);
            threes += (word & bit) == 0;
            word |= bit;
        } else {
            do {
                begins_[pairAt(pair)] |= kAnyThird;
            } while (key.size() == 1 && ++pair[1] != 0);  // a key of one byte begins with any pair
        }
        longest_ = std::max(longest_, key.size());
    }
    // Where many beginnings of three bytes are in the set, it would pass nearly every pair and
    // only cost its look-up: it is then filled, which leaves the pairs alone to decide.
    if (threes > threeLimit) std::fill(threes_.begin(), threes_.end(), ~std::uint64_t{0});
    for (std::uint16_t& byteClass : classOf_) byteClass = byteClass != 0 ? static_cast<std::uint16_t>(++classes_) : 0;
    ++classes_;
    buildTrie(keys);
    link(rowBytes);
}

// The trie, level by level. The nodes of one level are the distinct beginnings of that length
// in key order, which is breadth-first order, and so are their children: the children of each
// node are consecutive edges. A key makes a node on each level past what it shares with the
// key before it.
void KeyAutomaton::buildTrie(const std::vector<std::string_view>& keys) {
    std::vector<std::uint32_t> shared(keys.size(), 0);
    std::size_t count = 1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::size_t same = 0;
        if (i > 0) {
            while (same < keys[i - 1].size() && same < keys[i].size() && keys[i - 1][same] == keys[i][same]) ++same;
        }
        shared[i] = static_cast<std::uint32_t>(same);
        count += keys[i].size() - same;
    }
    nodes_.reserve(count + 1);
    bytes_.reserve(count - 1);
    states_.reserve(count - 1);
    ends_.assign(count, kNoKey);
    shorter_.assign(keys.size(), kNoKey);
    nodes_.push_back({0, 0});
    std::vector<std::uint32_t> active;  // the keys longer than the level, in order
    std::vector<std::uint32_t> at(keys.size(), 0);  // each one's node on the level
    for (std::uint32_t i = 0; i < keys.size(); ++i) {
        if (!keys[i].empty()) active.push_back(i);
    }
    for (std::size_t depth = 0; !active.empty(); ++depth) {
        std::size_t kept = 0;
        std::uint32_t node = 0;
        for (std::uint32_t i : active) {
            if (shared[i] <= depth || node == 0) {
                // Nodes are opened in order: a node opened before has all its children.
                while (nodes_.size() <= at[i]) nodes_.push_back({static_cast<std::uint32_t>(bytes_.size()), 0});
                node = static_cast<std::uint32_t>(bytes_.size() + 1);
                bytes_.push_back(static_cast<unsigned char>(keys[i][depth]));
                states_.push_back(node);
            }
            at[i] = node;
            if (keys[i].size() == depth + 1) {
                ends_[node] = i;
            } else {
                active[kept++] = i;
            }
        }
        active.resize(kept);
    }
    while (nodes_.size() <= count) nodes_.push_back({static_cast<std::uint32_t>(bytes_.size()), 0});
    firstBytes_ = nodes_[1].first;
}

std::size_t KeyAutomaton::memoryBytes() const {
    return nodes_.size() * sizeof(Node) + bytes_.size() + states_.size() * sizeof(std::uint32_t) +
           rows_.size() * sizeof(std::uint32_t) + ends_.size() * sizeof(std::uint32_t) +
           shorter_.size() * sizeof(std::uint32_t) + begins_.size() + threes_.size() * sizeof(std::uint64_t);
}

// Failure links, key ends and rows, in breadth-first order: a node's children get theirs
// when it is visited, from nodes nearer the root, which are complete by then. A state says
// whether a key ends at its node or on its failure chain; a row copies the row of the failure
// link, since a byte without a child leads where it leads there.
void KeyAutomaton::link(std::size_t rowBytes) {
    const auto count = static_cast<std::uint32_t>(nodes_.size() - 1);
    const std::size_t fit = rowBytes / (classes_ * sizeof(std::uint32_t));
    denseNodes_ = static_cast<std::uint32_t>(std::max<std::size_t>(std::min<std::size_t>(count, fit), 1));
    lastFirstByte_ = firstBytes_ < denseNodes_ ? firstBytes_ * classes_ : 0;
    rows_.assign(std::size_t{denseNodes_} * classes_, 0);
    for (std::uint32_t node = 0; node < count; ++node) {
        for (std::uint32_t e = nodes_[node].first; e < nodes_[node + 1].first; ++e) {
            const std::uint32_t next = states_[e];
            const std::uint32_t fail = node == 0 ? 0 : step(nodes_[node].fail, bytes_[e]) & ~kEnds;
            nodes_[next].fail = fail;
            const std::uint32_t failEnds = ends_[nodeOf(fail)];
            if (ends_[next] == kNoKey) {
                ends_[next] = failEnds;
            } else {
                shorter_[ends_[next]] = failEnds;
            }
            states_[e] = stateOf(next) | (ends_[next] != kNoKey ? kEnds : 0);
        }
        if (node < denseNodes_) {
            std::uint32_t* row = &rows_[std::size_t{node} * classes_];
            if (node != 0) std::memcpy(row, &rows_[nodes_[node].fail], classes_ * sizeof *row);
            for (std::uint32_t e = nodes_[node].first; e < nodes_[node + 1].first; ++e) {
                row[classOf_[bytes_[e]]] = states_[e];
            }
        }
    }
}

// The state the child of node for byte leads to, or 0 when there is none. Nodes away from the
// root have few children: a plain loop over their bytes beats a call.
std::uint32_t KeyAutomaton::child(std::uint32_t node, unsigned char byte) const {
    const std::uint32_t last = nodes_[node + 1].first;
    for (std::uint32_t e = nodes_[node].first; e < last && bytes_[e] <= byte; ++e) {
        if (bytes_[e] == byte) return states_[e];
    }
    return 0;
}

// The state after byte from state (without kEnds): a node without a row that has no child for
// the byte falls back along its failure link, until a node with a row.
std::uint32_t KeyAutomaton::step(std::uint32_t state, unsigned char byte) const {
    while (state & kSparse) {
        const std::uint32_t node = state & kNode;
        if (const std::uint32_t next = child(node, byte)) return next;
        state = nodes_[node].fail;
    }
    return rows_[state + classOf_[byte]];
}

template <typename Report>
bool KeyAutomaton::walk(std::string_view text, std::size_t settled, Report report) const {
    if (empty()) return true;
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* p = begin;
    const auto* const end = p + text.size();
    const auto* const quiet = settled < text.size() ? p + settled : end;
    const unsigned char* const begins = begins_.data();
    std::uint32_t state = 0;
    while (p < end) {
        // At the root, or at a first byte that begins no key with the byte after it, no match
        // is under way: bytes where no key can begin are passed over without a step.
        if (state == 0 || (state <= lastFirstByte_ && begins[pairAt(p - 1)] == 0)) {
            if (p >= quiet) break;
            for (;;) {
                while (end - p > 4 && (begins[pairAt(p)] | begins[pairAt(p + 1)] | begins[pairAt(p + 2)] |
                                       begins[pairAt(p + 3)]) == 0) {
                    p += 4;
                }
                while (p + 1 < end && begins[pairAt(p)] == 0) ++p;
                // A pair that only longer keys begin with is passed over where their first
                // three bytes are not there.
                if (p + 1 >= end || (begins[pairAt(p)] & kAnyThird) != 0 || (end - p > 2 && hasThree(p))) break;
                ++p;
            }
            if (p + 1 == end && rows_[classOf_[*p]] == 0) break;
            state = 0;
        }
        state &= ~kEnds;
        state = state & kSparse ? step(state, *p) : rows_[state + classOf_[*p]];
        ++p;
        if ((state & kEnds) != 0 && !report(nodeOf(state), static_cast<std::uint32_t>(p - begin))) return false;
    }
    return true;
}

void KeyAutomaton::scan(std::string_view text, KeyMarks& marks, std::vector<Found>& found,
                        std::size_t settled) const {
    // The keys ending here are this node's and those on its failure chain. Marks stop the walk
    // along it: a marked key's own chain was marked when it was.
    walk(text, settled, [&](std::uint32_t node, std::uint32_t end) {
        for (std::uint32_t id = ends_[node]; id != kNoKey && marks.take(id); id = shorter_[id]) found.push_back({id, end});
        return true;
    });
}

bool KeyAutomaton::scanAll(std::string_view text, std::vector<Found>& found, std::size_t limit) const {
    return walk(text, std::string_view::npos, [&](std::uint32_t node, std::uint32_t end) {
        for (std::uint32_t id = ends_[node]; id != kNoKey; id = shorter_[id]) {
            if (found.size() == limit) return false;
            found.push_back({id, end});
        }
        return true;
    });
}

}  // namespace relayon
