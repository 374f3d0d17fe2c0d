// OS-independent: starting and stopping the server, and its priorities and throttling.
#include "process/server_process.h"

#include <system_error>

#include "text/text_utils.h"
#include "platform/io.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/priority.h"
#include "platform/program_path.h"
#include "platform/signals.h"

namespace relayon {

namespace {

constexpr int kKillWaitMs = 1000;  // for a killed server to be gone

bool endsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && equalsIgnoreCase(text.substr(text.size() - end.size()), end);
}

}  // namespace

bool findServerProgram(const std::string& commandLine, ServerProgram& out) {
    const std::string suffix = os::executableSuffix();
    std::size_t end = commandLine.size();
    for (;;) {
        std::string candidate;
        if (end > 0 && os::fullPath(commandLine.substr(0, end), candidate)) {
            if (!endsWithIgnoringCase(candidate, suffix)) candidate += suffix;
            if (candidate.size() < kMaxCommandLine && os::fileExists(candidate)) {
                std::size_t name = candidate.size();
                while (name > 0 && !os::isPathSeparator(candidate[name - 1])) --name;
                if (name == 0) return false;
                out.path = candidate;
                out.directory = candidate.substr(0, name);
                out.arguments = end < commandLine.size() ? commandLine.substr(end + 1) : std::string();
                return true;
            }
        }
        while (end > 0 && !isBlankOrControl(commandLine[end - 1])) --end;
        if (end == 0) return false;
        --end;  // drop the separator itself
    }
}

bool locateServerProgram(const std::string& commandLine, ServerProgram& out) {
    if (findServerProgram(commandLine, out)) return true;
    const std::vector<std::string> words = splitArguments(commandLine);
    out = ServerProgram();
    return !words.empty() && os::searchProgram(words[0], out.path) && os::fileExists(out.path);
}

std::vector<std::string> splitArguments(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (isBlankOrControl(c) && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

ThrottleCycle throttleCycle(double percent) {
    if (!(percent > 0 && percent < 100)) return {0, 0};  // also for a value that is no number
    int scale = percent > 25 ? 5 : (percent > 10 ? 10 : (percent > 1 ? 50 : 100));
    int runMs = static_cast<int>(percent * scale);
    if (runMs < 1) runMs = 1;
    int suspendMs = 100 * scale - runMs;
    if (suspendMs < 1) suspendMs = 1;
    return {runMs, suspendMs};
}

ServerProcess::ServerProcess()
    : priorityClass_(os::currentPriorityClass()), threadPriority_(os::currentThreadPriority()) {
    // A server that has gone must make writes to it fail, not end Relayon.
    os::ignoreBrokenPipe();
}

ServerProcess::~ServerProcess() { stop(false); }

std::uint32_t ServerProcess::start(const std::string& commandLine) {
    startError_ = 0;
    if (commandLine.size() >= kMaxCommandLine || running()) return 0;
    processId_ = 0;

    // Every handle here closes itself on a failure; the server's own ends close at the end,
    // so that the output pipe reports its end when the server (the only holder) ends.
    os::Handle outputRead, outputWrite, inputRead, inputWrite;
    int error = os::createPipe(outputRead, outputWrite);
    if (error == 0) error = os::createPipe(inputRead, inputWrite);
    if (error != 0) {
        startError_ = error;
        return 0;
    }
    // Relayon's end of the server's input never makes a writer wait where a stop cannot end it.
    os::setNonBlocking(inputWrite.get());

    os::SpawnRequest request;
    request.commandLine = commandLine;
    ServerProgram program;
    if (findServerProgram(commandLine, program)) {
        request.program = program.path;
        // Quoted, a path with blanks stays one argument where the server's runtime splits its
        // command line (Windows); the arguments follow as they were.
        request.commandLine = "\"" + program.path + "\"" + (program.arguments.empty() ? "" : " ") + program.arguments;
        request.argv = splitArguments(program.arguments);
        request.argv.insert(request.argv.begin(), program.path);
        request.workingDirectory = program.directory;
    } else {
        request.argv = splitArguments(commandLine);
    }
    request.priorityClass = priorityClass();
    request.input = inputRead.get();
    request.output = outputWrite.get();
    request.error = outputWrite.get();  // the server's error output arrives mixed into its output
    os::Process process;
    error = os::Process::spawn(request, process);
    if (error != 0) {
        startError_ = error;
        return 0;
    }

    const std::uint32_t id = process.id();
    {
        std::lock_guard<std::mutex> state(stateLock_);
        process_ = std::move(process);
        process_.readPriorityClass(priorityClass_);  // the class it was given
        outputRead_ = std::make_shared<os::Handle>(std::move(outputRead));
        inputWrite_ = std::make_shared<os::Handle>(std::move(inputWrite));
        input_ = os::Output(inputWrite_->get());
        suspended_ = false;
    }
    processId_ = id;
    applyThreadPriority(threadPriority());
    if (!boost()) applyBoost(false);
    return id;
}

bool ServerProcess::stop(bool hard) {
    setCpuPower(100);  // ends the throttle thread, which resumes a server it suspended
    resumeServer();

    os::Process process;
    std::shared_ptr<os::Handle> input, output;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        process = std::move(process_);
        input = std::move(inputWrite_);
        output = std::move(outputRead_);
        suspended_ = false;
    }
    // The input closes first (unless a writer still holds it), so that a server that ends at
    // the end of its input can do so during the wait.
    input.reset();
    output.reset();
    if (!process.valid()) return true;
    if (process.wait(kStopWaitMs) != os::WaitResult::Timeout) return true;
    if (!hard) return false;
    process.terminate();
    return process.wait(kKillWaitMs) != os::WaitResult::Timeout;
}

void ServerProcess::releaseForExit() {
    std::lock_guard<std::mutex> state(stateLock_);
    exiting_ = true;
    if (suspended_ && process_.valid()) process_.resume();
    suspended_ = false;
}

bool ServerProcess::running() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return process_.valid();
}

