// OS-independent: text helpers.
#include "text/text_utils.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace relayon {

const char kBlanks[] = " \t\n\r\v\f";

std::size_t appendLineBytes(std::string& out, const char* from, const char* to) {
    std::size_t dropped = 0;
    while (from < to) {
        const char* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(to - from)));
        const char* stop = cr ? cr : to;
        const std::size_t size = static_cast<std::size_t>(stop - from);
        const std::size_t room = out.size() < kMaxLineBytes ? kMaxLineBytes - out.size() : 0;
        out.append(from, size < room ? size : room);
        if (size > room) dropped += size - room;
        from = cr ? cr + 1 : to;
    }
    return dropped;
}

void clearBuffer(std::string& buffer) {
    buffer.clear();
    if (buffer.capacity() > 4 * kGatherLimit) buffer.shrink_to_fit();
}

bool isBlankOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

std::string trimBlanks(const std::string& text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char* trimLine(char* line) {
    std::size_t length = std::strlen(line);
    while (length > 0 && isBlankOrControl(line[length - 1])) --length;
    line[length] = '\0';
    std::size_t start = 0;
    while (start < length && isBlankOrControl(line[start])) ++start;
    if (start > 0) std::memmove(line, line + start, length - start + 1);
    return line;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips blanks and reads an optional sign; returns true for a minus.
bool readSign(const std::string& text, std::size_t& i) {
    while (i < text.size() && std::strchr(kBlanks, text[i]) && text[i] != '\0') ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return text[i++] == '-';
    return false;
}

}  // namespace

int readInteger(const std::string& text) {
    std::size_t i = 0;
    bool negative = readSign(text, i);
    long long value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

double readDecimal(const std::string& text) {
    std::size_t i = 0;
    const bool negative = readSign(text, i);
    const char* const first = text.data() + i;
    if (i < text.size() && text[i] == '-') return 0.0;  // a second sign: no number
    double value = 0.0;
    const std::from_chars_result read = std::from_chars(first, text.data() + text.size(), value);
    if (read.ec == std::errc::result_out_of_range) {
        // Beyond the range of a double: the sign of the exponent tells which end.
        const std::string_view number(first, static_cast<std::size_t>(read.ptr - first));
        const std::size_t e = number.find_first_of("eE");
        value = e != std::string_view::npos && number.substr(e + 1, 1) == "-" ? 0.0 : HUGE_VAL;
    } else if (read.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

void appendShown(std::string& out, char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte != 127) {
        out += c;
        return;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    out += '\\';
    switch (c) {
        case '\t': out += 't'; break;
        case '\n': out += 'n'; break;
        case '\r': out += 'r'; break;
        default: out.append({'x', kDigits[byte >> 4], kDigits[byte & 0xF]}); break;
    }
}

std::string shownOnOneLine(std::string_view text) {
    std::string out;
    for (char c : text) appendShown(out, c);
    return out;
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
