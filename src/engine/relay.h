// OS-independent: the two line pumps, their line writers and the control actions, wired to the
// log, the debug console, the server process and the client's output.
#pragma once

#include <atomic>
#include <string>

#include "config/rule_table.h"
#include "config/settings.h"
#include "engine/control_action.h"
#include "engine/file_source.h"
#include "platform/handle.h"
#include "process/event.h"

namespace relayon {

class ServerProcess;

// The hand-over between the control actions, which run on the client-side reader, and the
// supervisor on the main thread, which alone starts and stops the server-side reader.
struct ServerHandover {
    std::atomic<bool> serverStopped{false};  // set by "<stop>", cleared by the supervisor
    // A "<start>" launched a server that the supervisor has not taken over yet; further start
    // lines do nothing until it has, so no second server is started over the first.
    std::atomic<bool> startPending{false};
    Event restartEvent;  // set by a successful "<start>"
    Event changed;       // set by "<stop>" and "<start>" to wake the supervisor
};

class Relay {
public:
    // clientOutput is Relayon's standard output as it was at start.
    Relay(const Settings& settings, const RuleTables& tables, ServerProcess& server,
          os::RawHandle clientOutput);

    // The pumps: reader callbacks for lines from the client and from the server. Always true.
    bool clientPump(const char* line, int context);
    bool serverPump(const char* line, int context);

    // The line writers: answer the sender from its reply table, or pass the line on, with the
    // receiving side's end-of-line sequence, in one write. Always true.
    bool deliverClientLine(std::string line);
    bool deliverServerLine(std::string line);

    ServerHandover& handover() { return handover_; }

private:
    void pump(const char* line, char kind, int echoLevel, std::uint16_t echoColour, const RuleTable& rules,
              bool client);
    void carryOut(const ControlAction& action);
    void writeToClient(const std::string& text);
    void writeToServer(const std::string& text);

    const Settings& settings_;
    const RuleTables& tables_;
    ServerProcess& server_;
    const os::RawHandle clientOutput_;
    DiskFileSource files_;
    ServerHandover handover_;
};

}  // namespace relayon
