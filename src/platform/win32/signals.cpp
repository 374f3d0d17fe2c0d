#include "platform/signals.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/win32/native.h"

namespace relayon::os {

namespace {

std::atomic<ControlHandler> installedHandler{nullptr};

BOOL WINAPI onControlEvent(DWORD event) { return installedHandler.load()(event) ? TRUE : FALSE; }

// A control event reaches only the processes attached to the console of the process that
// generates it, and the server has a console of its own. Relayon cannot leave its own console
// (its client and its debug display may use it), so a short-lived copy of Relayon, the
// carrier, attaches to the server's console and generates the event there. The carrier's
// environment holds only this variable: "EVENT PROCESS-ID".
constexpr char kCarrierVariable[] = "RELAYON_CONTROL_EVENT";
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

bool sendControlEvent(std::uint32_t serverProcessId, unsigned event) {
    if (serverProcessId == 0 || (event != kCtrlCEvent && event != kCtrlBreakEvent)) return false;
    // Held open until the carrier is done, so that the id stays the server's.
    Handle server(fromNative(openHeldChild(serverProcessId)));
    if (!server || WaitForSingleObject(toNative(server.get()), 0) != WAIT_TIMEOUT) return false;
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) return false;

    std::string commandLine = std::string("\"") + program + "\"";
    std::string environment =
        std::string(kCarrierVariable) + "=" + std::to_string(event) + " " + std::to_string(serverProcessId);
    environment.push_back('\0');  // with the terminating zero of c_str(), the block's end
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, &environment[0],
                        nullptr, &startup, &info)) {
        return false;
    }
    Handle carrier(fromNative(info.hProcess));
    Handle carrierThread(fromNative(info.hThread));
    DWORD code = 1;
    return WaitForSingleObject(info.hProcess, kCarrierWaitMs) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(info.hProcess, &code) && code == 0;
}

bool deliverRequestedControlEvent(int& exitCode) {
    char order[64];
    DWORD length = GetEnvironmentVariableA(kCarrierVariable, order, sizeof order);
    if (length == 0 || length >= sizeof order) return false;
    exitCode = 1;
    unsigned event = 0;
    unsigned long processId = 0;
    if (std::sscanf(order, "%u %lu", &event, &processId) != 2) return true;
    FreeConsole();
    if (!AttachConsole(static_cast<DWORD>(processId))) return true;
    carrierReached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl-C calls the handler below even if inherited off
    SetConsoleCtrlHandler(onCarriedEvent, TRUE);
    // Every process of the console gets the event, this one too: once it has arrived here, it
    // has been sent to all of them.
    if (carrierReached && GenerateConsoleCtrlEvent(event, 0)) {
        WaitForSingleObject(carrierReached, kCarrierWaitMs / 2);
        exitCode = 0;
    }
    FreeConsole();
    return true;
}

void ignoreBrokenPipe() {}

}  // namespace relayon::os
