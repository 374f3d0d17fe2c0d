// For the unit tests: a scratch folder removed with its content, whole-file reads and writes, the
// test server's command line, and a collector of the lines a reader thread delivers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/path.h"
#include "process/input_thread.h"

namespace relayon::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "relayon-test-")
        : path_(std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device()()))) {
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    const std::filesystem::path path_;
};

inline std::string readWholeFile(const std::string& name) {
    std::ostringstream content;
    content << std::ifstream(name, std::ios::binary).rdbuf();
    return content.str();
}

inline void writeWholeFile(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
}

// The test server's full path as the platform names it, with these arguments.
inline std::string testServerCommand(const std::string& arguments = std::string()) {
    std::string path;
    if (!os::fullPath(RELAYON_TEST_SERVER, path)) path = RELAYON_TEST_SERVER;
    return arguments.empty() ? path : path + " " + arguments;
}

// Reads a handle on an InputThread and keeps every line it delivers.
class LineCollector {
public:
    explicit LineCollector(std::shared_ptr<os::Handle> handle, std::size_t readSize = InputThread::kReadSize) {
        reader.setHandle(std::move(handle));
        reader.readSize = readSize;
        reader.afterRead = [this] { ++reads; };
        reader.callback = [this](std::string_view line) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.emplace_back(line);
            changed_.notify_all();
            return true;
        };
        reader.start(0);
    }
    ~LineCollector() { reader.stop(); }

    // The next line not taken yet, or "<none>" when none comes within timeoutMs.
    std::string next(int timeoutMs = 10000) {
        std::unique_lock<std::mutex> guard(lock_);
        bool arrived = changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                         [this] { return taken_ < lines_.size(); });
        return arrived ? lines_[taken_++] : std::string("<none>");
    }
    // True when the reader has ended (its input closed) within timeoutMs.
    bool endsWithin(int timeoutMs) { return reader.ended().wait(timeoutMs); }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::size_t taken_ = 0;

public:
    std::atomic<std::size_t> reads{0};  // the reads that gave bytes
    InputThread reader;  // last: stopped before the fields its callback uses go
};

}  // namespace relayon::test
