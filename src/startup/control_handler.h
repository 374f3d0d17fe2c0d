// OS-independent: the console control handler that passes Ctrl-C and Break on to the server.
#pragma once

#include <cstdint>
#include <string>

namespace relayon {

class ServerProcess;

// What the handler does for one event.
struct ControlDecision {
    bool forward;       // send the event to the server
    bool toConsole;     // write message to the debug console
    bool toLog;         // log message as a note
    bool handled;       // the handler's result
    std::string message;
};

// The name of an event as it is reported ("CTRL-C\n", "BREAK\n", ..., "unknown\n").
std::string controlEventName(unsigned event);

// The handler's decision for an event, the last server's process id (0: none yet) and the
// debug mask.
ControlDecision decideControlEvent(unsigned event, std::uint32_t serverProcessId, int debug);

// Installs the handler once, for the rest of the process's life; it reads the server's process
// id when an event arrives, and releases the server (releaseForExit) before an event it does not
// handle ends Relayon. The server must never be destroyed: an event may come at any moment,
// also while the process ends. Call it before starting any other thread.
bool installControlHandler(ServerProcess& server, int debug);

}  // namespace relayon
