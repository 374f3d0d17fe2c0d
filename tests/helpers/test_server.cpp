// A line server for the tests, built for the same platform as Relayon. What it does is chosen
// by its arguments, which may be combined:
//
//   cwd          first write the line "cwd " + its working directory
//   stderr TEXT  first write TEXT and a line feed to its standard error
//   lines N      write the lines "line 1" to "line N", then end (reads nothing)
//   linger S     at the end of its input, go on running S seconds before ending
//   busy         keep the main thread busy; read lines on a second thread instead
//   signals      report each control event as the line "control " + its code (0 Ctrl-C,
//                1 Break, 2 Close, 6 Shutdown; POSIX: SIGINT, SIGQUIT, SIGHUP, SIGTERM), and
//                go on running
//   exit CODE    the exit code (default 0)
//   hex          answer every line with "hex " + the hexadecimal bytes it arrived as, carriage
//                returns and line feed included, instead of the answers below
//   flood N      after "ready", write the lines "flood 0000001 xxx..." to "flood N ..." (64
//                bytes each with the line feed) on a second thread; lines read are only
//                counted, except sum, die and exit
//   partial TEXT after "ready", write TEXT with no line feed after it
//
// Once set up it writes the line "ready". Then it answers each line it reads:
//
//   priority     "priority " + its priority class + " " + its main thread's priority level,
//                as Relayon's OS layer reads them (not with busy)
//   cputime      "cputime " + the processor milliseconds its main thread has used, + " " +
//                the milliseconds since it started
//   cwd          "cwd " + its working directory
//   program      "program " + the full path of its own executable
//   handles      "handles " + the number of handles (POSIX: descriptors) it has open
//   stderr TEXT  writes TEXT and a line feed to its standard error
//   exit         ends at once
//   die          ends at once with exit code 9, like a killed process
//   sum          (flood) after the last flood line: "sum " + the number of lines read before
//                it, their bytes and the Adler-32 of those bytes (each line with a line feed)
//   any other    is written back unchanged (carriage returns dropped)
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/io.h"
#include "platform/priority.h"
#include "platform/program_path.h"
#include "probes.h"
#include "platform/signals.h"

namespace os = relayon::os;

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point started = Clock::now();
std::mutex outputLock;
std::atomic<std::int64_t> mainThreadCpuMs{0};
std::atomic<bool> inputEnded{false};
std::atomic<bool> quitNow{false};
int exitCode = 0;
bool hexEcho = false;
std::string programName;  // argv[0]

// The flood: its writer thread, and the count, bytes and Adler-32 sums of the lines read.
long floodLines = -1;
std::thread floodWriter;
std::uint64_t linesRead = 0, bytesRead = 0;
std::uint32_t adlerA = 1, adlerB = 0;

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::int64_t millisecondsSinceStart() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
}

void writeLine(os::RawHandle handle, const std::string& text) {
    std::lock_guard<std::mutex> guard(outputLock);
    std::string line = text + "\n";
    os::writeAll(handle, line.data(), line.size());
}

void say(const std::string& text) { writeLine(os::standardOutput(), text); }

void writeRaw(const std::string& bytes) {
    std::lock_guard<std::mutex> guard(outputLock);
    os::writeAll(os::standardOutput(), bytes.data(), bytes.size());
}

void writeFlood() {
    std::string chunk;
    for (long n = 1; n <= floodLines; ++n) {
        char line[80];
        std::snprintf(line, sizeof line, "flood %07ld %049d\n", n % 10000000, 0);
        chunk += line;
        if (chunk.size() >= 64 * 1024 || n == floodLines) {
            writeRaw(chunk);
            chunk.clear();
        }
    }
}

std::string workingDirectory() {
    std::error_code error;
    return std::filesystem::current_path(error).string();
}

bool onControlEvent(unsigned event) {
    say("control " + std::to_string(event));
    return true;
}

