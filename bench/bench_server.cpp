// A line server for the benchmarks. Its lines are 52 bytes with the line feed, like
// "status id 12 score 34 nodes 123456 load 75 state ok", the numbers changing from line to line.
//
//   emit N [hold]  write N lines to its standard output as fast as it can, then end; with hold,
//            first read its input to its end (a relay in front of it then stays until its
//            client is done)
//   lines FILE N [hold]  the same with the lines of FILE, over and over until N are written
//   echo     write back every byte it reads as soon as it has read it, until its input ends
//   sink     read to the end of its input, then write the line "sink " + the lines it counted
//   count N  read until N lines have come, then write the line "count N BYTES NS": the bytes
//            read and the nanoseconds from the first byte to the last line feed, and end
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/io.h"

namespace {

using relayon::os::ReadStatus;

constexpr std::size_t kChunk = 64 * 1024;

bool writeOut(const char* data, std::size_t size) {
    return relayon::os::writeAll(relayon::os::standardOutput(), data, size);
}

// Writes the decimal value, zero-padded to width digits, at out.
void putNumber(char* out, unsigned long value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// Reads the input to its end, throwing the bytes away.
void drainInput() {
    std::vector<char> buffer(kChunk);
    for (;;) {
        relayon::os::ReadResult r =
            relayon::os::readSome(relayon::os::standardInput(), buffer.data(), buffer.size());
        if (r.status == ReadStatus::End || r.status == ReadStatus::Error) return;
    }
}

// Writes count lines taken in turn from the text of whole lines, then drains the input with hold.
int repeat(const std::string& text, unsigned long count, bool hold) {
    std::vector<std::size_t> starts;  // where each line of text begins
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) starts.push_back(at);
    if (starts.empty() || text.back() != '\n') return 2;
    std::string chunk;
    for (unsigned long i = 0; i < count; ++i) {
        const std::size_t line = i % starts.size();
        const std::size_t end = line + 1 < starts.size() ? starts[line + 1] : text.size();
        chunk.append(text, starts[line], end - starts[line]);
        if (chunk.size() >= kChunk || i + 1 == count) {
            if (!writeOut(chunk.data(), chunk.size())) return 1;
            chunk.clear();
        }
    }
    if (hold) drainInput();
    return 0;
}

int emit(unsigned long count, bool hold) {
    static const char kTemplate[] = "status id 00 score 00 nodes 000000 load 00 state ok\n";
    const std::size_t lineSize = sizeof kTemplate - 1;
    std::vector<char> chunk;
    chunk.reserve(kChunk + lineSize);
    for (unsigned long i = 0; i < count; ++i) {
        const std::size_t at = chunk.size();
        chunk.insert(chunk.end(), kTemplate, kTemplate + lineSize);
        char* line = chunk.data() + at;
        putNumber(line + 10, i % 100, 2);
        putNumber(line + 19, (i / 7) % 100, 2);
        putNumber(line + 28, (i * 7919) % 1000000, 6);
        putNumber(line + 40, (i / 3) % 100, 2);
        if (chunk.size() >= kChunk) {
            if (!writeOut(chunk.data(), chunk.size())) return 1;
            chunk.clear();
        }
    }
    if (!chunk.empty() && !writeOut(chunk.data(), chunk.size())) return 1;
    if (hold) drainInput();
    return 0;
}

int echo() {
    std::vector<char> buffer(kChunk);
    for (;;) {
        relayon::os::ReadResult r =
            relayon::os::readSome(relayon::os::standardInput(), buffer.data(), buffer.size());
        if (r.status == ReadStatus::End) return 0;
        if (r.status != ReadStatus::Data) continue;
        if (!writeOut(buffer.data(), r.count)) return 1;
    }
}

int sink() {
    std::vector<char> buffer(kChunk);
    unsigned long lines = 0;
    for (;;) {
        relayon::os::ReadResult r =
            relayon::os::readSome(relayon::os::standardInput(), buffer.data(), buffer.size());
        if (r.status == ReadStatus::End) break;
        if (r.status != ReadStatus::Data) continue;
        const char* p = buffer.data();
        const char* end = p + r.count;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
            ++lines;
            ++p;
        }
    }
    const std::string report = "sink " + std::to_string(lines) + "\n";
    return writeOut(report.data(), report.size()) ? 0 : 1;
}

int count(unsigned long wanted) {
    using Clock = std::chrono::steady_clock;
    std::vector<char> buffer(kChunk);
    unsigned long lines = 0;
    unsigned long long bytes = 0;
    Clock::time_point first, last;
    while (lines < wanted) {
        relayon::os::ReadResult r =
            relayon::os::readSome(relayon::os::standardInput(), buffer.data(), buffer.size());
        if (r.status == ReadStatus::End) break;
        if (r.status != ReadStatus::Data) continue;
        if (bytes == 0) first = Clock::now();
        bytes += r.count;
        const char* p = buffer.data();
        const char* end = p + r.count;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
            ++lines;
            ++p;
        }
        last = Clock::now();
    }
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(last - first).count();
    const std::string report = "count " + std::to_string(lines) + " " + std::to_string(bytes) + " " +
                               std::to_string(ns) + "\n";
    return writeOut(report.data(), report.size()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "emit" && argc > 2) {
        return emit(std::strtoul(argv[2], nullptr, 10), argc > 3 && std::string(argv[3]) == "hold");
    }
    if (mode == "lines" && argc > 3) {
        std::ifstream file(argv[2], std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        return repeat(text, std::strtoul(argv[3], nullptr, 10), argc > 4 && std::string(argv[4]) == "hold");
    }
    if (mode == "echo") return echo();
    if (mode == "sink") return sink();
    if (mode == "count" && argc > 2) return count(std::strtoul(argv[2], nullptr, 10));
    std::fprintf(stderr, "usage: bench_server emit N [hold] | lines FILE N [hold] | echo | sink | count N\n");
    return 2;
}
