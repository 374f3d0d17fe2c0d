#include "platform/signals.h"

#include <atomic>
#include <string>

#include "platform/win32/native.h"

namespace relayon::os {

namespace {

std::atomic<ControlHandler> installedHandler{nullptr};

BOOL WINAPI onControlEvent(DWORD event) { return installedHandler.load()(event) ? TRUE : FALSE; }

// A control event reaches only the processes attached to the console of the process that
// generates it, and the server has a console of its own. Relayon cannot leave its own console
// (its client and its debug display may use it), so a helper copy of Relayon, the carrier,
// attaches to the server's console and generates the event there.
constexpr DWORD kCarrierWaitMs = 2000;

HANDLE carrierReached = nullptr;  // set when the carried event reaches the carrier itself

BOOL WINAPI onCarriedEvent(DWORD) {
    SetEvent(carrierReached);
    return TRUE;  // the carrier goes on to its own end
}

}  // namespace

bool installControlHandler(ControlHandler handler) {
    ControlHandler none = nullptr;
    if (handler == nullptr || !installedHandler.compare_exchange_strong(none, handler)) return false;
    if (SetConsoleCtrlHandler(onControlEvent, TRUE)) return true;
    installedHandler = nullptr;
    return false;
}

bool carryControlEvent(HANDLE server, DWORD serverId, unsigned event) {
    if (WaitForSingleObject(server, 0) != WAIT_TIMEOUT) return false;  // the server has ended
    Handle carrier;
    if (startHelper("carry " + std::to_string(event) + " " + std::to_string(serverId), {}, carrier) != 0) {
        return false;
    }
    HANDLE process = toNative(carrier.get());
    DWORD code = 1;
    if (WaitForSingleObject(process, kCarrierWaitMs) == WAIT_OBJECT_0) {
        return GetExitCodeProcess(process, &code) && code == 0;
    }
    // Late, it could still attach to the console of the id once the caller has let go of the
    // server, when the id may name another process: it ends first.
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kHelperEndWaitMs);
    return false;
}

int deliverControlEvent(unsigned event, DWORD serverId) {
    FreeConsole();
    if (!AttachConsole(serverId)) return 1;
    carrierReached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl-C calls the handler below even if inherited off
    SetConsoleCtrlHandler(onCarriedEvent, TRUE);
    // Every process of the console gets the event, this one too: once it has arrived here, it
    // has been sent to all of them.
    int code = 1;
    if (carrierReached && GenerateConsoleCtrlEvent(event, 0)) {
        WaitForSingleObject(carrierReached, kCarrierWaitMs / 2);
        code = 0;
    }
    FreeConsole();
    return code;
}

void ignoreBrokenPipe() {}

}  // namespace relayon::os
