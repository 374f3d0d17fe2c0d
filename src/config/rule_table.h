// OS-independent: an ordered table of rules (key to value), first definition wins.
#pragma once

#include <cstring>
#include <map>
#include <string>

namespace relayon {

// Orders keys as strings of unsigned bytes (std::string's char may be signed): memcmp compares
// bytes as unsigned char, and a proper prefix sorts first.
struct UnsignedByteLess {
    bool operator()(const std::string& a, const std::string& b) const {
        const std::size_t n = a.size() < b.size() ? a.size() : b.size();
        const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
        return c != 0 ? c < 0 : a.size() < b.size();
    }
};

class RuleTable {
public:
    using Rules = std::map<std::string, std::string, UnsignedByteLess>;

    // Stores the rule unless the key is present; false (and no change) when it is.
    bool add(const std::string& key, const std::string& value);

    // The value of the rule whose key equals text exactly, or null.
    const std::string* findExact(const std::string& text) const;

    // All rules in ascending unsigned byte order of their keys.
    const Rules& rules() const { return rules_; }

    bool empty() const { return rules_.empty(); }

private:
    Rules rules_;
};

// The four tables, one per rule section of the translation file.
struct RuleTables {
    RuleTable client2Server;
    RuleTable server2Client;
    RuleTable client2Client;
    RuleTable server2Server;
};

}  // namespace relayon
