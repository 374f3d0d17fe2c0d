#include "platform/signals.h"

#include <atomic>

#include "platform/win32/native.h"

namespace relayon::os {

namespace {

std::atomic<ControlHandler> installedHandler{nullptr};

BOOL WINAPI onControlEvent(DWORD event) { return installedHandler.load()(event) ? TRUE : FALSE; }

}  // namespace

bool installControlHandler(ControlHandler handler) {
    ControlHandler none = nullptr;
    if (handler == nullptr || !installedHandler.compare_exchange_strong(none, handler)) return false;
    if (SetConsoleCtrlHandler(onControlEvent, TRUE)) return true;
    installedHandler = nullptr;
    return false;
}

bool sendControlEvent(std::uint32_t processGroupId, unsigned event) {
    if (processGroupId == 0 || (event != kCtrlCEvent && event != kCtrlBreakEvent)) return false;
    return GenerateConsoleCtrlEvent(event, processGroupId) != FALSE;
}

void ignoreBrokenPipe() {}

}  // namespace relayon::os
