// OS-independent: line pumps, line writers and control actions.
#include "engine/relay.h"

#include "diag/console.h"
#include "diag/log_file.h"
#include "engine/delivery.h"
#include "engine/translation.h"
#include "platform/file_copy.h"
#include "platform/io.h"
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

Relay::Relay(const Settings& settings, const RuleTables& tables, ServerProcess& server,
             os::RawHandle clientOutput)
    : settings_(settings), tables_(tables), server_(server), clientOutput_(clientOutput) {}

bool Relay::clientPump(const char* line, int) {
    pump(line, kClientLine, 1, kToServerColour, tables_.client2Server, true);
    return true;
}

bool Relay::serverPump(const char* line, int) {
    pump(line, kServerLine, 2, kToClientColour, tables_.server2Client, false);
    return true;
}

void Relay::pump(const char* line, char kind, int echoLevel, std::uint16_t echoColour, const RuleTable& rules,
                 bool client) {
    const std::string received(line);
    logLine(received, kind);
    if (settings_.Debug == echoLevel) debugConsole().write(received + "\n", echoColour);

    LogNotes notes;
    Translation translation =
        translateLine(received, rules, settings_.StringRulesPresent, client, files_, notes);
    if (translation.action.kind != ControlAction::Kind::None) {
        carryOut(translation.action);
        return;
    }
    for (std::string& out : translation.lines) {
        if (client) {
            deliverClientLine(std::move(out));
        } else {
            deliverServerLine(std::move(out));
        }
    }
}

bool Relay::deliverClientLine(std::string line) {
    Delivery d = planDelivery(line, tables_.client2Client, settings_.EndLineClient, settings_.EndLineServer);
    if (d.answered) {
        writeToClient(d.text);
    } else {
        writeToServer(d.text);
    }
    return true;
}

bool Relay::deliverServerLine(std::string line) {
    Delivery d = planDelivery(line, tables_.server2Server, settings_.EndLineServer, settings_.EndLineClient);
    if (d.answered) {
        writeToServer(d.text);
    } else {
        writeToClient(d.text);
    }
    return true;
}

// A failed write (the client gone, the server stopped) loses the line without a message; the
// echo shows it all the same.
void Relay::writeToClient(const std::string& text) {
    os::writeAll(clientOutput_, text.data(), text.size());
    if (settings_.Debug & kEchoToClient) debugConsole().write(text, kToClientColour);
}

void Relay::writeToServer(const std::string& text) {
    server_.writeInput(text.data(), text.size());
    if (settings_.Debug & kEchoToServer) debugConsole().write(text, kToServerColour);
}

void Relay::carryOut(const ControlAction& action) {
    switch (action.kind) {
    case ControlAction::Kind::Stop:
        if (handover_.serverStopped.exchange(true)) return;
        server_.stop(settings_.TerminateHard);
        handover_.changed.set();
        return;
    case ControlAction::Kind::Start:
        if (!handover_.serverStopped || handover_.startPending) return;
        if (server_.start(settings_.CommandLine) == 0) {
            // Release what the failed start left (never a server still held, which start
            // refuses to replace); the relay stays stopped and may try again.
            if (!server_.running()) server_.stop(false);
            logLine("Error starting server program.", kNote);
            return;
        }
        handover_.startPending = true;
        handover_.restartEvent.set();
        handover_.changed.set();
        return;
    case ControlAction::Kind::Copy:
        os::copyFile(action.source, action.target);
        return;
    case ControlAction::Kind::None:
        return;
    }
}

}  // namespace relayon
