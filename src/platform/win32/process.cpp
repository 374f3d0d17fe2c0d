#include "platform/process.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/path.h"
#include "platform/program_path.h"
#include "platform/signals.h"
#include "platform/win32/native.h"

namespace relayon::os {

namespace {

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
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), toNative(handle), GetCurrentProcess(), &copy, 0, TRUE,
                             DUPLICATE_SAME_ACCESS)) {
            if (error == 0) error = GetLastError();
            return nullptr;
        }
        owned.emplace_back(fromNative(copy));
        sources.push_back(handle);
        list.push_back(copy);
        return copy;
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

// The program the system would start for a command line whose program Relayon's own search did
// not find: its first word (double quotes group it), with ".exe" where its name has no
// extension, as it is when it names a directory, else from the first directory that the system
// searches and that holds it. Looked at as the native files (fileExists), so that under WOW64 a
// program that exists only in the native system directory is found too.
bool findProgram(const std::string& commandLine, std::string& out) {
    const bool quoted = !commandLine.empty() && commandLine[0] == '"';
    std::string word = quoted ? commandLine.substr(1, commandLine.find('"', 1) - 1)
                              : commandLine.substr(0, commandLine.find_first_of(" \t"));
    if (word.empty()) return false;
    const std::size_t name = word.find_last_of("\\/:");
    if (word.find('.', name == std::string::npos ? 0 : name) == std::string::npos) word += ".exe";
    const std::vector<std::string> directories =
        name == std::string::npos ? searchDirectories() : std::vector<std::string>{""};
    for (std::string directory : directories) {
        if (!directory.empty() && !isPathSeparator(directory.back())) directory += '\\';
        if (fullPath(directory + word, out) && fileExists(out)) return true;
    }
    return false;
}

// The processes that a Process holds, by id, so that a control event is only ever delivered
// to a server Relayon still holds (whose id cannot have been reused meanwhile).
std::mutex childrenLock;
std::map<DWORD, HANDLE> children;

}  // namespace

HANDLE openHeldChild(DWORD processId) {
    std::lock_guard<std::mutex> guard(childrenLock);
    auto found = children.find(processId);
    HANDLE copy = nullptr;
    if (found != children.end() &&
        !DuplicateHandle(GetCurrentProcess(), found->second, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        copy = nullptr;
    }
    return copy;
}

struct Process::Native {
    Handle process;
    Handle thread;
    DWORD processId = 0;

    ~Native() {
        std::lock_guard<std::mutex> guard(childrenLock);
        children.erase(processId);
    }
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
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return static_cast<int>(GetLastError());
    // The server gets a console of its own that has no window, so that control events can be
    // delivered into it (sendControlEvent); a new process group would ignore Ctrl-C.
    DWORD flags = request.priorityClass | CREATE_NO_WINDOW;
    BOOL inherit = FALSE;
    if (!copies.list.empty()) {
        if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, copies.list.data(),
                                       copies.list.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DWORD error = GetLastError();
            DeleteProcThreadAttributeList(attributes);
            return static_cast<int>(error);
        }
        startup.lpAttributeList = attributes;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        inherit = TRUE;
    }

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
    BOOL created = CreateProcessA(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr,
                                  nullptr, inherit, flags, nullptr, directory, &startup.StartupInfo, &info);
    DWORD error = created ? 0 : GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!created) return error != 0 ? static_cast<int>(error) : ERROR_INVALID_FUNCTION;

    process.native_.reset(new Native);
    process.native_->process.reset(fromNative(info.hProcess));
    process.native_->thread.reset(fromNative(info.hThread));
    process.native_->processId = info.dwProcessId;
    std::lock_guard<std::mutex> guard(childrenLock);
    children[info.dwProcessId] = info.hProcess;
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

bool Process::sendControlEvent(unsigned event) {
    // The process handle held here keeps the id from being reused.
    return native_ && os::sendControlEvent(native_->processId, event);
}

bool Process::suspend() {
    return native_ && SuspendThread(toNative(native_->thread.get())) != static_cast<DWORD>(-1);
}

bool Process::resume() {
    return native_ && ResumeThread(toNative(native_->thread.get())) != static_cast<DWORD>(-1);
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
