// OS-independent: start-up order, main loop and shutdown.
#include "startup/supervisor.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <mutex>

#include "config/rule_table.h"
#include "config/settings.h"
#include "text/text_utils.h"
#include "config/translation_file.h"
#include "diag/console.h"
#include "diag/log_file.h"
#include "diag/queued_writer.h"
#include "engine/relay.h"
#include "platform/file.h"
#include "platform/file_copy.h"
#include "platform/io.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "process/event.h"
#include "process/input_thread.h"
#include "process/server_process.h"
#include "startup/command_line.h"
#include "startup/control_handler.h"
#include "startup/reports.h"
#include "startup/translation_check.h"

namespace relayon {

namespace {

// Process-wide objects, constructed in this order before the main routine. The settings and the
// tables are used only by the main thread and the readers, which have ended (or the process has
// ended at once) when they are destroyed at process end. What the control handler, the reaper
// of children or a reader left running can reach is never destroyed, and no destructor at
// process end waits or takes a lock. The server process reads Relayon's own priorities here.
Settings settings;
RuleTables ruleTables;

// Relayon's standard output and input, taken once its closed standard handles are open on the
// null device, before the objects below open any handle that could take their place, and
// before a console allocated for the debug display can replace them.
os::RawHandle takeClientOutput() {
    os::openMissingStandardHandles();
    return os::standardOutput();
}
const os::RawHandle clientOutput = takeClientOutput();
const os::RawHandle clientInput = os::standardInput();
ServerProcess& server = *new ServerProcess;
InputThread& serverReader = *new InputThread;

constexpr int kPriorityStepMs = 2000;
// How long the server-side reader may go on passing on what a stopped server wrote before it
// ended.
constexpr int kDrainMs = 1000;

// The "<stop>" and "<start>" actions, asked for on the client-side reader's thread and carried
// out on the main thread, which alone starts and stops the server and its reader. An asker
// waits until its request has been carried out, or until the supervisor stops serving.
class ServerRequests : public ServerControl {
public:
    enum class Kind { None, Stop, Start };

    void stopServer() override { ask(Kind::Stop); }
    void startServer() override { ask(Kind::Start); }

    Event& arrived() { return arrived_; }
    Kind take() {
        std::lock_guard<std::mutex> hold(lock_);
        Kind kind = pending_;
        pending_ = Kind::None;
        return kind;
    }
    void done() { done_.set(); }
    // Refuses every request from now on, and releases one that waits.
    void close() { closed_.set(); }

private:
    void ask(Kind kind) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (closed_.isSet()) return;
            pending_ = kind;
        }
        arrived_.set();
        Event* answers[] = {&done_, &closed_};
        waitForAny(answers, 2, kInfinite);
    }

    std::mutex lock_;
    Kind pending_ = Kind::None;
    Event arrived_;
    Event done_;
    Event closed_{Event::kManualReset};
};

ServerRequests& requests = *new ServerRequests;

void reportPriorities(bool priorityClass, bool threadPriority) {
    if (priorityClass) notice(priorityClassReport(server.priorityClass()), settings.Debug);
    if (threadPriority) notice(threadPriorityReport(server.threadPriority()), settings.Debug);
}

// Tells the user on standard error what failed and why, in one line whatever the text holds;
// standard output belongs to the client.
void explain(const std::string& text) {
    std::cerr << "Relayon: " << shownOnOneLine(trimBlanks(text)) << std::endl;
}

// The priority step after the first time-out: apply what was requested, once, or else keep
// following Relayon's own priorities. Returns the next time-out.
int priorityStep() {
    const int wantedClass = settings.requestedPriorityClass;
    const int wantedThread = settings.requestedThreadPriority;
    if (wantedClass == kPriorityNotSet && wantedThread == kPriorityNotSet) {
        const PriorityChanges changes = server.followOwnPriorities();
        reportPriorities(changes.priorityClass, changes.threadPriority);
        return kPriorityStepMs;
    }
    // Reported is what the system applied, which may differ from what was asked for.
    if (wantedClass != kPriorityNotSet) server.applyPriorityClass(static_cast<unsigned>(wantedClass));
    if (wantedThread != kPriorityNotSet) server.applyThreadPriority(wantedThread);
    reportPriorities(wantedClass != kPriorityNotSet, wantedThread != kPriorityNotSet);
    return kInfinite;
}

