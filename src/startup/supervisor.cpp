// OS-independent: start-up order, main loop and shutdown.
#include "startup/supervisor.h"

#include <iostream>

#include "config/rule_table.h"
#include "config/settings.h"
#include "config/text_utils.h"
#include "config/translation_file.h"
#include "diag/console.h"
#include "diag/log_file.h"
#include "engine/relay.h"
#include "platform/io.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "process/event.h"
#include "process/input_thread.h"
#include "process/server_process.h"
#include "startup/command_line.h"
#include "startup/control_handler.h"

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
// How long a stopped server's reader may go on draining what the server wrote before it ended.
constexpr int kDrainMs = 1000;

void notice(const std::string& text) {
    if (settings.Debug != 0) debugConsole().write(text + "\n", kNoticeColour);
    logLine(text, kNote);
}

// The priority step after the first time-out: apply what was requested, once, or else keep
// following Relayon's own priorities. Returns the next time-out.
int priorityStep() {
    const int wantedClass = settings.requestedPriorityClass;
    const int wantedThread = settings.requestedThreadPriority;
    if (wantedClass == kPriorityNotSet && wantedThread == kPriorityNotSet) {
        server.followOwnPriorities(wantedClass, wantedThread, settings.Debug);
        return kPriorityStepMs;
    }
    // Reported is what the system applied, which may differ from what was asked for.
    if (wantedClass != kPriorityNotSet) {
        server.applyPriorityClass(static_cast<unsigned>(wantedClass));
        reportPriorityClass(server.priorityClass(), settings.Debug);
    }
    if (wantedThread != kPriorityNotSet) {
        server.applyThreadPriority(wantedThread);
        reportThreadPriority(server.threadPriority(), settings.Debug);
    }
    return kInfinite;
}

// Waits for the end of either side. Slot 0 is the server-side reader's end while the server is
// watched, and the restart event while it is stopped on request; slot 1 the client-side
// reader's end; slot 2 wakes the loop when a control action stopped or started the server.
// The server-side reader is started and stopped here only, so a restart never races its end.
void superviseRun(InputThread& clientReader, ServerHandover& handover) {
    bool watching = true;
    int timeout = kPriorityStepMs;
    for (;;) {
        Event* slots[] = {watching ? &serverReader.ended() : &handover.restartEvent, &clientReader.ended(),
                          &handover.changed};
        const int result = waitForAny(slots, 3, timeout);
        if (result == 0) {
            logLine("Server closed", kNote);
            if (!handover.serverStopped) return;
            if (watching) {
                serverReader.stop();
                watching = false;
            } else {
                // The flags are cleared first: a stop that a line of the new server prompts
                // must find the server running, or it would be ignored.
                handover.serverStopped = false;
                handover.startPending = false;
                serverReader.setHandle(server.outputReader());
                serverReader.start(0);
                watching = true;
            }
        } else if (result == 1) {
            logLine("Client closed", kNote);
            return;
        } else if (result == 2) {
            // A server left running by a soft stop still holds its output pipe: after a short
            // drain, end the reader so that the stop is seen.
            if (watching && handover.serverStopped && !serverReader.ended().wait(kDrainMs)) {
                serverReader.stop();
            }
        } else if (result == kWaitTimeout) {
            timeout = priorityStep();
        } else {
            logLine("Unknown termination", kNote);
            return;
        }
    }
}

}  // namespace

int runRelayon(int argc, char** argv) {
    parseCommandLine(argc, argv, settings);
    loadTranslationFile(settings, ruleTables, argc > 0 ? argv[0] : nullptr);
    if (settings.CommandLine.empty()) {
        printUsage(std::cout);
        return 0;
    }

    os::ignoreBrokenPipe();
    if (settings.Debug != 0) debugConsole().open();
    if (!settings.Log.empty()) processLog().open(settings.Log);
    processStopWatch().start();
    if (settings.Ctrl) installControlHandler(server, settings);
    settings.requestedPriorityClass = priorityClassFromName(settings.Priority);
    settings.requestedThreadPriority = threadPriorityFromName(settings.ThreadPriority);
    server.applyBoost(settings.Boost);

    const std::string commandLine = trimBlanks(settings.CommandLine);
    notice("Starting server: " + commandLine);
    if (server.start(commandLine) == 0) {
        server.stop(false);
        std::cout << "Error starting server program.\n" << std::flush;
        logLine("Error starting server program.", kNote);
        return 0;
    }
    reportPriorityClass(server.priorityClass(), settings.Debug);
    reportThreadPriority(server.threadPriority(), settings.Debug);

    Relay relay(settings, ruleTables, server, clientOutput);
    serverReader.setHandle(server.outputReader());
    serverReader.callback = [&relay](const char* line, int context) { return relay.serverPump(line, context); };
    serverReader.afterRead = [&relay] { relay.serverReadDone(); };
    const bool serverReading = serverReader.start(0);
    InputThread clientReader;
    clientReader.setBorrowedHandle(clientInput);
    clientReader.callback = [&relay](const char* line, int context) { return relay.clientPump(line, context); };
    clientReader.afterRead = [&relay] { relay.clientReadDone(); };
    const bool clientReading = clientReader.start(0);
    server.setCpuPower(settings.CpuPower);

    if (serverReading && clientReading) {
        superviseRun(clientReader, relay.handover());
    } else {
        // Without both readers there is nothing to wait for.
        logLine("Unknown termination", kNote);
    }

    logLine(settings.TerminateHard ? "Stopping server (hard)" : "Stopping server communication", kNote);
    server.stop(settings.TerminateHard);
    // Lines the server wrote before it ended may still be in the pipe: let the reader pass them
    // on to the client before it is stopped.
    if (serverReader.registered()) serverReader.ended().wait(kDrainMs);
    logLine("Closing log", kNote);
    clientReader.stop();
    serverReader.stop();
    return 0;
}

}  // namespace relayon
