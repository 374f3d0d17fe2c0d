// OS-independent: the two line pumps and their line writers, wired to the log, the debug console
// and the targets of the relay (the two sides, the control actions, the notes).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "config/rule_table.h"
#include "config/settings.h"
#include "engine/control_action.h"
#include "engine/directives.h"
#include "engine/file_source.h"
#include "engine/translation.h"

namespace relayon {

class LogFile;
class QueuedWriter;
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

// Where the relay's results go. The relay running between two programs writes to them; the
// translation-file check shows what would be written.
class RelayTargets : public NoteSink {
public:
    // Whole lines, each with its line end, in the order they are to arrive; from either reader.
    // toClient may take the bytes of lines, leaving it empty; plain: no rule and no reply table
    // looked at them, so that their reader did little work for them.
    virtual void toClient(std::string& lines, bool plain) = 0;
    virtual void toServer(std::string_view lines) = 0;
    // A control action of the client direction, once every line before it has been handed over.
    virtual void carryOut(const ControlAction& action) = 0;
    // note(): a notice for the log (from the directives, or of a received line that was cut).
};

// The targets of a running relay: the client's output through its queued writer (the one writer
// of that side), the server's input, the owner of the server's life, the file copy and the log.
class LiveTargets : public RelayTargets {
public:
    LiveTargets(QueuedWriter& clientOutput, ServerProcess& server, ServerControl& control);
    void toClient(std::string& lines, bool plain) override;
    void toServer(std::string_view lines) override;
    void carryOut(const ControlAction& action) override;
    void note(const std::string& text) override;

private:
    QueuedWriter& clientOutput_;
    ServerProcess& server_;
    ServerControl& control_;
    // Both readers write to the server (a passed-on line, an answer): one write at a time.
    std::mutex serverWriteLock_;
};

class Relay {
public:
    // The settings, the tables and the targets must outlive the relay and not change meanwhile.
    // With gather, a pump gathers the lines it writes (and its log entries) until its reader's
    // afterRead calls the matching ...ReadDone, which hands them on; without, every line is
    // handed on (and echoed) on its own, at once.
    Relay(const Settings& settings, const RuleTables& tables, RelayTargets& targets, bool gather);

    // The pumps: reader callbacks for lines from the client and from the server. Always true.
    bool clientPump(std::string_view line);
    bool serverPump(std::string_view line);
    void clientReadDone();
    void serverReadDone();

    // Notes that a reader cut a received line, with the bytes it dropped.
    void noteLineCut(std::uint64_t dropped);

    // The bytes the key search of each line of a direction may read.
    std::size_t searchBytes(bool clientSide) const {
        return (clientSide ? clientLane_ : serverLane_).translator.searchBytes();
    }

    // Tells observer the translation steps of both directions (LineTranslator::setObserver).
    void setObserver(TranslationObserver* observer);

private:
    // One direction: the pump's translator and the whole lines its writer has not handed on
    // yet, all for one side. Used by that direction's reader thread only.
    struct Lane {
        Lane(const RuleTable& rules, const RuleTable& replyTable, const Settings& settings, bool clientSide);
        LineTranslator translator;
        const RuleTable& replies;
        const std::string& senderEndLine;
        const std::string& receiverEndLine;
        const bool client;        // the client direction: its sender is the client
        const bool plain;         // no rules and no replies: a line costs its reader little
        std::string pending;      // lines not handed on yet
        bool pendingToClient = false;
        std::string scratch;      // for the reply-table look-up
    };

    void pump(Lane& lane, std::string_view received, char kind, int echoLevel, std::uint16_t echoColour);
    void route(Lane& lane, std::string_view line);
    void queue(Lane& lane, bool toClient, std::string_view text, std::string_view endLine);
    void flush(Lane& lane);

    const Settings& settings_;
    RelayTargets& targets_;
    const bool gather_;
    LogFile& log_;  // the process's log, looked at for every received line
    DiskFileSource files_;
    Lane clientLane_;
    Lane serverLane_;
};

}  // namespace relayon
