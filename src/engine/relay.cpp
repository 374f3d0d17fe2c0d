// OS-independent: line pumps, line writers and control actions.
#include "engine/relay.h"

#include "text/text_utils.h"
#include "diag/console.h"
#include "diag/log_file.h"
#include "engine/delivery.h"
#include "engine/translation.h"
#include "platform/file_copy.h"
#include "platform/io.h"
#include "process/input_thread.h"
#include "process/server_process.h"

namespace relayon {

namespace {

// Bits of the debug mask that echo the lines written to each side.
constexpr int kEchoToClient = 1;
constexpr int kEchoToServer = 2;

class LogNotes : public NoteSink {
public:
    void note(const std::string& text) override { logLine(text, kNote); }
};

}  // namespace

Relay::Lane::Lane(const RuleTable& rules, const RuleTable& replyTable, const Settings& settings, bool clientSide)
    : translator(rules, settings.StringRulesPresent, clientSide),
      replies(replyTable),
      senderEndLine(clientSide ? settings.EndLineClient : settings.EndLineServer),
      receiverEndLine(clientSide ? settings.EndLineServer : settings.EndLineClient),
      client(clientSide) {}

Relay::Relay(const Settings& settings, const RuleTables& tables, ServerProcess& server, ServerControl& control,
             os::RawHandle clientOutput)
    : settings_(settings),
      server_(server),
      control_(control),
      clientOutput_(clientOutput),
      gather_(settings.Debug == 0),
      log_(processLog()),
      clientLane_(tables.client2Server, tables.client2Client, settings, true),
      serverLane_(tables.server2Client, tables.server2Server, settings, false) {}

bool Relay::clientPump(std::string_view line, int) {
    pump(clientLane_, line, kClientLine, 1, kToServerColour);
    return true;
}

bool Relay::serverPump(std::string_view line, int) {
    pump(serverLane_, line, kServerLine, 2, kToClientColour);
    return true;
}

void Relay::clientReadDone() { flush(clientLane_); }

void Relay::serverReadDone() { flush(serverLane_); }

void Relay::pump(Lane& lane, std::string_view received, char kind, int echoLevel, std::uint16_t echoColour) {
    if (log_.isOpen()) {
        if (gather_) {
            log_.gatherLine(received, kind);
        } else {
            log_.logLine(received, kind);
        }
    }
    if (settings_.Debug == echoLevel) debugConsole().write(std::string(received) + "\n", echoColour);

    LogNotes notes;
    lane.translator.translate(received, files_, notes);
    if (lane.translator.action().kind != ControlAction::Kind::None) {
        flush(lane);  // the action comes after every line before it has been written
        carryOut(lane.translator.action());
        return;
    }
    for (std::string_view out : lane.translator.lines()) route(lane, out);
}

void Relay::noteLineCut(std::uint64_t dropped) {
    logLine("Line longer than " + std::to_string(kMaxLineBytes) + " bytes: " + std::to_string(dropped) +
                " bytes dropped",
            kNote);
}

// Answers the sender from the reply table, or passes the line on.
void Relay::route(Lane& lane, std::string_view line) {
    if (const std::string* answer = lane.replies.empty() ? nullptr : findReply(line, lane.replies, lane.scratch)) {
        queue(lane, lane.client, *answer, lane.senderEndLine);  // back to the sender
    } else {
        queue(lane, !lane.client, line, lane.receiverEndLine);
    }
}

// Lines for one side wait behind each other; a line for the other side first sends them, so
// that the writes keep the order of the lines.
void Relay::queue(Lane& lane, bool toClient, std::string_view text, std::string_view endLine) {
    if (!lane.pending.empty() && lane.pendingToClient != toClient) flush(lane);
    lane.pendingToClient = toClient;
    lane.pending.append(text).append(endLine);
    if (!gather_ || lane.pending.size() >= kGatherLimit) flush(lane);
}

// A failed write (the client gone, the server stopped) loses the lines without a message; the
// echo shows them all the same.
void Relay::flush(Lane& lane) {
    if (gather_) flushLog();  // the log shows a line before it is passed on
    if (lane.pending.empty()) return;
    if (lane.pendingToClient) {
        {
            std::lock_guard<std::mutex> hold(clientWriteLock_);
            os::writeAll(clientOutput_, lane.pending.data(), lane.pending.size());
        }
        if (settings_.Debug & kEchoToClient) debugConsole().write(lane.pending, kToClientColour);
    } else {
        {
            std::lock_guard<std::mutex> hold(serverWriteLock_);
            server_.writeInput(lane.pending.data(), lane.pending.size());
        }
        if (settings_.Debug & kEchoToServer) debugConsole().write(lane.pending, kToServerColour);
    }
    clearBuffer(lane.pending);
}

void Relay::carryOut(const ControlAction& action) {
    switch (action.kind) {
    case ControlAction::Kind::Stop:
        control_.stopServer();
        return;
    case ControlAction::Kind::Start:
        control_.startServer();
        return;
    case ControlAction::Kind::Copy:
        os::copyFile(action.source, action.target);
        return;
    case ControlAction::Kind::None:
        return;
    }
}

}  // namespace relayon
