// OS-independent: times one logLine of a 60-byte line into a fresh log file.
//   log_bench [FOLDER]   the log is written in FOLDER (default: the system's temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "diag/log_file.h"

namespace {

constexpr int kCalls = 20000;
constexpr int kRuns = 5;

// Nanoseconds per logLine call over one run of kCalls calls into a new log.
double timeOneRun(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    relayon::StopWatch watch;
    relayon::LogFile log(watch);
    if (!log.open(path)) return -1;
    watch.start();
    const std::string line(60, 'x');
    auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) log.logLine(line, relayon::kClientLine);
    auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - begin).count() / kCalls;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1])
                                            : std::filesystem::temp_directory_path();
    std::string path = (folder / "relayon-log-bench.log").string();
    std::vector<double> runs;
    for (int run = 0; run < kRuns; ++run) {
        double ns = timeOneRun(path);
        if (ns < 0) {
            std::fprintf(stderr, "cannot open %s\n", path.c_str());
            return 1;
        }
        runs.push_back(ns);
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::sort(runs.begin(), runs.end());
    std::printf("logLine, 60-byte line: %.0f ns per call (median of %d runs of %d calls; %.0f to %.0f)\n",
                runs[kRuns / 2], kRuns, kCalls, runs.front(), runs.back());
    return 0;
}
