// OS-independent: console control events (POSIX: the signals that stand for them).
#pragma once

namespace relayon::os {

// Console control events, with the Win32 codes. On POSIX SIGINT is Ctrl-C, SIGQUIT is Break,
// SIGHUP is Close and SIGTERM is Shutdown.
constexpr unsigned kCtrlCEvent = 0;
constexpr unsigned kCtrlBreakEvent = 1;
constexpr unsigned kCtrlCloseEvent = 2;
constexpr unsigned kCtrlLogoffEvent = 5;
constexpr unsigned kCtrlShutdownEvent = 6;

// Called on a thread of its own with the event code; true: handled, Relayon goes on; false: the
// platform's default handling follows, which ends Relayon.
using ControlHandler = bool (*)(unsigned event);

// Installs the handler for the rest of the process's life; false when the system refuses or one
// is already installed. POSIX: blocks the four signals in the calling thread and waits for them
// on a thread of its own, so it must be called before any other thread is started (threads
// started later inherit the blocked set).
bool installControlHandler(ControlHandler handler);

// Makes a write to a pipe whose reader has gone fail instead of ending the process (POSIX:
// SIGPIPE ignored; Windows behaves so already).
void ignoreBrokenPipe();

}  // namespace relayon::os
