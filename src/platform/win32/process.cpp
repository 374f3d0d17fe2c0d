#include "platform/process.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/program_path.h"
#include "platform/signals.h"
#include "platform/win32/native.h"

namespace relayon::os {

namespace {

// A copy of source for this process, with access (0: the same access as source).
Handle duplicate(HANDLE source, DWORD access, BOOL inheritable) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, access, inheritable,
                         access == 0 ? DUPLICATE_SAME_ACCESS : 0)) {
        return Handle();
    }
    return Handle(fromNative(copy));
}

// Inheritable copies of the child's standard handles, alive only while the child is created.
struct InheritableCopies {
    std::vector<Handle> owned;
    std::vector<RawHandle> sources;
    std::vector<HANDLE> list;  // each handle once, for the handle list
    DWORD error = 0;           // the first failure

    HANDLE add(RawHandle handle) {
        if (handle == kNoHandle) return nullptr;
        for (std::size_t i = 0; i < owned.size(); ++i) {
            if (sources[i] == handle) return list[i];
        }
        Handle copy = duplicate(toNative(handle), 0, TRUE);
        if (!copy) {
            if (error == 0) error = GetLastError();
            return nullptr;
        }
        list.push_back(toNative(copy.get()));
        owned.push_back(std::move(copy));
        sources.push_back(handle);
        return list.back();
    }
};

// The directories the system searches for a program named without one, in its order: the one of
// Relayon's program, the current one, the system directory, the 16-bit one, the Windows
// directory, then those of PATH.
std::vector<std::string> searchDirectories() {
    const std::string program = programPath(std::string());
    std::vector<std::string> directories{program.substr(0, program.find_last_of("\\/") + 1), ""};
    char buffer[MAX_PATH];
    UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) directories.emplace_back(buffer, length);
    length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        directories.push_back(std::string(buffer, length) + "\\System");
        directories.emplace_back(buffer, length);
    }
    std::vector<char> path(GetEnvironmentVariableA("PATH", nullptr, 0) + 1);
    path.resize(GetEnvironmentVariableA("PATH", path.data(), static_cast<DWORD>(path.size())));
    directories.emplace_back();
    for (char c : path) {  // entries end at semicolons; quotes around one are dropped
        if (c == ';') {
            directories.emplace_back();
        } else if (c != '"') {
            directories.back() += c;
        }
    }
    return directories;
}

}  // namespace

// Named as program_path.h says, looked at as the native files (fileExists), so that under WOW64 a
// program that exists only in the native system directory is found too; a name with a folder
// in it is looked for there alone, and one that names a directory is none.
bool searchProgram(const std::string& name, std::string& out) {
    if (name.empty()) return false;
    const std::size_t file = name.find_last_of("\\/:");
    const bool extension = name.find('.', file == std::string::npos ? 0 : file) != std::string::npos;
    const std::string word = extension ? name : name + ".exe";
    const std::vector<std::string> directories =
        file == std::string::npos ? searchDirectories() : std::vector<std::string>{""};
    for (std::string directory : directories) {
        if (!directory.empty() && !isPathSeparator(directory.back())) directory += '\\';
        if (fullPath(directory + word, out) && fileExists(out)) return true;
    }
    return false;
}

namespace {

// The program the system would start for a command line whose program Relayon's own search did
// not find: the one its first word (double quotes group it) names.
bool findProgram(const std::string& commandLine, std::string& out) {
    const bool quoted = !commandLine.empty() && commandLine[0] == '"';
    return searchProgram(quoted ? commandLine.substr(1, commandLine.find('"', 1) - 1)
                                : commandLine.substr(0, commandLine.find_first_of(" \t")),
                         out);
}

}  // namespace

InheritedHandles::InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    if (handles_.empty()) return;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    made_ = InitializeProcThreadAttributeList(attributes, 1, 0, &size) != FALSE;
    if (!made_ || !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                             handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
        error_ = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_FUNCTION;
    }
}

InheritedHandles::~InheritedHandles() {
    if (made_) DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()));
}

LPPROC_THREAD_ATTRIBUTE_LIST InheritedHandles::list() {
    return made_ && error_ == 0 ? reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()) : nullptr;
}

struct Process::Native {
    Handle process;
    Handle thread;
    DWORD processId = 0;
    Handle suspended;  // an event set while the main thread is suspended, for a SuspensionGuard
};

