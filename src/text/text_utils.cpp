// OS-independent: text helpers.
#include "text/text_utils.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace relayon {

const char kBlanks[] = " \t\n\r\v\f";

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

// 10 to the power n, for n from 0 to 300; exact up to 1e22.
double powerOfTen(int n) {
    double result = 1.0;
    for (int k = 0; k < n; ++k) result *= 10.0;
    return result;
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
    bool negative = readSign(text, i);
    // Up to 19 significant digits are kept exactly; later ones only move the exponent.
    std::uint64_t mantissa = 0;
    int kept = 0;
    long exponent = 0;
    bool anyDigit = false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        anyDigit = true;
        if (kept < 19) {
            mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
            if (mantissa != 0) ++kept;
        } else {
            ++exponent;
        }
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i) {
            anyDigit = true;
            if (kept < 19) {
                mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
                if (mantissa != 0) ++kept;
                --exponent;
            }
        }
    }
    if (!anyDigit) return 0.0;
    // An exponent counts only with at least one digit after the letter and its sign.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) negativeExponent = text[j++] == '-';
        if (j < text.size() && isDigit(text[j])) {
            long written = 0;
            for (; j < text.size() && isDigit(text[j]); ++j) {
                if (written < 100000) written = written * 10 + (text[j] - '0');
            }
            exponent += negativeExponent ? -written : written;
        }
    }
    // Scaled in steps that stay within the double range; one step is exact for the usual
    // short numbers, since their mantissa and 10^n up to 10^22 are exact doubles.
    double value = static_cast<double>(mantissa);
    if (exponent > 400) exponent = 400;
    if (exponent < -400) exponent = -400;
    while (exponent != 0 && value != 0.0) {
        int step = static_cast<int>(exponent > 0 ? exponent : -exponent);
        if (step > 300) step = 300;
        value = exponent > 0 ? value * powerOfTen(step) : value / powerOfTen(step);
        exponent += exponent > 0 ? -step : step;
    }
    return negative ? -value : value;
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