// Starts the server-side reader on the current server's output.
bool startServerReader() {
    serverReader.setHandle(server.outputReader());
    return serverReader.start(0);
}

// Stops the server, and lets its reader pass on what the server wrote before it ended. A server
// that a soft stop left running may hold its output open for ever, so then nothing is drained;
// the user is told of it, in the log and on standard error.
void stopAndDrain(bool hard) {
    if (server.stop(hard)) {
        if (serverReader.registered()) serverReader.ended().wait(kDrainMs);
        return;
    }
    const std::string text = "The server (process " + std::to_string(server.processId()) + ") has not ended " +
                             std::to_string(kStopWaitMs / 1000) + " seconds after its input was closed" +
                             (hard ? ", and could not be killed" :
                                     ", and is left running; TerminateHard := on in [Relayon] would kill it");
    notice(text, settings.Debug);
    explain(text);
}

// Says why a start of commandLine failed, on standard error and in the log, and releases what
// the start left.
void failedStart(const std::string& commandLine) {
    const int error = server.startError();
    const std::string hint = optionHint(commandLine);
    explain("cannot start the server \"" + commandLine + "\": " +
            (error != 0 ? trimBlanks(os::errorText(error))
                        : "its command line has " + std::to_string(commandLine.size()) +
                              " characters; it must be shorter than " + std::to_string(kMaxCommandLine)) +
            (hint.empty() ? "" : " (" + hint + ")"));
    server.stop(false);
    logLine("Error starting server program.", kNote);
}

// Set when a reader could not be ended and was left running: the process must then end without
// destroying what that reader uses, and no new reader may take its place.
bool readerLeft = false;

// Carries out a "<stop>" or "<start>" request; stopped tells whether the server is stopped on
// request. A stop logs "Server closed" as its reader ends, and so does the start that follows.
// False when the relay cannot go on.
bool serve(ServerRequests::Kind kind, bool& stopped) {
    if (kind == ServerRequests::Kind::Stop && !stopped) {
        stopped = true;
        stopAndDrain(settings.TerminateHard);
        readerLeft = !serverReader.stop();
        logLine("Server closed", kNote);
        return !readerLeft;
    } else if (kind == ServerRequests::Kind::Start && stopped) {
        if (server.start(settings.CommandLine) == 0) {
            failedStart(settings.CommandLine);  // the relay stays stopped and may try again
            return true;
        }
        logLine("Server closed", kNote);
        stopped = !startServerReader();
        return !stopped;
    }
    return true;
}

// Waits for the end of either side, for the requests of the control actions and for the
// priority steps, until the relay is to shut down.
void superviseRun(InputThread& clientReader) {
    bool stopped = false;  // the server is stopped on request
    int timeout = kPriorityStepMs;
    for (;;) {
        Event* slots[3];
        int count = 0;
        slots[count++] = &clientReader.ended();
        slots[count++] = &requests.arrived();
        if (!stopped) slots[count++] = &serverReader.ended();
        const int result = waitForAny(slots, count, timeout);
        if (result == 0) {
            logLine("Client closed", kNote);
            return;
        } else if (result == 1) {
            const bool goOn = serve(requests.take(), stopped);
            requests.done();
            if (!goOn) {
                logLine("Unknown termination", kNote);
                return;
            }
        } else if (result == 2) {
            logLine("Server closed", kNote);
            return;
        } else {
            timeout = priorityStep();
        }
    }
}

