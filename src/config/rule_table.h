// OS-independent: an ordered table of rules (key to value), first definition wins.
#pragma once

#include <map>
#include <string>

namespace relayon {

class RuleTable {
public:
    // Keys in ascending order of their bytes as unsigned values (std::string compares through
    // its character traits, which compare char as unsigned char).
    using Rules = std::map<std::string, std::string>;

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
