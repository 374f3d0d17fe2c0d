// Helpers for the tests that start the test server: its path, temporary folders, a stop watch
// and a collector of the lines a reader thread delivers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/path.h"
#include "process/input_thread.h"

namespace relayon::test {

// The test server's full path as the platform names it.
inline std::string testServerPath() {
    std::string path;
    return os::fullPath(RELAYON_TEST_SERVER, path) ? path : std::string(RELAYON_TEST_SERVER);
}

// The command line that starts the test server with the given arguments.
inline std::string testServerCommand(const std::string& arguments = std::string()) {
    return arguments.empty() ? testServerPath() : testServerPath() + " " + arguments;
}

// A fresh temporary folder, removed with everything in it at the end of its scope.
class TempDir {
public:
    explicit TempDir(const std::string& prefix) {
        std::random_device random;
        std::error_code error;
        path_ = std::filesystem::temp_directory_path(error) / (prefix + std::to_string(random()));
        std::filesystem::create_directories(path_, error);
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class StopWatch {
public:
    std::int64_t ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Reads a handle on an InputThread and keeps every line it delivers.
class LineCollector {
public:
    explicit LineCollector(std::shared_ptr<os::Handle> handle) {
        reader_.setHandle(std::move(handle));
        reader_.callback = [this](const char* line, int) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                lines_.emplace_back(line);
            }
            changed_.notify_all();
            return true;
        };
        reader_.start(0);
    }
    ~LineCollector() { reader_.stop(); }

    // The next line not yet taken, or "<none>" when none arrives within timeoutMs.
    std::string next(int timeoutMs = 10000) {
        std::unique_lock<std::mutex> guard(lock_);
        bool arrived = changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                         [this] { return taken_ < lines_.size(); });
        return arrived ? lines_[taken_++] : std::string("<none>");
    }

    // True when the reader has ended (its input closed) within timeoutMs.
    bool endsWithin(int timeoutMs) { return reader_.ended().wait(timeoutMs); }

    InputThread& reader() { return reader_; }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::size_t taken_ = 0;
    InputThread reader_;  // last: stopped before the fields its callback uses go
};

}  // namespace relayon::test