// Logs why a reader ended, when it was something it threw.
void reportFailure(const InputThread& reader, const char* side) {
    const std::string failure = reader.failure();
    if (!failure.empty()) logLine(std::string("Internal error in the ") + side + " reader: " + failure, kNote);
}

// Ends both readers; false when one is stuck where no interrupt reaches. Both are interrupted
// before either is waited for: one may wait for room in the client's output while the other
// holds what would make room.
bool stopReaders(InputThread& clientReader) {
    requests.close();
    clientReader.interrupt();
    serverReader.interrupt();
    const bool clientEnded = clientReader.stop();  // both are stopped, whatever the first gives
    const bool serverEnded = serverReader.stop();
    return clientEnded && serverEnded && !readerLeft;
}

// How long the client's output may take to write what it was given once the readers are done.
constexpr int kOutputFinishMs = 1000;
// The most a reader writes to the client itself (a pipe takes that much in one piece).
constexpr std::size_t kDirectWriteLimit = 4096;
// A reader whose key search may read more than this (about 2,000 keys and more) reads smaller
// blocks, which leave more of the processor's cache to the search (with 2,000 and 20,000 keys,
// about a tenth more lines a second); lighter work gains from larger blocks.
constexpr std::size_t kLargeSearchBytes = 512 * 1024;

// The relay's end, also when the run is left by an exception: the readers are stopped and the
// client's output writes what it holds, each within its bound; then the log and the display are
// closed. When a reader or the output could not be ended, the process ends here at once,
// without destroying what they use.
class RelayEnd {
public:
    RelayEnd(InputThread& clientReader, QueuedWriter& clientOutput)
        : clientReader_(clientReader), clientOutput_(clientOutput) {}
    ~RelayEnd() { finish(); }
    RelayEnd(const RelayEnd&) = delete;
    RelayEnd& operator=(const RelayEnd&) = delete;

    void finish() {
        if (done_) return;
        done_ = true;
        const bool readersEnded = stopReaders(clientReader_);
        const bool outputEnded = clientOutput_.finish(kOutputFinishMs);
        // A reader left in a copy that writes its target in place gets to finish it first.
        if (!readersEnded) os::endCopies();
        processLog().close();
        debugConsole().close();
        if (!readersEnded || !outputEnded) std::_Exit(0);
    }

private:
    InputThread& clientReader_;
    QueuedWriter& clientOutput_;
    bool done_ = false;
};

