// OS-independent: a multi-key search automaton (Aho-Corasick) over the keys of one rule table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace relayon {

// Which keys a search has reported since the last renew(): the working memory of one user of
// an automaton, so that each key is reported once however often it occurs.
class KeyMarks {
public:
    void resize(std::size_t keys) { marks_.assign(keys, 0); }
    // Forgets every mark, at the cost of a counter step.
    void renew() {
        if (++current_ == 0) restart();
    }
    // Marks the key; false when it was marked already.
    bool take(std::uint32_t id) {
        if (marks_[id] == current_) return false;
        marks_[id] = current_;
        return true;
    }

private:
    void restart();

    std::vector<std::uint32_t> marks_;
    std::uint32_t current_ = 1;
};

// Finds which of a set of keys occur in a text in one pass over the text, whatever the number
// of keys. Built once, read only afterwards. The nodes nearest the root, as many as rowBytes
// hold, have a row with a transition for each class of bytes (a byte that no key holds is in
// class 0, each other byte in a class of its own), so that most bytes cost one look-up in
// little memory; the deeper ones keep the bytes of their children in a short list and fall back
// along their failure link.
class KeyAutomaton {
public:
    static constexpr std::size_t kRowBytes = 1024 * 1024;
    // The most beginnings of three bytes (hashed) for which they are looked at before a step.
    static constexpr std::size_t kThreeLimit = 8192;

    KeyAutomaton() = default;
    // keys: distinct, in ascending unsigned byte order; key i is reported as i. An empty key
    // (the first) is never reported. The root has a row whatever rowBytes.
    explicit KeyAutomaton(const std::vector<std::string_view>& keys, std::size_t rowBytes = kRowBytes,
                          std::size_t threeLimit = kThreeLimit);

    bool empty() const { return rows_.empty(); }
    // The bytes of the tables a scan may read.
    std::size_t memoryBytes() const;
    std::size_t longestKey() const { return longest_; }

    struct Found {
        std::uint32_t id;
        std::uint32_t end;  // where the key's first occurrence in the text ends
    };

    // Appends to found every key that occurs in text and that take() marks anew. With settled,
    // the scan ends early where no key under way began before that offset: a caller that has
    // seen the text after it knows its keys.
    void scan(std::string_view text, KeyMarks& marks, std::vector<Found>& found,
              std::size_t settled = std::string_view::npos) const;
    // Appends every occurrence of every key in text, in the order they end (keys ending at the
    // same place longest first); false, with found left incomplete, when there are more than
    // limit.
    bool scanAll(std::string_view text, std::vector<Found>& found, std::size_t limit) const;

private:
    // A state stands for a node: where its row begins in rows_, or for a node without a row its
    // number with kSparse set; kEnds is set when a key ends at the node or on its failure
    // chain, so that the scan needs no look-up to know there is nothing to report.
    static constexpr std::uint32_t kEnds = 0x80000000u;
    static constexpr std::uint32_t kSparse = 0x40000000u;
    static constexpr std::uint32_t kNode = 0x3FFFFFFFu;
    static constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;

    // A node's children are edges first up to the next node's first; its failure link leads
    // to (the state of) the node of its longest proper suffix that begins a key.
    struct Node {
        std::uint32_t first;
        std::uint32_t fail;
    };

    // Steps through text, calling report(node, end) where a key ends at end, at node or on its
    // failure chain; false when report did, which ends the walk.
    template <typename Report>
    bool walk(std::string_view text, std::size_t settled, Report report) const;
    void buildTrie(const std::vector<std::string_view>& keys);
    void link(std::size_t rowBytes);
    std::uint32_t stateOf(std::uint32_t node) const { return node < denseNodes_ ? node * classes_ : node | kSparse; }
    std::uint32_t nodeOf(std::uint32_t state) const {
        return state & kSparse ? state & kNode : (state & ~kEnds) / classes_;
    }
    std::uint32_t step(std::uint32_t state, unsigned char byte) const;
    std::uint32_t child(std::uint32_t node, unsigned char byte) const;
    // The index in begins_ of the two bytes at (the same for a set and a test, so the byte
    // order of the load does not matter).
    static std::uint16_t pairAt(const unsigned char* at) {
        std::uint16_t pair;
        std::memcpy(&pair, at, sizeof pair);
        return pair;
    }

    std::vector<Node> nodes_;           // in breadth-first order, and one past the last
    std::vector<unsigned char> bytes_;  // per edge: its byte, ascending per node
    std::vector<std::uint32_t> states_; // per edge: the state it leads to
    std::uint32_t denseNodes_ = 0;      // nodes 0 .. denseNodes_ - 1 have a row in rows_
    std::uint32_t firstBytes_ = 0;      // nodes 1 .. firstBytes_ stand for a key's first byte
    std::uint32_t lastFirstByte_ = 0;   // their last state, when they all have rows
    std::uint16_t classOf_[256] = {};   // per byte: its class
    std::uint32_t classes_ = 0;
    std::vector<std::uint32_t> rows_;   // per dense node: its states by class
    // Per node: the key that ends there, else the nearest one ending on its failure chain, or
    // kNoKey; per key: the next key ending on the failure chain of its node.
    std::vector<std::uint32_t> ends_;
    std::vector<std::uint32_t> shorter_;
    // Per pair of bytes: kAnyThird when a key of one or two bytes begins with it (any second
    // byte for a key of one byte), kSomeThirds when a longer key does; where no key can begin,
    // the scan passes over bytes without a step. The first three bytes of the longer keys are
    // in threes_, hashed, so that a pair that only those keys begin with is passed over too
    // where the three bytes are not in the set.
    static constexpr unsigned char kAnyThird = 1;
    static constexpr unsigned char kSomeThirds = 2;
    static constexpr std::size_t kThreeBits = 1 << 16;
    static constexpr std::size_t kThreeWords = kThreeBits / 64;
    static std::uint32_t threeAt(const unsigned char* at) {
        const std::uint32_t bytes = at[0] | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16;
        return (bytes * 0x9E3779B1u) >> 16;
    }
    bool hasThree(const unsigned char* at) const {
        const std::uint32_t three = threeAt(at);
        return (threes_[three / 64] >> (three % 64) & 1) != 0;
    }
    std::vector<unsigned char> begins_;
    std::vector<std::uint64_t> threes_;
    std::size_t longest_ = 0;
};

}  // namespace relayon