// Answers one line; false when the server is to end now.
bool answer(const std::string& line, bool busy) {
    if (line == "exit") return false;
    if (line == "die") std::_Exit(9);
    if (floodLines >= 0 && line == "sum") {
        if (floodWriter.joinable()) floodWriter.join();
        say("sum " + std::to_string(linesRead) + " " + std::to_string(bytesRead) + " " +
            std::to_string(adlerB << 16 | adlerA));
    } else if (floodLines >= 0) {
        ++linesRead;
        for (unsigned char c : line + "\n") {
            ++bytesRead;
            adlerA = (adlerA + c) % 65521;
            adlerB = (adlerB + adlerA) % 65521;
        }
    }
    if (floodLines >= 0) return true;
    if (line == "priority" && !busy) {
        say("priority " + std::to_string(os::currentPriorityClass()) + " " +
            std::to_string(os::currentThreadPriority()));
    } else if (line == "cputime") {
        std::int64_t cpu = busy ? mainThreadCpuMs.load() : relayon::test::threadProcessorTimeMs();
        say("cputime " + std::to_string(cpu) + " " + std::to_string(millisecondsSinceStart()));
    } else if (line == "handles") {
        say("handles " + std::to_string(relayon::test::openHandleCount()));
    } else if (line == "cwd") {
        say("cwd " + workingDirectory());
    } else if (line == "program") {
        say("program " + os::programPath(programName));
    } else if (line.compare(0, 7, "stderr ") == 0) {
        writeLine(os::standardError(), line.substr(7));
    } else {
        say(line);
    }
    return true;
}

// Reads and answers lines until the input ends (true) or an exit line (false).
bool serveLines(bool busy) {
    std::vector<char> buffer(4096);
    std::string line;
    std::string raw;
    for (;;) {
        os::ReadResult result = os::readSome(os::standardInput(), buffer.data(), buffer.size());
        if (result.status == os::ReadStatus::Empty) continue;
        if (result.status != os::ReadStatus::Data) return true;
        for (std::size_t i = 0; i < result.count; ++i) {
            char c = buffer[i];
            raw += c;
            if (c == '\n') {
                if (hexEcho) {
                    say("hex " + toHex(raw));
                } else if (!answer(line, busy)) {
                    return false;
                }
                line.clear();
                raw.clear();
            } else if (c != '\r') {
                line += c;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 0) programName = argv[0];
    bool busy = false;
    int lingerSeconds = 0;
    long lineCount = -1;
    std::string partial;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "cwd") {
            say("cwd " + workingDirectory());
        } else if (arg == "stderr" && hasValue) {
            writeLine(os::standardError(), argv[++i]);
        } else if (arg == "lines" && hasValue) {
            lineCount = std::atol(argv[++i]);
        } else if (arg == "linger" && hasValue) {
            lingerSeconds = std::atoi(argv[++i]);
        } else if (arg == "flood" && hasValue) {
            floodLines = std::atol(argv[++i]);
        } else if (arg == "partial" && hasValue) {
            partial = argv[++i];
        } else if (arg == "hex") {
            hexEcho = true;
        } else if (arg == "busy") {
            busy = true;
        } else if (arg == "signals") {
            os::installControlHandler(onControlEvent);  // before any other thread starts
        } else if (arg == "exit" && hasValue) {
            exitCode = std::atoi(argv[++i]);
        }
    }
    if (lineCount >= 0) {
        for (long n = 1; n <= lineCount; ++n) say("line " + std::to_string(n));
        return exitCode;
    }
    say("ready");
    writeRaw(partial);
    if (floodLines >= 0) floodWriter = std::thread(writeFlood);

    if (!busy) {
        if (serveLines(false)) std::this_thread::sleep_for(std::chrono::seconds(lingerSeconds));
        if (floodWriter.joinable()) floodWriter.join();
        return exitCode;
    }

    std::thread reader([] {
        if (serveLines(true)) {
            inputEnded = true;
        } else {
            quitNow = true;
        }
    });
    reader.detach();  // it may be blocked in a read when the server ends
    Clock::time_point endAt = Clock::time_point::max();
    volatile std::uint64_t work = 0;
    while (!quitNow && Clock::now() < endAt) {
        for (int i = 0; i < 100000; ++i) work = work + 1;
        mainThreadCpuMs = relayon::test::threadProcessorTimeMs();
        if (inputEnded && endAt == Clock::time_point::max()) {
            endAt = Clock::now() + std::chrono::seconds(lingerSeconds);
        }
    }
    std::_Exit(exitCode);  // without waiting for the reader
}
