// OS-independent: rule table.
#include "config/rule_table.h"

#include <cstring>

namespace relayon {

bool RuleTable::add(const std::string& key, const std::string& value) {
    return rules_.emplace(key, value).second;
}

const std::string* RuleTable::findExact(const std::string& text) const {
    auto it = rules_.find(text);
    return it == rules_.end() ? nullptr : &it->second;
}

}  // namespace relayon
