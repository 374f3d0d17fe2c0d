// OS-independent: field splitting.
#include "engine/fields.h"

namespace relayon {

std::string nthField(const std::string& text, int n, const char* delimiters) {
    if (n < 1) n = 1;
    std::size_t pos = 0;
    for (int field = 1;; ++field) {
        std::size_t start = text.find_first_not_of(delimiters, pos);
        if (start == std::string::npos) return std::string();
        std::size_t end = text.find_first_of(delimiters, start);
        if (field == n) return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) return std::string();
        pos = end;
    }
}

std::vector<std::string> splitFields(const std::string& text, const char* delimiters) {
    std::vector<std::string> fields;
    std::size_t start = text.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        std::size_t end = text.find_first_of(delimiters, start);
        fields.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = text.find_first_not_of(delimiters, end);
    }
    return fields;
}

}  // namespace relayon
