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

// The signals the signal thread waits for: set before it starts, then only read.
sigset_t watchedSignals;

// The control signals whose action is not to ignore them. One that Relayon was started with
// ignored (as by nohup) stays ignored: it is neither blocked nor waited for.
sigset_t controlSignals(int& count) {
    sigset_t set;
    sigemptyset(&set);
    count = 0;
    for (const SignalEvent& entry : kSignals) {
        struct sigaction current = {};
        if (::sigaction(entry.signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&set, entry.signal);
        ++count;
    }
    return set;
}

// The signal thread: lives as long as the process, like a console's control handler.
void* waitForSignals(void*) {
    const sigset_t set = watchedSignals;
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
    int count = 0;
    sigset_t set = controlSignals(count);
    if (count == 0) return true;  // every one ignored: nothing to wait for
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        installedHandler = nullptr;
        return false;
    }
    watchedSignals = set;
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, waitForSignals, nullptr) != 0) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        installedHandler = nullptr;
        return false;
    }
    ::pthread_detach(thread);
    return true;
}

void ignoreBrokenPipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace relayon::os
