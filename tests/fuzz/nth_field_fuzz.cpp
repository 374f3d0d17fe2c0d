// Fuzz target: field splitting. Input: the field number (a signed byte), the number of delimiter
// bytes, the delimiters (a zero ends the set), then the text. nthField and splitFields must agree
// with a plain byte-by-byte split, for these delimiters and for the default set.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/fields.h"
#include "fuzz_check.h"

namespace {

void check(const std::string& text, int n, const std::string& delimiters) {
    std::vector<std::string> fields;
    bool inField = false;
    for (char c : text) {
        const bool delimiter = delimiters.find(c) != std::string::npos;
        if (!delimiter && !inField) fields.emplace_back();
        if (!delimiter) fields.back() += c;
        inField = !delimiter;
    }
    FUZZ_CHECK(relayon::splitFields(text, delimiters.c_str()) == fields);
    const std::size_t index = n < 1 ? 0 : static_cast<std::size_t>(n - 1);
    FUZZ_CHECK(relayon::nthField(text, n, delimiters.c_str()) == (index < fields.size() ? fields[index] : ""));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t count = data[1] < size - 2 ? data[1] : size - 2;
    const std::string set(reinterpret_cast<const char*>(data + 2), count);
    const std::string text(reinterpret_cast<const char*>(data + 2 + count), size - 2 - count);
    check(text, static_cast<std::int8_t>(data[0]), set.substr(0, set.find('\0')));
    check(text, static_cast<std::int8_t>(data[0]), relayon::kBlanks);
    return 0;
}