int run(int argc, char** argv) {
    const CommandLineRequest request = parseCommandLine(argc, argv, settings);
    const char* program = argc > 0 ? argv[0] : nullptr;
    switch (request.request) {
    case Request::Help: printHelp(std::cout, defaultTranslationFile(program)); return 0;
    case Request::Version: printVersion(std::cout); return 0;
    case Request::Invalid: explain(request.problem); return 2;
    case Request::Check:
    case Request::Relay: break;
    }
    const bool fileNamed = !settings.TranslationFile.empty();
    const TranslationReport translation =
        loadTranslationFile(settings, ruleTables, program, request.request == Request::Check);
    if (request.request == Request::Check) {
        return checkTranslation(settings, ruleTables, translation, request, clientInput, std::cout);
    }
    for (const std::string& warning : request.warnings) explain(warning);
    if (!translation.warnings.empty()) explain(warningSummary(translation));
    if (fileNamed && !translation.namedFileRead) {
        explain("cannot read the translation file \"" + settings.TranslationFile + "\"" +
                (translation.fileRead.empty() ? "" : " (\"" + translation.fileRead + "\" is read instead)") + ": " +
                translation.namedFileError);
    }
    if (settings.CommandLine.empty()) {
        printUsage(std::cout);
        return 0;
    }

    os::ignoreBrokenPipe();
    // Before the display's thread, which must not take the signals meant for the handler.
    if (settings.Ctrl) installControlHandler(server, settings.Debug);
    if (settings.Debug != 0 && !debugConsole().open()) {
        const std::string reason = os::lastErrorText();
        explain("cannot open the debug display: " + reason);
    }
    // A name of blanks only is no log, as an empty one.
    if (!trimBlanks(settings.Log).empty() && !processLog().open(settings.Log)) {
        const std::string reason = os::lastErrorText();
        explain("cannot open the log file \"" + settings.Log + "\": " + reason);
    }
    processStopWatch().start();
    settings.requestedPriorityClass = priorityClassFromName(settings.Priority);
    settings.requestedThreadPriority = threadPriorityFromName(settings.ThreadPriority);
    server.applyBoost(settings.Boost);

    const std::string commandLine = trimBlanks(settings.CommandLine);
    notice("Starting server: " + commandLine, settings.Debug);
    if (server.start(commandLine) == 0) {
        std::cout << "Error starting server program.\n" << std::flush;
        failedStart(commandLine);
        return 0;
    }
    reportPriorities(true, true);
    if (os::isTerminal(clientInput)) {
        explain("started \"" + commandLine + "\" (process " + std::to_string(server.processId()) +
                "); the lines you type go to it, " + os::kEndOfInputKeys + " ends the relay" +
                (settings.Ctrl ? ", Ctrl-C goes to the server" : ""));
    }

    // The client's output has one writer, which finishes a line it has begun before anything
    // else reaches the client, however long the client takes to read it. A reader writes a few
    // lines itself where it can, which saves a thread's wake-up on each answer.
    QueuedWriter clientOutputWriter(
        [output = os::Output(clientOutput)](std::string_view lines, std::uint16_t, std::size_t& written) {
            return output.writeAll(lines.data(), lines.size(), &written);
        },
        2 * kGatherLimit, QueuedWriter::WhenFull::Wait, kDirectWriteLimit);
    LiveTargets targets(clientOutputWriter, server, requests);
    Relay relay(settings, ruleTables, targets, settings.Debug == 0);
    serverReader.callback = [&relay](std::string_view line) { return relay.serverPump(line); };
    serverReader.afterRead = [&relay] { relay.serverReadDone(); };
    serverReader.lineCut = [&relay](std::uint64_t dropped) { relay.noteLineCut(dropped); };
    const auto readSize = [&relay](bool clientSide) {
        return relay.searchBytes(clientSide) > kLargeSearchBytes ? InputThread::kSmallReadSize : InputThread::kReadSize;
    };
    serverReader.readSize = readSize(false);
    InputThread clientReader;
    clientReader.setBorrowedHandle(clientInput);
    clientReader.callback = [&relay](std::string_view line) { return relay.clientPump(line); };
    clientReader.afterRead = [&relay] { relay.clientReadDone(); };
    clientReader.lineCut = [&relay](std::uint64_t dropped) { relay.noteLineCut(dropped); };
    clientReader.readSize = readSize(true);
    // From here on, whatever happens, the threads that use the relay end before it goes.
    RelayEnd end(clientReader, clientOutputWriter);
    const bool running = clientOutputWriter.start() && startServerReader() && clientReader.start(0);
    server.setCpuPower(settings.CpuPower);

    if (running) {
        superviseRun(clientReader);
    } else {
        // Without both readers and the output there is nothing to wait for.
        logLine("Unknown termination", kNote);
    }
    requests.close();
    reportFailure(clientReader, "client-side");
    reportFailure(serverReader, "server-side");

    logLine(settings.TerminateHard ? "Stopping server (hard)" : "Stopping server communication", kNote);
    stopAndDrain(settings.TerminateHard);
    logLine("Closing log", kNote);
    end.finish();
    return 0;
}

}  // namespace

int runRelayon(int argc, char** argv) {
    // Nothing thrown may end Relayon with an abort: it is noted, and the run ends in order.
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        logLine(std::string("Internal error: ") + error.what(), kNote);
    } catch (...) {
        logLine("Internal error", kNote);
    }
    return 0;
}

}  // namespace relayon
