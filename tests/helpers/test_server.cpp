// A line server for the tests, built for the same platform as Relayon. Its arguments (combined
// at will): "cwd" first writes "cwd " + its working directory; "stderr TEXT" writes TEXT to its
// standard error; "lines N" writes "line 1" to "line N" and ends; "linger S" runs on S seconds
// after the end of its input; "last N" writes "last 1" to "last N" 0.3 s after the end of its input; "deaf S", after
// "ready", never reads, closes its output after S seconds and ends after 5 S; "busy" keeps the
// main thread busy and reads on a second thread;
// "signals" reports each control event as "control " + its code (0 Ctrl-C, 1 Break, 2 Close,
// 6 Shutdown; POSIX: SIGINT, SIGQUIT, SIGHUP, SIGTERM); "hex" answers every line with "hex " +
// its bytes in hexadecimal; "flood N", after "ready", writes N lines "flood 0000001 000..." of
// 64 bytes on a second thread and only counts the lines it reads; "partial TEXT", after
// "ready", writes TEXT without a line feed; "orphan S" starts a copy of itself that holds its
// output open for S seconds, with "linger S" and no input; "heir N" one with "last N" that
// shares its input and output. "client N PROGRAM ARGS..." instead
// starts PROGRAM on a message pipe (probes.h), writes it N bytes "x" and a line feed as one
// message, and ends with it.
// Then it writes "ready" and answers each line it reads: "priority" with its priority class and
// thread priority; "cputime" (busy) with its main thread's processor ms and the ms since its
// start; "argv" with "argv", then each of its arguments, the program's own first, in brackets;
// "stderr TEXT" by writing TEXT to its standard error; "die" by ending at once with exit code 9;
// "sum" (flood), after its last flood line, with the count, bytes and Adler-32 of the lines read
// before it, line feeds included. Any other line is written back, carriage returns dropped.
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
#include "platform/process.h"
#include "platform/program_path.h"
#include "platform/signals.h"
#include "probes.h"

namespace os = relayon::os;
using Clock = std::chrono::steady_clock;

namespace {

const Clock::time_point started = Clock::now();
std::mutex outputLock;
std::atomic<std::int64_t> mainThreadCpuMs{0};
bool hexEcho = false;
std::string arguments;    // "[argv[0]] [argv[1]] ..."
long floodLines = -1;
std::thread floodWriter;
std::uint64_t linesRead = 0, bytesRead = 0;
std::uint32_t adlerA = 1, adlerB = 0;

void write(os::RawHandle handle, const std::string& bytes) {
    std::lock_guard<std::mutex> guard(outputLock);
    os::writeAll(handle, bytes.data(), bytes.size());
}

void say(const std::string& text) { write(os::standardOutput(), text + "\n"); }

void writeFlood() {
    std::string chunk;
    for (long n = 1; n <= floodLines; ++n) {
        char line[80];
        std::snprintf(line, sizeof line, "flood %07ld %049d\n", n % 10000000, 0);
        chunk += line;
        if (chunk.size() >= 64 * 1024 || n == floodLines) {
            write(os::standardOutput(), chunk);
            chunk.clear();
        }
    }
}

void answer(const std::string& line, const std::string& raw) {
    static const char digits[] = "0123456789abcdef";
    if (hexEcho) {
        std::string hex = "hex ";
        for (unsigned char c : raw) hex += {digits[c >> 4], digits[c & 15]};
        say(hex);
    } else if (line == "die") {
        std::_Exit(9);
    } else if (floodLines >= 0 && line == "sum") {
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
    } else if (line == "priority") {
        say("priority " + std::to_string(os::currentPriorityClass()) + " " + std::to_string(os::currentThreadPriority()));
    } else if (line == "cputime") {
        const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        say("cputime " + std::to_string(mainThreadCpuMs.load()) + " " + std::to_string(wall));
    } else if (line == "argv") {
        say("argv" + arguments);
    } else if (line.compare(0, 7, "stderr ") == 0) {
        write(os::standardError(), line.substr(7) + "\n");
    } else {
        say(line);
    }
}

// Reads and answers lines until the input ends.
void serveLines() {
    char buffer[4096];
    std::string line, raw;
    for (;;) {
        os::ReadResult result = os::readSome(os::standardInput(), buffer, sizeof buffer);
        if (result.status == os::ReadStatus::Empty) continue;
        if (result.status != os::ReadStatus::Data) return;
        for (std::size_t i = 0; i < result.count; ++i) {
            raw += buffer[i];
            if (buffer[i] == '\n') {
                answer(line, raw);
                line.clear();
                raw.clear();
            } else if (buffer[i] != '\r') {
                line += buffer[i];
            }
        }
    }
}

// A request to start program with these arguments, on either system.
os::SpawnRequest requestFor(const std::vector<std::string>& command) {
    os::SpawnRequest request;
    request.program = command[0];
    request.argv = command;
    for (const std::string& word : command) request.commandLine += " \"" + word + "\"";
    request.commandLine.erase(0, 1);
    return request;
}

// The client of "client N PROGRAM ARGS...".
int runClient(long size, char** command, int count) {
    std::intptr_t readEnd = 0, writeEnd = 0;
    if (count < 1 || !relayon::test::messagePipe(readEnd, writeEnd)) return 2;
    os::Handle input(readEnd), output(writeEnd);
    os::SpawnRequest request = requestFor(std::vector<std::string>(command, command + count));
    request.input = input.get();
    request.output = os::standardOutput();
    request.error = os::standardError();
    os::Process program;
    if (os::Process::spawn(request, program) != 0) return 2;
    input.close();
    const std::string line = std::string(static_cast<std::size_t>(size), 'x') + "\n";
    os::writeAll(output.get(), line.data(), line.size());
    output.close();
    return program.wait(-1) == os::WaitResult::Exited ? 0 : 2;
}

}  // namespace

