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

}  // namespace relayon
