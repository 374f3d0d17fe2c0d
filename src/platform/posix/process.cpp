#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/path.h"
#include "platform/posix/nice.h"
#include "platform/program_path.h"
#include "platform/signals.h"

extern char** environ;

namespace relayon::os {

namespace {

// What a child's watcher thread and its Process share. The watcher alone reaps the child, as
// soon as it ends, also after the Process let go of it, so that no zombie stays behind while
// others still hold the child's output open. It reaps under the lock that every signal to the
// child takes, so that no signal ever reaches a process id the system has given to another.
struct ChildState {
    explicit ChildState(pid_t id) : pid(id) {}
    const pid_t pid;
    std::mutex lock;
    std::condition_variable ended;
    bool reaped = false;

    // Sends the signal to the child while it is not reaped.
    bool signal(int number) {
        std::lock_guard<std::mutex> hold(lock);
        return !reaped && ::kill(pid, number) == 0;
    }

    // Reaps the child when it has ended (without waiting: WNOHANG) or once it ends.
    bool reap(int options) {
        std::lock_guard<std::mutex> hold(lock);
        if (reaped) return true;
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid, &status, options);
        } while (result < 0 && errno == EINTR);
        reaped = result == pid || (result < 0 && errno == ECHILD);
        if (reaped) ended.notify_all();
        return reaped;
    }
};

// The watcher: waits for the child's end without reaping it (so that its id stays taken), then
// reaps it under the lock.
void watchChild(std::shared_ptr<ChildState> child) {
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    child->reap(0);
}

// Tells the parent why the child cannot become the server, and ends the child.
[[noreturn]] void failInChild(int errorPipe, int error) {
    ssize_t ignored = ::write(errorPipe, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

// Gives the child fd the handle, or leaves the fd closed when there is none; false when the
// system refuses.
bool childStandardHandle(int fd, RawHandle handle) {
    if (handle == kNoHandle) {
        ::close(fd);
        return true;
    }
    return ::dup2(static_cast<int>(handle), fd) == fd;  // the copy is not close-on-exec
}

// Closes every descriptor from first up to last (inclusive), also those Relayon inherited
// without close-on-exec from its own parent.
void closeRange(int first, int last) {
    if (first > last) return;
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, first, last, 0) == 0) return;
#endif
    long limit = ::sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    for (int fd = first; fd <= last && fd < limit; ++fd) ::close(fd);
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void runChild(const SpawnRequest& request, const char* program, char* const* argv, int nice,
                           int errorPipe) {
    // Move the three handles above 2 first, so that placing one cannot overwrite another. A
    // server without its standard handles is no server: any refusal fails the start.
    RawHandle handles[3] = {request.input, request.output, request.error};
    for (RawHandle& handle : handles) {
        if (handle == kNoHandle) continue;
        handle = ::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 3);
        if (handle < 0) failInChild(errorPipe, errno);
    }
    for (int fd = 0; fd < 3; ++fd) {
        if (!childStandardHandle(fd, handles[fd])) failInChild(errorPipe, errno);
    }
    // The server gets nothing else; the error pipe stays until the exec closes it.
    closeRange(3, errorPipe - 1);
    closeRange(errorPipe + 1, 0x7fffffff);

    ::setsid();
#ifdef __linux__
    // However Relayon ends, even by SIGKILL, a server it had stopped is continued, so that it
    // can see the end of its input. (The signal also comes when the forking thread ends, which
    // does no harm to a running server.)
    ::prctl(PR_SET_PDEATHSIG, SIGCONT);
#endif
    if (!request.workingDirectory.empty() && ::chdir(request.workingDirectory.c_str()) != 0) {
        failInChild(errorPipe, errno);
    }
    if (nice != kNoNice) ::setpriority(PRIO_PROCESS, 0, nice);

    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM}) ::sigaction(signal, &defaultAction, nullptr);

    ::execve(program, argv, environ);
    failInChild(errorPipe, errno);
}

}  // namespace

struct Process::Native {
    std::shared_ptr<ChildState> child;
    bool watched = false;  // a watcher thread reaps the child
    int classNice = 0;     // nice value of the priority class, for all threads
    int levelOffset = 0;   // added for the main thread

    pid_t pid() const { return child->pid; }
    bool setMainThreadNice() const {
        return ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid()), clampNice(classNice + levelOffset)) == 0;
    }
};

Process::Process() = default;
Process::~Process() = default;
Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept = default;

int Process::spawn(const SpawnRequest& request, Process& process) {
    std::vector<std::string> args = request.argv;
    if (args.empty()) return ENOENT;
    std::string program = request.program;
    if (program.empty() && !searchProgram(args[0], program)) return ENOENT;
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    int nice = niceOfClass(request.priorityClass);
    int inheritedNice = 0;
    threadNice(static_cast<int>(::getpid()), inheritedNice);

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) return errno;
    Handle errorRead(errorPipe[0]);
    Handle errorWrite(errorPipe[1]);

    pid_t pid = ::fork();
    if (pid < 0) return errno;
    if (pid == 0) runChild(request, program.c_str(), argv.data(), nice, errorPipe[1]);

    errorWrite.close();
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(static_cast<int>(errorRead.get()), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {  // the exec failed: the child has ended
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return childError != 0 ? childError : ENOEXEC;
    }

    process.native_.reset(new Native);
    process.native_->child = std::make_shared<ChildState>(pid);
    try {
        std::thread(watchChild, process.native_->child).detach();
        process.native_->watched = true;
    } catch (const std::system_error&) {
        // No watcher: wait() reaps the child, and one dropped while it runs stays a zombie.
    }
    // The child set its class's nice value before the exec that closed the error pipe; a raise
    // it was refused shows in the value read back.
    process.native_->classNice = nice != kNoNice ? nice : inheritedNice;
    threadNice(static_cast<int>(pid), process.native_->classNice);
    return 0;
}

