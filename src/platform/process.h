// OS-independent: child processes with redirected standard handles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace relayon::os {

struct SpawnRequest {
    std::string commandLine;       // Windows: the command line the program gets, its path first
    std::string program;           // full path of the executable found on the command line
                                   // (Windows: started by it, with the whole command line);
                                   // empty: POSIX looks argv[0] up on PATH
    std::vector<std::string> argv; // POSIX: the argument vector, argv[0] naming the program
    std::string workingDirectory;  // empty: the child starts in Relayon's current directory
    unsigned priorityClass = 0;    // creation priority class (platform/priority.h); 0: default
    RawHandle input = kNoHandle;   // the child's standard handles; the child inherits these
    RawHandle output = kNoHandle;  // and nothing else of Relayon's
    RawHandle error = kNoHandle;
};

enum class WaitResult { Exited, Timeout, Failed };

// Makes sure this process's standard input, output and error are open, before anything else
// opens a handle: POSIX opens the null device on each one that is closed, so that no descriptor
// opened later takes its number (a closed input then reads as an ended one). Windows: a missing
// standard handle is null and fails every call already; nothing is done.
void openMissingStandardHandles();

// A Ctrl-C or Break for a process (signals.h), taken from its Process under the lock that guards
// the Process and delivered after, without that lock, since delivering it may take a while.
class ControlEvent {
public:
    ControlEvent();
    ~ControlEvent();
    ControlEvent(ControlEvent&& other) noexcept;
    ControlEvent& operator=(ControlEvent&& other) noexcept;

    // False when the process had ended or the event could not be delivered.
    bool deliver();

    struct Native;  // the platform's state, opaque here

private:
    friend class Process;
    std::unique_ptr<Native> native_;
};

// Keeps the main thread that a Process suspends from staying suspended when Relayon ends without
// resuming it, however Relayon ends (killed too). Taken from the Process under the lock that
// guards it, started after, without that lock, since starting may take a while; it ends when
// dropped. POSIX has nothing to start: the child is continued when its parent ends (spawn,
// Linux). Windows: a helper copy of Relayon waits for Relayon's end and then resumes the
// thread if Relayon had left it suspended.
class SuspensionGuard {
public:
    SuspensionGuard();
    ~SuspensionGuard();
    SuspensionGuard(SuspensionGuard&& other) noexcept;
    SuspensionGuard& operator=(SuspensionGuard&& other) noexcept;

    bool start();  // false when the guard could not be started

    struct Native;

private:
    friend class Process;
    std::unique_ptr<Native> native_;
};

// A started child process. POSIX: the leader of a session and process group of its own,
// without a controlling terminal. Windows: with a console of its own that has no window.
// Dropping it closes Relayon's handles to the process but leaves the process running; on POSIX
// a child dropped before it was reaped is reaped as soon as it ends.
class Process {
public:
    Process();
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts request's program; on success process holds it. Returns 0, or the system's error.
    static int spawn(const SpawnRequest& request, Process& process);

    bool valid() const;
    std::uint32_t id() const;  // 0 when empty

    // Waits up to timeoutMs (-1: no limit) for the process to end; on POSIX it is reaped.
    WaitResult wait(int timeoutMs);
    bool terminate();  // ends the process at once (TerminateProcess, SIGKILL)

    // Ctrl-C or Break for the process's group (signals.h), delivered by ControlEvent::deliver.
    // POSIX signals the group here, while the child is surely not reaped, so that a group id
    // the system may have reused is never signalled. Windows takes a handle of its own to the
    // process, so that its id cannot name another process until the event is delivered.
    ControlEvent takeControlEvent(unsigned event) const;

    // Stops and continues the main thread (POSIX: the whole process, SIGSTOP and SIGCONT).
    bool suspend();
    bool resume();
    // A guard against the main thread staying suspended after Relayon's end (SuspensionGuard).
    SuspensionGuard guardSuspension() const;

    // Priority class of all its threads, and priority level of its main thread; on POSIX the
    // main thread's nice value is the class's plus the level's offset.
    bool setPriorityClass(unsigned priorityClass);
    bool setMainThreadPriority(int level);
    // What the system applied, read back (a class or level it refused or changed shows here);
    // out is left as it is when it cannot be read. POSIX: from the nice values set.
    bool readPriorityClass(unsigned& out) const;
    bool readMainThreadPriority(int& out) const;
    // Windows: enables or disables the dynamic priority boost; POSIX has none (returns true).
    bool setBoost(bool enabled);

    void close();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace relayon::os
