// OS-independent: the text directives.
#include "engine/directives.h"

#include <vector>

#include "text/text_utils.h"
#include "engine/fields.h"

namespace relayon {

namespace {

const std::string kReadFile = "<readfile>";
const std::string kDelete = "<delete>";

// Replaces every occurrence of pattern in text by replacement, in one pass, so that an inserted
// replacement is never searched again; the result is kept to kMaxLineBytes. pattern must not
// be empty. Returns true when the result was cut.
bool replaceAll(std::string& text, const std::string& pattern, const std::string& replacement) {
    std::size_t pos = text.find(pattern);
    if (pos == std::string::npos) return false;
    std::string result;
    bool cut = false;
    std::size_t from = 0;
    for (; pos != std::string::npos && !cut; pos = text.find(pattern, from)) {
        cut = appendWithinLimit(result, std::string_view(text).substr(from, pos - from)) ||
              appendWithinLimit(result, replacement);
        from = pos + pattern.size();
    }
    if (!cut) cut = appendWithinLimit(result, std::string_view(text).substr(from));
    text.swap(result);
    return cut;
}

// Placeholder k: "<string>" (k 0), which takes the whole source line, or "<string1>" to
// "<string9>", which take its words; every word after the last one is empty, as nthField gives.
std::string placeholderName(int k) { return k == 0 ? "<string>" : "<string" + std::to_string(k) + ">"; }
std::string placeholderValue(int k, const std::string& source) { return k == 0 ? source : nthField(source, k); }

}  // namespace

bool applyReadFile(std::string& text, FileSource& files, NoteSink& notes) {
    if (!equalsIgnoreCase(nthField(text, 1), kReadFile)) return false;
    // The name is everything after the keyword; blanks before the keyword do not shift it.
    std::string name = text.substr(text.find_first_not_of(kBlanks) + kReadFile.size());
    text.clear();
    if (name.empty()) return false;
    notes.note("Open file: " + name);
    std::string errorText;
    bool cut = false;
    const auto take = [&text, &cut](const std::string& line) {
        std::string trimmed = trimBlanks(line);
        if (trimmed.empty() || trimmed[0] == ';') return true;
        cut = appendWithinLimit(text, trimmed) || appendWithinLimit(text, "\n");
        return !cut;
    };
    if (!files.readLines(name, take, errorText)) {
        text.clear();
        notes.note("Error opening file: " + errorText);
    }
    return cut;
}

bool substitutePlaceholders(std::string& text, const std::string& source) {
    bool cut = false;
    for (int k = 0; k <= 9; ++k) cut |= replaceAll(text, placeholderName(k), placeholderValue(k, source));
    return cut;
}

std::vector<std::pair<std::string, std::string>> placeholdersIn(const std::string& text, const std::string& source) {
    std::vector<std::pair<std::string, std::string>> found;
    for (int k = 0; k <= 9; ++k) {
        const std::string name = placeholderName(k);
        if (text.find(name) != std::string::npos) found.emplace_back(name, placeholderValue(k, source));
    }
    return found;
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
        if (i + 1 <= count) resume = i + readInteger(words[i]) + 2;
        if (resume < 1) resume = 1;
        for (long long j = resume; j <= count; ++j) result += words[j - 1] + ' ';
    }
    text = trimBlanks(result);
}

}  // namespace relayon
