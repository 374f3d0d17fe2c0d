// OS-independent: the server child process, its pipes, priorities, boost and throttling.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/handle.h"
#include "platform/io.h"
#include "platform/process.h"
#include "process/event.h"

namespace relayon {

// Command lines of this many characters or more are refused.
constexpr std::size_t kMaxCommandLine = 260;

// How long a stop waits for the server to end once its input is closed.
constexpr int kStopWaitMs = 5000;

// Where the server's executable is: the longest prefix of the command line, cut at blanks and
// control characters from the right, that names an existing file (os::fileExists), with the
// platform's executable suffix (".exe") added where it is missing.
struct ServerProgram {
    std::string path;       // its full path
    std::string directory;  // the directory of path, ending with its separator
    std::string arguments;  // the command line after the prefix
};
bool findServerProgram(const std::string& commandLine, ServerProgram& out);

// The program a start of commandLine runs: findServerProgram's, else the existing program the
// system finds for its first word (os::searchProgram), whose directory is then left empty: it
// runs in Relayon's current directory.
bool locateServerProgram(const std::string& commandLine, ServerProgram& out);

// The words of a command line, cut at blanks and control characters; double quotes group words
// and are dropped. The argument vector a POSIX server is started with.
std::vector<std::string> splitArguments(const std::string& text);

// The throttle cycle for a processor share in percent; suspendMs is 0 when there is none.
struct ThrottleCycle {
    int runMs;
    int suspendMs;
};
ThrottleCycle throttleCycle(double percent);

// What followOwnPriorities copied to the server.
struct PriorityChanges {
    bool priorityClass = false;
    bool threadPriority = false;
};

// The server child process. Its standard input, output and error are pipes held by this object;
// the server inherits nothing else of Relayon's. start and stop are called by one thread, the
// owner of the server's life; the other operations may be called from any thread.
class ServerProcess {
public:
    // Takes Relayon's own priority class and the calling thread's priority as the server's.
    ServerProcess();
    ~ServerProcess();  // stop(false)
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts the server in its executable's directory with the stored priority class, thread
    // priority and boost; returns its process id, or 0. A command line of kMaxCommandLine
    // characters or more, and a start while a server is held, are refused with 0 and change
    // nothing. A failed start leaves nothing open, and startError() says why.
    std::uint32_t start(const std::string& commandLine);
    // The system's error code of the last failed start; 0 after a success or a refused start.
    int startError() const { return startError_; }

    // Ends throttling with the server running, closes the server's input, and waits up to
    // 5000 ms for it to end; when hard, a server still running then is killed. A server that
    // does not end is otherwise left running, without its pipes. Afterwards no server is held.
    // False when a server is left running.
    bool stop(bool hard);

    // For an end of Relayon that skips the shutdown (an unhandled control event): continues a
    // suspended server and keeps the throttle from suspending it again. The server's input stays
    // open until Relayon's end closes it, so that the server cannot end first and Relayon with
    // it, as if the event had not come. Does not wait; safe on the control handler's thread.
    void releaseForExit();

    bool running() const;
    // The last server's process id, kept after a stop; 0 before the first start.
    std::uint32_t processId() const { return processId_; }

    // Sends Ctrl-C or Break to the server's process group, only while a server is held: the id
    // of a server that is gone may already name other processes. Any thread.
    bool sendControlEvent(unsigned event);

    // Writes the bytes to the server's input in one write; false when there is no server or the
    // write fails. Safe against a stop on another thread: the pipe end is closed only when the
    // last writer lets go of it.
    bool writeInput(const char* data, std::size_t size);

    // The read end of the server's output pipe (standard output and error), shared: a stop drops
    // only this object's reference, so a reader keeps its handle open until it lets go. Null
    // when no server is held.
    std::shared_ptr<os::Handle> outputReader() const;

    // Priorities and boost: applied to a running server, and stored for every later start.
    void applyPriorityClass(unsigned value);
    void applyThreadPriority(int value);
    void applyBoost(bool enabled);
    unsigned priorityClass() const;
    int threadPriority() const;
    bool boost() const;

    // Stops and continues the server's main thread (POSIX: the whole server).
    void suspendServer();
    void resumeServer();

    // Starts, retunes or ends throttling: the server runs percent per cent of each cycle; 100 or
    // more, 0 or less, end it.
    void setCpuPower(double percent);

    // Copies Relayon's own priority class and thread priority to the server where they differ
    // from the stored ones. Main thread only.
    PriorityChanges followOwnPriorities();

private:
    void throttleLoop();

    std::mutex throttleLock_;   // held while the throttle thread is started or ended
    mutable std::mutex stateLock_;  // held briefly around the fields below, never across a wait

    os::Process process_;
    std::shared_ptr<os::Handle> outputRead_;
    std::shared_ptr<os::Handle> inputWrite_;
    os::Output input_;  // how inputWrite_ is written
    unsigned priorityClass_;
    int threadPriority_;
    bool boost_ = true;
    bool suspended_ = false;
    bool exiting_ = false;  // set by releaseForExit: no more suspending

    std::atomic<std::uint32_t> processId_{0};
    std::atomic<int> startError_{0};
    std::atomic<int> runMs_{0};
    std::atomic<int> suspendMs_{0};
    Event throttleStop_;
    std::thread throttleThread_;
};

}  // namespace relayon