bool ServerProcess::sendControlEvent(unsigned event) {
    os::ControlEvent taken;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!process_.valid()) return false;
        taken = process_.takeControlEvent(event);
    }
    return taken.deliver();  // on Windows a helper process carries it: writers go on meanwhile
}

bool ServerProcess::writeInput(const char* data, std::size_t size) {
    std::shared_ptr<os::Handle> input;  // keeps the handle open while it is written
    os::Output output;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        input = inputWrite_;
        output = input_;
    }
    return input && input->valid() && output.writeAll(data, size);
}

std::shared_ptr<os::Handle> ServerProcess::outputReader() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return outputRead_;
}

// A running server keeps what the system applied (realtime without the privilege for it is
// high; a level outside the class's range is refused), which the next start asks for.
void ServerProcess::applyPriorityClass(unsigned value) {
    std::lock_guard<std::mutex> state(stateLock_);
    if (process_.valid()) {
        process_.setPriorityClass(value);
        process_.readPriorityClass(value);
    }
    priorityClass_ = value;
}

void ServerProcess::applyThreadPriority(int value) {
    std::lock_guard<std::mutex> state(stateLock_);
    if (process_.valid()) {
        process_.setMainThreadPriority(value);
        process_.readMainThreadPriority(value);
    }
    threadPriority_ = value;
}

void ServerProcess::applyBoost(bool enabled) {
    std::lock_guard<std::mutex> state(stateLock_);
    if (process_.valid()) process_.setBoost(enabled);
    boost_ = enabled;
}

unsigned ServerProcess::priorityClass() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return priorityClass_;
}

int ServerProcess::threadPriority() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return threadPriority_;
}

bool ServerProcess::boost() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return boost_;
}

void ServerProcess::suspendServer() {
    std::lock_guard<std::mutex> state(stateLock_);
    if (suspended_ || exiting_ || !process_.valid()) return;
    process_.suspend();
    suspended_ = true;
}

void ServerProcess::resumeServer() {
    std::lock_guard<std::mutex> state(stateLock_);
    if (!suspended_ || !process_.valid()) return;
    process_.resume();
    suspended_ = false;
}

void ServerProcess::setCpuPower(double percent) {
    std::lock_guard<std::mutex> throttle(throttleLock_);
    const ThrottleCycle cycle = throttleCycle(percent);
    if (cycle.suspendMs == 0) {
        suspendMs_ = 0;
        if (throttleThread_.joinable()) {
            throttleStop_.set();
            throttleThread_.join();  // it ends at once: it only ever waits on the stop event
            throttleStop_.reset();
        }
        return;
    }
    runMs_ = cycle.runMs;
    suspendMs_ = cycle.suspendMs;
    if (throttleThread_.joinable()) return;  // the running thread takes the new values
    throttleStop_.reset();
    try {
        throttleThread_ = std::thread(&ServerProcess::throttleLoop, this);
    } catch (const std::system_error&) {
        suspendMs_ = 0;  // no thread: the server runs unthrottled
    }
}

void ServerProcess::throttleLoop() {
    // Above any level a busy server can have, so that it cannot keep this thread from running.
    os::setCurrentThreadPriority(os::kThreadPriorityTimeCritical);
    // Ended with this thread, after it has resumed the server; until then, a server it has
    // suspended is resumed when Relayon ends, however it ends.
    os::SuspensionGuard guard;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        guard = process_.guardSuspension();
    }
    guard.start();
    if (throttleStop_.wait(runMs_)) return;  // one full run period first
    bool suspendedHere = false;
    for (;;) {
        int ms;
        if (!suspendedHere) {
            ms = suspendMs_;
            suspendServer();
        } else {
            ms = runMs_;
            resumeServer();
        }
        suspendedHere = !suspendedHere;
        if (throttleStop_.wait(ms)) break;
    }
    if (suspendedHere) resumeServer();
}

PriorityChanges ServerProcess::followOwnPriorities() {
    // What was applied counts when it changed: a value the server cannot take is tried again at
    // every step, but not reported again.
    PriorityChanges changes;
    const unsigned ownClass = os::currentPriorityClass();
    const unsigned classBefore = priorityClass();
    if (ownClass != classBefore) {
        applyPriorityClass(ownClass);
        changes.priorityClass = priorityClass() != classBefore;
    }
    const int ownThread = os::currentThreadPriority();
    const int threadBefore = threadPriority();
    if (ownThread != threadBefore) {
        applyThreadPriority(ownThread);
        changes.threadPriority = threadPriority() != threadBefore;
    }
    return changes;
}

}  // namespace relayon