Process::Process() = default;
Process::~Process() = default;
Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept = default;

int Process::spawn(const SpawnRequest& request, Process& process) {
    // The system may write into the command line, so it gets a writable copy.
    std::vector<char> commandLine(request.commandLine.begin(), request.commandLine.end());
    commandLine.push_back('\0');

    InheritableCopies copies;
    STARTUPINFOEXA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = copies.add(request.input);
    startup.StartupInfo.hStdOutput = copies.add(request.output);
    startup.StartupInfo.hStdError = copies.add(request.error);
    if (copies.error != 0) return static_cast<int>(copies.error);

    // Only the handles in this list are inherited, whatever else is inheritable in Relayon.
    InheritedHandles inherited(copies.list);
    if (inherited.error() != 0) return static_cast<int>(inherited.error());
    startup.lpAttributeList = inherited.list();
    // The server gets a console of its own that has no window, so that control events can be
    // delivered into it (signals.cpp); a new process group would ignore Ctrl-C.
    DWORD flags = request.priorityClass | CREATE_NO_WINDOW;
    if (startup.lpAttributeList != nullptr) flags |= EXTENDED_STARTUPINFO_PRESENT;

    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    const char* directory = request.workingDirectory.empty() ? nullptr : request.workingDirectory.c_str();
    // The system's own search for the program would try "C:\Srv.exe" before "C:\Srv Dir\srv.exe",
    // and under WOW64 would find a 32-bit copy, or nothing, in place of a native system program:
    // the program is started by its full path, as the native file. Where neither search finds
    // it, the system's own search still has its say.
    std::string application = request.program;
    if (application.empty()) findProgram(request.commandLine, application);
    if (!application.empty()) application = nativePath(application);
    if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr, nullptr,
                        startup.lpAttributeList != nullptr, flags, nullptr, directory, &startup.StartupInfo, &info)) {
        return GetLastError() != 0 ? static_cast<int>(GetLastError()) : ERROR_INVALID_FUNCTION;
    }
    process.native_.reset(new Native);
    process.native_->process.reset(fromNative(info.hProcess));
    process.native_->thread.reset(fromNative(info.hThread));
    process.native_->processId = info.dwProcessId;
    process.native_->suspended.reset(fromNative(CreateEventA(nullptr, TRUE, FALSE, nullptr)));
    return 0;
}

bool Process::valid() const { return native_ != nullptr; }

std::uint32_t Process::id() const { return native_ ? native_->processId : 0; }

