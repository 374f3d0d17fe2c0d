// OS-independent: a scratch folder for one test, removed with its content, and whole-file reads
// and writes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace relayon::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "relayon-diag-") {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000;
        path_ = std::filesystem::temp_directory_path() /
                (prefix + std::to_string(std::random_device()()) + "-" + std::to_string(stamp));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

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
