// OS-independent: the two line pumps, their line writers and the control actions, wired to the
// log, the debug console, the server process and the client's output.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "config/rule_table.h"
#include "config/settings.h"
#include "engine/control_action.h"
#include "engine/file_source.h"
#include "engine/translation.h"
#include "platform/handle.h"

namespace relayon {

class LogFile;
class ServerProcess;

// Whoever owns the server's life, as the "<stop>" and "<start>" actions see it. Each call returns
// once the request has been carried out (or refused), so that the lines after the action are
// handled after it.
class ServerControl {
public:
    virtual ~ServerControl() = default;
    virtual void stopServer() = 0;
    virtual void startServer() = 0;
};

class Relay {
public:
    // clientOutput is Relayon's standard output as it was at start. The settings and tables
    // must not change while the relay exists.
    Relay(const Settings& settings, const RuleTables& tables, ServerProcess& server, ServerControl& control,
          os::RawHandle clientOutput);

    // The pumps: reader callbacks for lines from the client and from the server. Always true.
    // While the debug display is off, a pump gathers the lines it writes (and its log entries)
    // until its reader's afterRead calls the matching ...ReadDone, which writes them.
    bool clientPump(std::string_view line, int context);
    bool serverPump(std::string_view line, int context);
    void clientReadDone();
    void serverReadDone();

    // Logs that the reader cut a received line, with the bytes it dropped.
    static void noteLineCut(std::uint64_t dropped);

private:
    // One direction: the pump's translator and the whole lines its writer has not written yet,
    // all for one side. Used by that direction's reader thread only.
    struct Lane {
        Lane(const RuleTable& rules, const RuleTable& replyTable, const Settings& settings, bool clientSide);
        LineTranslator translator;
        const RuleTable& replies;
        const std::string& senderEndLine;
        const std::string& receiverEndLine;
        const bool client;        // the client direction: its sender is the client
        std::string pending;      // lines not written yet
        bool pendingToClient = false;
        std::string scratch;      // for the reply-table look-up
    };

    void pump(Lane& lane, std::string_view received, char kind, int echoLevel, std::uint16_t echoColour);
    void route(Lane& lane, std::string_view line);
    void queue(Lane& lane, bool toClient, std::string_view text, std::string_view endLine);
    void flush(Lane& lane);
    void carryOut(const ControlAction& action);

    const Settings& settings_;
    ServerProcess& server_;
    ServerControl& control_;
    const os::RawHandle clientOutput_;
    const bool gather_;  // false: every line is written (and echoed) on its own, at once
    LogFile& log_;       // the process's log, looked at for every received line
    DiskFileSource files_;
    // Both readers write to each side (a reply and a passed-on line); a write of gathered lines
    // holds the side's lock, so that no other write lands inside it.
    std::mutex clientWriteLock_;
    std::mutex serverWriteLock_;
    Lane clientLane_;
    Lane serverLane_;
};

}  // namespace relayon