WaitResult Process::wait(int timeoutMs) {
    if (!native_) return WaitResult::Failed;
    DWORD result = WaitForSingleObject(toNative(native_->process.get()),
                                       timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (result == WAIT_OBJECT_0) return WaitResult::Exited;
    return result == WAIT_TIMEOUT ? WaitResult::Timeout : WaitResult::Failed;
}

bool Process::terminate() {
    return native_ && TerminateProcess(toNative(native_->process.get()), 0) != FALSE;
}

struct ControlEvent::Native {
    Handle server;  // keeps the server's id from being given to another process
    DWORD serverId = 0;
    unsigned event = 0;
};

ControlEvent::ControlEvent() = default;
ControlEvent::~ControlEvent() = default;
ControlEvent::ControlEvent(ControlEvent&& other) noexcept = default;
ControlEvent& ControlEvent::operator=(ControlEvent&& other) noexcept = default;

bool ControlEvent::deliver() {
    return native_ && native_->server && (native_->event == kCtrlCEvent || native_->event == kCtrlBreakEvent) &&
           carryControlEvent(toNative(native_->server.get()), native_->serverId, native_->event);
}

ControlEvent Process::takeControlEvent(unsigned event) const {
    ControlEvent taken;
    if (!native_) return taken;
    taken.native_.reset(new ControlEvent::Native);
    taken.native_->server = duplicate(toNative(native_->process.get()), SYNCHRONIZE, FALSE);
    taken.native_->serverId = native_->processId;
    taken.native_->event = event;
    return taken;
}

// The event is set before the thread is suspended and reset after it is resumed: a watcher never
// misses a suspension that Relayon left, and at worst resumes a thread Relayon was about to
// suspend or had just resumed, which changes nothing unless another program suspended it too.
bool Process::suspend() {
    if (!native_) return false;
    SetEvent(toNative(native_->suspended.get()));
    return SuspendThread(toNative(native_->thread.get())) != static_cast<DWORD>(-1);
}

bool Process::resume() {
    if (!native_) return false;
    const bool resumed = ResumeThread(toNative(native_->thread.get())) != static_cast<DWORD>(-1);
    ResetEvent(toNative(native_->suspended.get()));
    return resumed;
}

// Inheritable copies for the watcher until it has started, then the watcher itself.
struct SuspensionGuard::Native {
    Handle relayon, server, thread, suspended;
    Handle watcher;

    ~Native() {
        if (!watcher) return;
        TerminateProcess(toNative(watcher.get()), 0);
        WaitForSingleObject(toNative(watcher.get()), kHelperEndWaitMs);
    }
};

SuspensionGuard::SuspensionGuard() = default;
SuspensionGuard::~SuspensionGuard() = default;
SuspensionGuard::SuspensionGuard(SuspensionGuard&& other) noexcept = default;
SuspensionGuard& SuspensionGuard::operator=(SuspensionGuard&& other) noexcept = default;

bool SuspensionGuard::start() {
    if (!native_ || native_->watcher) return true;  // no process to guard, or guarded already
    Native& n = *native_;
    if (!n.relayon || !n.server || !n.thread || !n.suspended) return false;
    std::string order = "watch";
    std::vector<HANDLE> handles;
    for (const Handle* handle : {&n.relayon, &n.server, &n.thread, &n.suspended}) {
        order += " " + std::to_string(HandleToULong(toNative(handle->get())));
        handles.push_back(toNative(handle->get()));
    }
    if (startHelper(order, handles, n.watcher) != 0) return false;
    for (Handle* handle : {&n.relayon, &n.server, &n.thread, &n.suspended}) handle->close();  // the watcher's now
    return true;
}

SuspensionGuard Process::guardSuspension() const {
    SuspensionGuard guard;
    if (!native_) return guard;
    guard.native_.reset(new SuspensionGuard::Native);
    guard.native_->relayon = duplicate(GetCurrentProcess(), SYNCHRONIZE, TRUE);
    guard.native_->server = duplicate(toNative(native_->process.get()), SYNCHRONIZE, TRUE);
    guard.native_->thread = duplicate(toNative(native_->thread.get()), THREAD_SUSPEND_RESUME, TRUE);
    guard.native_->suspended = duplicate(toNative(native_->suspended.get()), SYNCHRONIZE, TRUE);
    return guard;
}

int resumeWhenLeftSuspended(HANDLE relayon, HANDLE server, HANDLE thread, HANDLE suspended) {
    HANDLE ends[] = {relayon, server};
    if (WaitForMultipleObjects(2, ends, FALSE, INFINITE) == WAIT_OBJECT_0 &&
        WaitForSingleObject(suspended, 0) == WAIT_OBJECT_0) {
        ResumeThread(thread);
    }
    return 0;
}

bool Process::setPriorityClass(unsigned priorityClass) {
    return native_ && SetPriorityClass(toNative(native_->process.get()), priorityClass) != FALSE;
}

bool Process::setMainThreadPriority(int level) {
    return native_ && SetThreadPriority(toNative(native_->thread.get()), level) != FALSE;
}

bool Process::readPriorityClass(unsigned& out) const {
    DWORD value = native_ ? GetPriorityClass(toNative(native_->process.get())) : 0;
    if (value == 0) return false;
    out = value;
    return true;
}

bool Process::readMainThreadPriority(int& out) const {
    int value = native_ ? GetThreadPriority(toNative(native_->thread.get())) : THREAD_PRIORITY_ERROR_RETURN;
    if (value == THREAD_PRIORITY_ERROR_RETURN) return false;
    out = value;
    return true;
}

void openMissingStandardHandles() {}

bool Process::setBoost(bool enabled) {
    if (!native_) return false;
    BOOL disable = enabled ? FALSE : TRUE;
    bool processDone = SetProcessPriorityBoost(toNative(native_->process.get()), disable) != FALSE;
    bool threadDone = SetThreadPriorityBoost(toNative(native_->thread.get()), disable) != FALSE;
    return processDone && threadDone;
}

void Process::close() { native_.reset(); }

}  // namespace relayon::os
