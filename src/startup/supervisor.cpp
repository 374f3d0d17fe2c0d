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
#include "engine/relay.h"
#include "platform/file.h"
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

// Process-wide objects, constructed in this order before the main routine and destroyed in the
// reverse order at process end. The server process reads Relayon's own priorities here.
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
ServerProcess server;
InputThread serverReader;

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

ServerRequests requests;

void reportPriorities(bool priorityClass, bool threadPriority) {
    if (priorityClass) notice(priorityClassReport(server.priorityClass()), settings.Debug);
    if (threadPriority) notice(threadPriorityReport(server.threadPriority()), settings.Debug);
}

// Tells the user on standard error what failed and why; standard output belongs to the client.
void explain(const std::string& text) { std::cerr << "Relayon: " << trimBlanks(text) << std::endl; }

// The priority step after the first time-out: apply what was requested, once, or else keep
// following Relayon's own priorities. Returns the next time-out.
int priorityStep() {
    const int wantedClass = settings.requestedPriorityClass;
    const int wantedThread = settings.requestedThreadPriority;
    if (wantedClass == kPriorityNotSet && wantedThread == kPriorityNotSet) {
        const PriorityChanges changes = server.followOwnPriorities(wantedClass, wantedThread);
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
// that a soft stop left running may hold its output open for ever, so then nothing is drained.
void stopServer(bool hard) {
    const bool ended = server.stop(hard);
    if (ended && serverReader.registered()) serverReader.ended().wait(kDrainMs);
}

// Says why a start of commandLine failed, on standard error and in the log, and releases what
// the start left.
void failedStart(const std::string& commandLine) {
    const int error = server.startError();
    explain("cannot start the server \"" + commandLine + "\": " +
            (error != 0 ? os::errorText(error)
                        : "its command line has " + std::to_string(commandLine.size()) +
                              " characters; it must be shorter than " + std::to_string(kMaxCommandLine)));
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
        stopServer(settings.TerminateHard);
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
// before either is waited for: one may wait for a lock that the other holds while it is blocked
// in a write to a peer that does not read.
bool stopReaders(InputThread& clientReader) {
    requests.close();
    clientReader.interrupt();
    serverReader.interrupt();
    return clientReader.stop() & serverReader.stop() & !readerLeft;
}

// Stops the readers when the run is left by an exception, before the relay they use goes.
class ReadersGuard {
public:
    explicit ReadersGuard(InputThread& clientReader) : clientReader_(clientReader) {}
    ~ReadersGuard() {
        if (armed_ && !stopReaders(clientReader_)) std::_Exit(0);
    }
    void release() { armed_ = false; }

private:
    InputThread& clientReader_;
    bool armed_ = true;
};

int run(int argc, char** argv) {
    const CommandLineRequest request = parseCommandLine(argc, argv, settings);
    switch (request.request) {
    case Request::Help: printUsage(std::cout); return 0;
    case Request::Version: printVersion(std::cout); return 0;
    case Request::Invalid: explain(request.problem); return 2;
    case Request::Check:
    case Request::Relay: break;
    }
    const bool fileNamed = !settings.TranslationFile.empty();
    const TranslationReport translation = loadTranslationFile(settings, ruleTables, argc > 0 ? argv[0] : nullptr);
    if (request.request == Request::Check) {
        return checkTranslation(settings, ruleTables, translation, request.optionSettings, std::cin, std::cout);
    }
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
    if (settings.Debug != 0 && !debugConsole().open()) {
        const std::string reason = os::lastErrorText();
        explain("cannot open the debug display: " + reason);
    }
    if (!settings.Log.empty() && !processLog().open(settings.Log)) {
        const std::string reason = os::lastErrorText();
        explain("cannot open the log file \"" + settings.Log + "\": " + reason);
    }
    processStopWatch().start();
    if (settings.Ctrl) installControlHandler(server, settings);
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

    Relay relay(settings, ruleTables, server, requests, clientOutput);
    serverReader.callback = [&relay](std::string_view line, int context) { return relay.serverPump(line, context); };
    serverReader.afterRead = [&relay] { relay.serverReadDone(); };
    serverReader.lineCut = Relay::noteLineCut;
    const bool serverReading = startServerReader();
    InputThread clientReader;
    clientReader.setBorrowedHandle(clientInput);
    clientReader.callback = [&relay](std::string_view line, int context) { return relay.clientPump(line, context); };
    clientReader.afterRead = [&relay] { relay.clientReadDone(); };
    clientReader.lineCut = Relay::noteLineCut;
    ReadersGuard guard(clientReader);
    const bool clientReading = clientReader.start(0);
    server.setCpuPower(settings.CpuPower);

    if (serverReading && clientReading) {
        superviseRun(clientReader);
    } else {
        // Without both readers there is nothing to wait for.
        logLine("Unknown termination", kNote);
    }
    requests.close();
    reportFailure(clientReader, "client-side");
    reportFailure(serverReader, "server-side");

    logLine(settings.TerminateHard ? "Stopping server (hard)" : "Stopping server communication", kNote);
    stopServer(settings.TerminateHard);
    logLine("Closing log", kNote);
    guard.release();
    const bool readersEnded = stopReaders(clientReader);
    processLog().close();
    debugConsole().close();
    if (!readersEnded) {
        // A reader stuck where no interrupt reaches still uses the relay and the objects above:
        // end the process without destroying them.
        std::_Exit(0);
    }
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
