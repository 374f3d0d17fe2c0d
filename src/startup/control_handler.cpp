// OS-independent: the console control handler.
#include "startup/control_handler.h"

#include <atomic>

#include "diag/console.h"
#include "diag/log_file.h"
#include "platform/file_copy.h"
#include "platform/signals.h"
#include "process/server_process.h"

namespace relayon {

namespace {

// What the handler uses, set before it is installed and never destroyed.
std::atomic<ServerProcess*> handlerServer{nullptr};
std::atomic<int> handlerDebug{0};

bool onControlEvent(unsigned event) {
    ServerProcess* server = handlerServer.load();
    const std::uint32_t processId = server ? server->processId() : 0;
    const ControlDecision decision = decideControlEvent(event, processId, handlerDebug.load());
    if (decision.forward) server->sendControlEvent(event);
    if (decision.toConsole) debugConsole().write(decision.message, kNoticeColour);
    if (decision.toLog) logLine(decision.message, kNote);
    // Relayon ends next, without its shutdown: a copy must not be left half done (settled first,
    // while the server still runs and Relayon cannot end on its own), nor the server suspended.
    if (!decision.handled) os::endCopies();
    if (!decision.handled && server) server->releaseForExit();
    return decision.handled;
}

}  // namespace

std::string controlEventName(unsigned event) {
    switch (event) {
        case os::kCtrlCEvent: return "CTRL-C\n";
        case os::kCtrlBreakEvent: return "BREAK\n";
        case os::kCtrlCloseEvent: return "CLOSE\n";
        case os::kCtrlLogoffEvent: return "LOGOFF\n";
        case os::kCtrlShutdownEvent: return "SHUTDOWN\n";
        default: return "unknown\n";
    }
}

ControlDecision decideControlEvent(unsigned event, std::uint32_t serverProcessId, int debug) {
    const bool interrupt = event == os::kCtrlCEvent || event == os::kCtrlBreakEvent;
    ControlDecision decision;
    decision.forward = interrupt && serverProcessId != 0;
    decision.toLog = debug != 0;
    decision.toConsole = debug != 0 && !(debug == 2 && !interrupt);
    decision.handled = interrupt;
    if (debug != 0) decision.message = "Control signal " + controlEventName(event);
    return decision;
}

bool installControlHandler(ServerProcess& server, int debug) {
    handlerServer = &server;
    handlerDebug = debug;
    return os::installControlHandler(onControlEvent);
}

}  // namespace relayon
