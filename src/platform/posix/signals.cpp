#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>

namespace relayon::os {

namespace {

struct SignalEvent {
    int signal;
    unsigned event;
};

const SignalEvent kSignals[] = {
    {SIGINT, kCtrlCEvent},
    {SIGQUIT, kCtrlBreakEvent},
    {SIGHUP, kCtrlCloseEvent},
    {SIGTERM, kCtrlShutdownEvent},
};

std::atomic<ControlHandler> installedHandler{nullptr};

sigset_t controlSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const SignalEvent& entry : kSignals) sigaddset(&set, entry.signal);
    return set;
}

// The signal thread: lives as long as the process, like a console's control handler.
void* waitForSignals(void*) {
    const sigset_t set = controlSignals();
    for (;;) {
        int received = 0;
        if (::sigwait(&set, &received) != 0) continue;
        unsigned event = kCtrlCEvent;
        for (const SignalEvent& entry : kSignals) {
            if (entry.signal == received) event = entry.event;
        }
        if (installedHandler.load()(event)) continue;
        // Not handled: the signal's default action, as if no handler were there.
        struct sigaction defaultAction = {};
        defaultAction.sa_handler = SIG_DFL;
        ::sigaction(received, &defaultAction, nullptr);
        sigset_t just;
        sigemptyset(&just);
        sigaddset(&just, received);
        ::kill(::getpid(), received);
        ::pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
    }
    return nullptr;
}

}  // namespace

bool installControlHandler(ControlHandler handler) {
    ControlHandler none = nullptr;
    if (handler == nullptr || !installedHandler.compare_exchange_strong(none, handler)) return false;
    sigset_t set = controlSignals();
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        installedHandler = nullptr;
        return false;
    }
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, waitForSignals, nullptr) != 0) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        installedHandler = nullptr;
        return false;
    }
    ::pthread_detach(thread);
    return true;
}

bool sendControlEvent(std::uint32_t processGroupId, unsigned event) {
    if (processGroupId == 0) return false;
    int signal = event == kCtrlCEvent ? SIGINT : (event == kCtrlBreakEvent ? SIGQUIT : 0);
    if (signal == 0) return false;
    return ::kill(-static_cast<pid_t>(processGroupId), signal) == 0;
}

bool deliverRequestedControlEvent(int&) { return false; }

bool raiseControlEvent(unsigned event) {
    for (const SignalEvent& entry : kSignals) {
        if (entry.event == event) return ::kill(::getpid(), entry.signal) == 0;
    }
    return false;
}

void ignoreBrokenPipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace relayon::os
