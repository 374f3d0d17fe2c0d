// OS-independent: the text directives.
#include "engine/directives.h"

#include <vector>

#include "config/text_utils.h"
#include "engine/fields.h"

namespace relayon {

namespace {

const std::string kReadFile = "<readfile>";
const std::string kDelete = "<delete>";

// Replaces every occurrence of pattern in text by replacement, searching on after each inserted
// replacement so that it is never searched again. pattern must not be empty.
void replaceAll(std::string& text, const std::string& pattern, const std::string& replacement) {
    std::size_t pos = text.find(pattern);
    while (pos != std::string::npos) {
        text.replace(pos, pattern.size(), replacement);
        pos = text.find(pattern, pos + replacement.size());
    }
}

// Reads a decimal integer as atoi does: leading blanks, an optional sign, then digits up to the
// first non-digit; 0 without digits. Saturates far beyond any word count instead of overflowing.
long long readCount(const std::string& word) {
    const long long limit = 1000000000;
    std::size_t i = word.find_first_not_of(kBlanks);
    if (i == std::string::npos) return 0;
    bool negative = false;
    if (word[i] == '+' || word[i] == '-') negative = word[i++] == '-';
    long long value = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
        if (value < limit) value = value * 10 + (word[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

void applyReadFile(std::string& text, FileSource& files, NoteSink& notes) {
    if (!equalsIgnoreCase(nthField(text, 1), kReadFile)) return;
    // The name is everything after the keyword; blanks before the keyword do not shift it.
    std::string name = text.substr(text.find_first_not_of(kBlanks) + kReadFile.size());
    text.clear();
    if (name.empty()) return;
    notes.note("Open file: " + name);
    std::vector<std::string> lines;
    std::string errorText;
    if (!files.readLines(name, lines, errorText)) {
        notes.note("Error opening file: " + errorText);
        return;
    }
    for (const std::string& line : lines) {
        std::string trimmed = trimBlanks(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        text += trimmed;
        text += '\n';
    }
}

void substitutePlaceholders(std::string& text, const std::string& source) {
    // Slot 0 is the source line, slot k its word k; every slot after the first missing word is
    // empty, which nthField gives by itself.
    replaceAll(text, "<string>", source);
    for (int k = 1; k <= 9; ++k) {
        replaceAll(text, "<string" + std::to_string(k) + ">", nthField(source, k));
    }
}

void applyDelete(std::string& text) {
    if (text.find(kDelete) == std::string::npos) return;
    const std::vector<std::string> words = splitFields(text, " ");
    const long long count = static_cast<long long>(words.size());
    std::string result;
    long long i = 1;  // word numbers count from 1
    for (; i <= count && !equalsIgnoreCase(words[i - 1], kDelete); ++i) result += words[i - 1] + ' ';
    if (i <= count) {
        // Marker word d = i; the count word follows it, and copying resumes after the count and
        // that many words (a resume number below 1 counts as 1). Without a count word nothing
        // after the marker is kept.
        long long resume = count + 1;
        if (i + 1 <= count) resume = i + readCount(words[i]) + 2;
        if (resume < 1) resume = 1;
        for (long long j = resume; j <= count; ++j) result += words[j - 1] + ' ';
    }
    text = trimBlanks(result);
}

}  // namespace relayon
