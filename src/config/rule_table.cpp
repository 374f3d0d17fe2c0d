// OS-independent: rule table.
#include "config/rule_table.h"

#include <cstring>

namespace relayon {

bool UnsignedByteLess::operator()(const std::string& a, const std::string& b) const {
    // memcmp compares bytes as unsigned char; a proper prefix sorts first.
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    return c != 0 ? c < 0 : a.size() < b.size();
}

bool RuleTable::add(const std::string& key, const std::string& value) {
    return rules_.emplace(key, value).second;
}

const std::string* RuleTable::findExact(const std::string& text) const {
    auto it = rules_.find(text);
    return it == rules_.end() ? nullptr : &it->second;
}

}  // namespace relayon