// Under the address sanitizer, the leak scan at exit stops the server's threads through a
// tracer; a SIGCONT arriving then (Relayon's parent-death signal) can hang it for ever. The
// tests look at Relayon's leaks, not at this helper's.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    if (argc > 3 && std::string(argv[1]) == "client") return runClient(std::atol(argv[2]), argv + 3, argc - 3);
    for (int i = 0; i < argc; ++i) arguments += std::string(" [") + argv[i] + "]";
    bool busy = false;
    int lingerSeconds = 0;
    long lineCount = -1;
    int deafSeconds = -1;
    std::string partial;
    long lastLines = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "cwd") say("cwd " + std::filesystem::current_path().string());
        busy |= arg == "busy";
        hexEcho |= arg == "hex";
        if (arg == "signals") {
            os::installControlHandler([](unsigned event) {  // before any other thread starts
                say("control " + std::to_string(event));
                return true;
            });
        }
        if (value == nullptr) continue;
        if (arg == "stderr") write(os::standardError(), std::string(value) + "\n");
        if (arg == "lines") lineCount = std::atol(value);
        if (arg == "linger") lingerSeconds = std::atoi(value);
        if (arg == "flood") floodLines = std::atol(value);
        if (arg == "partial") partial = value;
        if (arg == "last") lastLines = std::atol(value);
        if (arg == "deaf") deafSeconds = std::atoi(value);
        if (arg == "orphan" || arg == "heir") {
            os::SpawnRequest copy = requestFor({os::programPath(argv[0]), arg == "orphan" ? "linger" : "last", value});
            copy.input = arg == "heir" ? os::standardInput() : os::kNoHandle;
            copy.output = copy.error = os::standardOutput();
            os::Process held;
            os::Process::spawn(copy, held);
        }
    }
    for (long n = 1; n <= lineCount; ++n) say("line " + std::to_string(n));
    if (lineCount >= 0) return 0;
    say("ready");
    write(os::standardOutput(), partial);
    if (floodLines >= 0) floodWriter = std::thread(writeFlood);
    if (deafSeconds >= 0) {
        std::this_thread::sleep_for(std::chrono::seconds(deafSeconds));
        os::closeHandle(os::standardOutput());
        os::closeHandle(os::standardError());
        std::this_thread::sleep_for(std::chrono::seconds(4 * deafSeconds));
        return 0;
    }

    if (!busy) {
        serveLines();
        if (lastLines > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (long n = 1; n <= lastLines; ++n) say("last " + std::to_string(n));
        std::this_thread::sleep_for(std::chrono::seconds(lingerSeconds));
        if (floodWriter.joinable()) floodWriter.join();
        return 0;
    }
    static std::atomic<bool> inputEnded{false};
    std::thread([] { serveLines(), inputEnded = true; }).detach();  // may be blocked when the server ends
    Clock::time_point endAt = Clock::time_point::max();
    volatile std::uint64_t work = 0;
    while (Clock::now() < endAt) {
        for (int i = 0; i < 100000; ++i) work = work + 1;
        mainThreadCpuMs = relayon::test::threadProcessorTimeMs();
        if (inputEnded && endAt == Clock::time_point::max()) endAt = Clock::now() + std::chrono::seconds(lingerSeconds);
    }
    std::_Exit(0);  // without waiting for the reader
}
