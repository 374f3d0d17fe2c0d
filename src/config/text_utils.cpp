// OS-independent: text helpers.
#include "config/text_utils.h"

#include <cstring>

namespace relayon {

const char kBlanks[] = " \t\n\r\v\f";

std::string trimBlanks(const std::string& text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char* trimLine(char* line) {
    auto low = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t length = std::strlen(line);
    while (length > 0 && low(line[length - 1])) --length;
    line[length] = '\0';
    std::size_t start = 0;
    while (start < length && low(line[start])) ++start;
    if (start > 0) std::memmove(line, line + start, length - start + 1);
    return line;
}

static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

}  // namespace relayon
