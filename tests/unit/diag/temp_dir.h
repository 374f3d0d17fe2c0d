// OS-independent: a scratch folder for one test, and whole-file reads and writes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace relayon::test {

// A fresh folder under the system's temporary folder, removed with its content at the end.
class TempDir {
public:
    TempDir() {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000;
        path_ = std::filesystem::temp_directory_path() /
                ("relayon-diag-" + std::to_string(std::random_device()()) + "-" + std::to_string(stamp));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readWholeFile(const std::string& name) {
    std::ostringstream content;
    content << std::ifstream(name, std::ios::binary).rdbuf();
    return content.str();
}

inline void writeWholeFile(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace relayon::test
