// OS-independent: line pumps, line writers and the targets of a running relay.
#include "engine/relay.h"

#include "text/text_utils.h"
#include "diag/console.h"
#include "diag/log_file.h"
#include "diag/queued_writer.h"
#include "engine/delivery.h"
#include "engine/translation.h"
#include "platform/file_copy.h"
#include "process/server_process.h"

namespace relayon {

namespace {

// Bits of the debug mask that echo the lines written to each side.
constexpr int kEchoToClient = 1;
constexpr int kEchoToServer = 2;

}  // namespace

LiveTargets::LiveTargets(QueuedWriter& clientOutput, ServerProcess& server, ServerControl& control)
    : clientOutput_(clientOutput), server_(server), control_(control) {}

// Lines the writer cannot take (the client gone, or the reader stopped while it waited for room)
// are lost whole, without a message; the echo shows them all the same. Plain lines cost their
// reader less than a hand-over to the writer thread would: it writes them itself where it can.
void LiveTargets::toClient(std::string& lines, bool plain) { clientOutput_.hand(lines, 0, plain); }

void LiveTargets::toServer(std::string_view lines) {
    std::lock_guard<std::mutex> hold(serverWriteLock_);
    server_.writeInput(lines.data(), lines.size());
}

void LiveTargets::carryOut(const ControlAction& action) {
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

void LiveTargets::note(const std::string& text) { logLine(text, kNote); }

Relay::Lane::Lane(const RuleTable& rules, const RuleTable& replyTable, const Settings& settings, bool clientSide)
    : translator(rules, settings.StringRulesPresent, clientSide),
      replies(replyTable),
      senderEndLine(clientSide ? settings.EndLineClient : settings.EndLineServer),
      receiverEndLine(clientSide ? settings.EndLineServer : settings.EndLineClient),
      client(clientSide),
      plain(rules.empty() && replyTable.empty()) {}

Relay::Relay(const Settings& settings, const RuleTables& tables, RelayTargets& targets, bool gather)
    : settings_(settings),
      targets_(targets),
      gather_(gather),
      log_(processLog()),
      clientLane_(tables.client2Server, tables.client2Client, settings, true),
      serverLane_(tables.server2Client, tables.server2Server, settings, false) {}

bool Relay::clientPump(std::string_view line) {
    pump(clientLane_, line, kClientLine, 1, kToServerColour);
    return true;
}

bool Relay::serverPump(std::string_view line) {
    pump(serverLane_, line, kServerLine, 2, kToClientColour);
    return true;
}

void Relay::setObserver(TranslationObserver* observer) {
    clientLane_.translator.setObserver(observer);
    serverLane_.translator.setObserver(observer);
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

    lane.translator.translate(received, files_, targets_);
    if (lane.translator.action().kind != ControlAction::Kind::None) {
        flush(lane);  // the action comes after every line before it has been handed on
        targets_.carryOut(lane.translator.action());
        return;
    }
    for (std::string_view out : lane.translator.lines()) route(lane, out);
}

void Relay::noteLineCut(std::uint64_t dropped) {
    targets_.note("Line longer than " + std::to_string(kMaxLineBytes) + " bytes: " + std::to_string(dropped) +
                  " bytes dropped");
}

// A line the sender's reply table answers goes back to the sender; any other goes on.
void Relay::route(Lane& lane, std::string_view line) {
    if (const std::string* answer = lane.replies.empty() ? nullptr : findReply(line, lane.replies, lane.scratch)) {
        queue(lane, lane.client, *answer, lane.senderEndLine);
    } else {
        queue(lane, !lane.client, line, lane.receiverEndLine);
    }
}

// Lines for one side wait behind each other; a line for the other side first hands them on, so
// that the lines keep their order.
void Relay::queue(Lane& lane, bool toClient, std::string_view text, std::string_view endLine) {
    if (!lane.pending.empty() && lane.pendingToClient != toClient) flush(lane);
    lane.pendingToClient = toClient;
    lane.pending.append(text);
    if (endLine.size() == 1) {
        lane.pending.push_back(endLine[0]);
    } else {
        lane.pending.append(endLine);
    }
    if (!gather_ || lane.pending.size() >= kGatherLimit) flush(lane);
}

void Relay::flush(Lane& lane) {
    if (gather_) flushLog();  // the log shows a line before it is passed on
    if (lane.pending.empty()) return;
    // The display shows a line before it is passed on, so that it never shows an answer before
    // the line that asked for it.
    if (lane.pendingToClient) {
        if (settings_.Debug & kEchoToClient) debugConsole().write(lane.pending, kToClientColour);
        targets_.toClient(lane.pending, lane.plain);  // which may take the bytes
    } else {
        if (settings_.Debug & kEchoToServer) debugConsole().write(lane.pending, kToServerColour);
        targets_.toServer(lane.pending);
    }
    clearBuffer(lane.pending);
}

}  // namespace relayon