bool Process::valid() const { return native_ != nullptr; }

std::uint32_t Process::id() const { return native_ ? static_cast<std::uint32_t>(native_->pid()) : 0; }

WaitResult Process::wait(int timeoutMs) {
    if (!native_) return WaitResult::Failed;
    ChildState& child = *native_->child;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    if (native_->watched) {
        std::unique_lock<std::mutex> hold(child.lock);
        const auto reaped = [&child] { return child.reaped; };
        if (timeoutMs < 0) {
            child.ended.wait(hold, reaped);
        } else if (!child.ended.wait_until(hold, deadline, reaped)) {
            return WaitResult::Timeout;
        }
        return WaitResult::Exited;
    }
    // Without a watcher, look every few milliseconds.
    while (!child.reap(WNOHANG)) {
        if (timeoutMs >= 0 && Clock::now() >= deadline) return WaitResult::Timeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WaitResult::Exited;
}

// The signal is sent when the event is taken: kill() never waits.
struct ControlEvent::Native {
    bool sent = false;
};

ControlEvent::ControlEvent() = default;
ControlEvent::~ControlEvent() = default;
ControlEvent::ControlEvent(ControlEvent&& other) noexcept = default;
ControlEvent& ControlEvent::operator=(ControlEvent&& other) noexcept = default;

bool ControlEvent::deliver() { return native_ && native_->sent; }

ControlEvent Process::takeControlEvent(unsigned event) const {
    const int number = event == kCtrlCEvent ? SIGINT : (event == kCtrlBreakEvent ? SIGQUIT : 0);
    ControlEvent taken;
    taken.native_.reset(new ControlEvent::Native);
    if (!native_ || number == 0) return taken;
    // A reaped child's group id may already belong to other processes.
    ChildState& child = *native_->child;
    std::lock_guard<std::mutex> hold(child.lock);
    taken.native_->sent = !child.reaped && ::kill(-child.pid, number) == 0;
    return taken;
}

// Nothing to start: the child continues at its parent's death by itself (runChild).
struct SuspensionGuard::Native {};

SuspensionGuard::SuspensionGuard() = default;
SuspensionGuard::~SuspensionGuard() = default;
SuspensionGuard::SuspensionGuard(SuspensionGuard&& other) noexcept = default;
SuspensionGuard& SuspensionGuard::operator=(SuspensionGuard&& other) noexcept = default;

bool SuspensionGuard::start() { return true; }

SuspensionGuard Process::guardSuspension() const { return SuspensionGuard(); }

bool Process::terminate() { return native_ && native_->child->signal(SIGKILL); }

bool Process::suspend() { return native_ && native_->child->signal(SIGSTOP); }

bool Process::resume() { return native_ && native_->child->signal(SIGCONT); }

bool Process::setPriorityClass(unsigned priorityClass) {
    int nice = niceOfClass(priorityClass);
    if (!native_ || nice == kNoNice) return false;
    std::lock_guard<std::mutex> hold(native_->child->lock);  // the id stays the child's meanwhile
    if (native_->child->reaped) return false;
    const int before = native_->classNice;
    native_->classNice = nice;
    std::string tasks = "/proc/" + std::to_string(native_->pid()) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    bool mainDone = dir == nullptr && native_->setMainThreadNice();  // no thread list: the process only
    bool ok = mainDone;
    while (dir != nullptr) {
        dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        int tid = std::atoi(entry->d_name);
        if (tid <= 0) continue;
        if (tid == native_->pid()) {
            mainDone = native_->setMainThreadNice();
            ok = mainDone && ok;
        } else {
            ok = ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0 && ok;
        }
    }
    if (dir != nullptr) ::closedir(dir);
    if (!mainDone) native_->classNice = before;  // refused (raising needs privilege)
    return ok;
}

bool Process::setMainThreadPriority(int level) {
    int offset = niceOffsetOfLevel(level);
    if (!native_ || offset == kNoNice) return false;
    std::lock_guard<std::mutex> hold(native_->child->lock);
    if (native_->child->reaped) return false;
    const int before = native_->levelOffset;
    native_->levelOffset = offset;
    if (native_->setMainThreadNice()) return true;
    native_->levelOffset = before;
    return false;
}

bool Process::readPriorityClass(unsigned& out) const {
    if (!native_) return false;
    out = classOfNice(native_->classNice);
    return true;
}

bool Process::readMainThreadPriority(int& out) const {
    if (!native_) return false;
    out = levelOfNiceOffset(native_->levelOffset);
    return true;
}

void openMissingStandardHandles() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one, unless another thread took it meanwhile.
        int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened > fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

bool Process::setBoost(bool) { return native_ != nullptr; }

void Process::close() { native_.reset(); }

}  // namespace relayon::os
