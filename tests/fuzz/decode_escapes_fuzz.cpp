// Fuzz target: the escape decoder of translation file values. The input, decoded as it is, must
// never grow, and must stay as it is without a backslash. Taken as the bytes wanted and written
// with octal and hexadecimal escapes in turn, it must decode back to itself (up to a zero byte).
#include <cstdint>
#include <string>
#include <vector>

#include "config/translation_file.h"
#include "fuzz_check.h"

namespace {

std::string decode(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    FUZZ_CHECK(relayon::decodeEscapes(buffer.data()) == buffer.data());
    return std::string(buffer.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string text = input.substr(0, input.find('\0'));  // what a C string holds
    const std::string decoded = decode(text);
    FUZZ_CHECK(decoded.size() <= text.size());
    if (text.find('\\') == std::string::npos) FUZZ_CHECK(decoded == text);

    static const char kDigits[] = "0123456789abcdef";
    std::string escaped;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned byte = data[i];
        if ((byte + i) % 2 == 0) {
            escaped += {'\\', kDigits[byte >> 6], kDigits[(byte >> 3) & 7], kDigits[byte & 7]};
        } else {
            escaped += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
        }
    }
    FUZZ_CHECK(decode(escaped) == text);
    return 0;
}
