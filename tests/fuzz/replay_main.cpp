// Feeds a fuzz target each file named on the command line, or found in a folder named there (in
// name order), once. Builds without the fuzzer link it with each target, so that the ordinary
// tests replay the seeds and the kept findings.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::vector<fs::path> found;
        for (fs::directory_iterator it(argv[i], error), end; !error && it != end; it.increment(error)) {
            found.push_back(it->path());
        }
        if (!fs::is_directory(argv[i], error)) found.assign(1, argv[i]);
        std::sort(found.begin(), found.end());
        inputs.insert(inputs.end(), found.begin(), found.end());
    }
    for (const fs::path& input : inputs) {
        std::ifstream file(input, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::printf("%s\n", input.string().c_str());
        std::fflush(stdout);  // so that a failing input is the last one named
        if (!file.is_open()) return 1;
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
