// Helpers for the tests that start the test server: its command line, a stop watch, a collector of
// the lines a reader thread delivers, and a fixture with one server.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/path.h"
#include "process/input_thread.h"
#include "process/server_process.h"

namespace relayon::test {

// The test server's full path as the platform names it.
inline std::string testServerPath() {
    std::string path;
    return os::fullPath(RELAYON_TEST_SERVER, path) ? path : std::string(RELAYON_TEST_SERVER);
}

inline std::string testServerCommand(const std::string& arguments = std::string()) {
    return arguments.empty() ? testServerPath() : testServerPath() + " " + arguments;
}

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

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::size_t taken_ = 0;
    InputThread reader_;  // last: stopped before the fields its callback uses go
};

// A test with one server process and the lines of its output.
class ServerTest : public ::testing::Test {
protected:
    // Starts the test server with these arguments and waits for its "ready" (in ASSERT_NO_FATAL_FAILURE).
    void start(const std::string& arguments = std::string()) {
        ASSERT_NE(server.start(testServerCommand(arguments)), 0u) << arguments;
        lines = std::make_unique<LineCollector>(server.outputReader());
        ASSERT_EQ(lines->next(), "ready");
    }
    // Sends one line to the server and returns the next line of its output.
    std::string ask(const std::string& question) {
        const std::string line = question + "\n";
        server.writeInput(line.data(), line.size());
        return lines->next();
    }

    ServerProcess server;
    std::unique_ptr<LineCollector> lines;  // after the server: its reader stops first
};

}  // namespace relayon::test
